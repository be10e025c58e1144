// The keyboard's terminal, as the pause, the key check, the discard and the
// way out see it.
#pragma once

#include <time.h>

#include "platform/posix/console_ops.h"

namespace anykey {

// While the wait modes hold, pauses by watching the keyboard, so that a
// quiet pause needs no look of its own afterwards. Returns what is still to
// be slept of the pause: nothing after a quiet pause; the rest when input, a
// hang-up or a signal came early, so that the check still follows a whole
// pause; the whole pause at any other time.
timespec PauseWatchingKeyboard(DWORD milliseconds);

// The way out: blocks every signal for good, then puts back the modes the
// terminal had before the wait, if the program's own wait modes are still
// there. Nothing sets them again before the process ends.
void LeaveTerminal();

}  // namespace anykey
