// The controlling terminal, as the key check and the discard see it.
#pragma once

namespace anykey {

// The way out: blocks every signal for good, then puts back the modes the
// terminal had before the wait, if the program's own wait modes are still
// there. Nothing sets them again before the process ends.
void LeaveTerminal();

}  // namespace anykey
