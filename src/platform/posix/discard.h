// Discarding what is pending on the keyboard's terminal, with the rest of a
// burst that is still arriving.
#pragma once

namespace anykey {

// Discards the pending input of the terminal on fd. When may_read (the wait
// modes hold, so a read returns what is there without waiting for a line),
// it reads what is pending to judge it; if that looks like part of a burst
// (a paste, a sequence arriving in pieces), it goes on discarding until the
// terminal has been quiet for a poll interval, or a bracketed paste has
// ended, a second at most. A stop does not end it: it goes on once the
// program is back in the foreground.
bool DiscardInput(int fd, bool may_read);

}  // namespace anykey
