// The signal handlers: every way out of the wait that a signal takes puts
// the terminal's modes back first.
#pragma once

#include <signal.h>

namespace anykey {

// Installs the handlers, once the keyboard is known. A signal ignored at
// start stays ignored.
void HandleSignals();
// Blocks every signal (but SIGTTOU, when asked); returns the mask before.
sigset_t BlockSignals(bool but_ttou);

}  // namespace anykey
