// The signal handlers: every way out of the wait that a signal takes puts
// the terminal's modes back first.
#pragma once

#include <signal.h>

namespace anykey {

// Installs the handlers, once the keyboard is known. A signal ignored at
// start stays ignored.
void HandleSignals();
// Asks for SIGIO when input comes on fd, a description of the program's
// own; false where the system cannot, or SIGIO was ignored or blocked at
// start: then input is looked for at every check.
bool SignalInput(int fd);
// Blocks every signal (but SIGTTOU, when asked); returns the mask before.
sigset_t BlockSignals(bool but_ttou);

}  // namespace anykey
