// The console operations answered by the recording stand-in, for the unit
// tests of the program and the console routines.
#pragma once

#include <csetjmp>

#include "console_calls.h"

namespace fake {

extern ConsoleCalls console;    // set afresh before each run
extern std::jmp_buf exit_jump;  // where ExitProcess jumps

}  // namespace fake
