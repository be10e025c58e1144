// The terminal's modes and who owns them: the state behind the key check,
// shared by the main flow and the signal handlers. The rules it keeps are
// at the top of modes.cpp.
#pragma once

#include <signal.h>

#include "platform/posix/keyboard.h"

namespace anykey {

// The main flow's side.

// Found at the first call, when the signal handlers are installed too.
const Keyboard& OpenKeyboard();
// Whether the program's own wait modes hold: set by itself in the
// foreground, with no sign since that anyone else had the terminal.
bool HoldsTerminal();
// In the foreground, reads the modes to put back and sets the wait modes;
// true when they hold. Refused, and false, in the background.
bool TakeTerminal();
// The background check's way of giving the terminal back.
void GiveBackTerminal();
// The last way out: nothing sets the wait modes again.
void EndOfRun();
// The main flow's own terminal calls run between these, with every signal
// blocked but SIGTTOU.
sigset_t BeginOwnCall();
void EndOwnCall(const sigset_t& before);

// The handlers' side, each called with every signal blocked.

// Puts back the saved modes if the wait modes are still the program's own.
void PutBackModes();
// A SIGTTOU now is the system refusing the program's own call.
bool InOwnCall();
// Stopped and continued: someone else may have had the terminal.
void MarkContinued();
// An end by signal begins, or (when the signal's default turned out to be
// "go on") is called off.
void MarkEnding(bool ending);

}  // namespace anykey
