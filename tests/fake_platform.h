// A stand-in for the console operations that records every call, for the
// unit tests of the program and the console routines.
#pragma once

#include <csetjmp>
#include <string>
#include <vector>

namespace fake {

// Each call as one readable line, e.g. "WriteFile(h11, \"ab\", 2)".
extern std::vector<std::string> calls;
// _kbhit answers 0 this many times, then 1.
extern int checks_before_key;
// WriteFile stores at most this many bytes as written; -1 makes it fail.
extern long write_limit;
// ExitProcess jumps here.
extern std::jmp_buf exit_jump;

void Reset();

}  // namespace fake
