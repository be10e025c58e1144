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
// At start-up, before anything is written: in the foreground, the wait modes.
void TakeKeyboard();
// Whether the wait modes that the program set are on the terminal, as far as
// the signals it has seen tell. Cheap; every write checks the evidence.
bool HoldsTerminal();
// The key check: 1 when a key waits, or when no key can come: the terminal
// has hung up, or, with no terminal at all, the other ends of the standard
// streams are gone. In the foreground it sets the wait modes where they are
// not on the terminal; in the background it gives the terminal back.
int CheckKeyboard();
// Whether the wait ended without a key.
bool EndedWithoutKey();
// The same for a discard that goes on: whether the program still holds the
// terminal, or holds it again after a stop and a continue in the foreground.
enum class Hold { Lost, Held, Again };
Hold KeepTerminal();
// The last way out: puts the modes back; nothing sets them again.
void EndOfRun();
// The main flow's own terminal calls run between these, with every signal
// blocked but SIGTTOU.
sigset_t BeginOwnCall();
void EndOwnCall(const sigset_t& before);

// The handlers' side, each called with every signal blocked.

// Puts back the fields that the program changed and that still hold the
// values it set, where the rules let it write.
void PutBackModes();
// A SIGTTOU now is the system refusing the program's own call.
bool InOwnCall();
// A stop, or a continue: someone else may have had the terminal.
void MarkStopped();
void MarkContinued();
// Input came on the keyboard's terminal.
void MarkInput();
// An end by signal begins, or (when the signal's default turned out to be
// "go on") is called off.
void MarkEnding(bool ending);

}  // namespace anykey
