// The keyboard's terminal, as the start-up and the way out see it.
#pragma once

namespace anykey {

// Before anything is written: finds the keyboard and, in the foreground,
// sets the wait modes, so that no key typed once the prompt shows is echoed
// or taken by the terminal's line editing.
void EnterTerminal();

// The way out: blocks every signal for good, then puts back the fields of
// the terminal's modes that the program changed and that still hold its
// values. Nothing sets them again before the process ends.
void LeaveTerminal();

// The status of a run that ends as after a key, when the wait ended because
// no key can come (the terminal hung up, or the caller is gone): what a
// shell shows for a death by SIGHUP, so that a script takes it as a hang-up
// and never as a key.
constexpr int NoKeyStatus = 129;

}  // namespace anykey
