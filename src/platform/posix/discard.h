// Discarding what is pending on the keyboard's terminal, with the rest of a
// burst that is still arriving.
#pragma once

#include <stddef.h>

namespace anykey {

// Whether the bytes read so far look like more is coming: more than one
// keystroke, a keystroke cut short (an escape sequence or a UTF-8 character
// without its end), or a buffer too full to tell.
bool MoreIsComing(const unsigned char* bytes, size_t count, size_t room);

// Discards the pending input of the terminal on fd. When may_read (the wait
// modes hold, so a read returns what is there without waiting for a line),
// it first reads what is pending to judge it; if that looks like part of a
// burst (a paste, a sequence arriving in pieces), it goes on discarding until
// the terminal has been quiet for a poll interval, a second at most.
bool DiscardInput(int fd, bool may_read);

}  // namespace anykey
