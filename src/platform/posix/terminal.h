// The keyboard's terminal, as the pause, the key check, the discard and the
// way out see it.
#pragma once

#include "platform/posix/console_ops.h"

namespace anykey {

// While the wait modes hold, pauses by watching the keyboard, so that a
// quiet pause needs no look of its own afterwards; input that comes early
// does not shorten the pause. false, without pausing, at any other time.
bool PauseWatchingKeyboard(DWORD milliseconds);

// The way out: blocks every signal for good, then puts back the modes the
// terminal had before the wait, if the program's own wait modes are still
// there. Nothing sets them again before the process ends.
void LeaveTerminal();

}  // namespace anykey
