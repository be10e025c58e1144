// The controlling terminal, as the key check and the discard see it.
#pragma once

namespace anykey {

// Puts back the modes the terminal had before the wait changed them; does
// nothing if they were never changed. Safe to call from a signal handler.
void RestoreTerminal();

}  // namespace anykey
