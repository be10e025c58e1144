// Waiting for a keystroke in the console.
#pragma once

#include "platform/console_ops.h"

namespace anykey {

// The pause before every keystroke check, in milliseconds.
inline constexpr DWORD PollInterval = 10;

// Returns once a keystroke is waiting, after discarding all pending console
// input. Never returns without one.
void WaitForKey();

}  // namespace anykey
