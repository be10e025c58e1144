// What one keystroke is in the bytes a terminal sends, and whether what has
// been read so far is a burst that goes on arriving.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace anykey {

// Whether the bytes read so far look like more is coming: more than one
// keystroke, a keystroke cut short (an escape sequence or a character
// without its end; a lone Escape, which only waiting can tell from the start
// of a sequence), a bracketed paste without its end, or a buffer too full to
// tell.
bool MoreIsComing(const unsigned char* bytes, size_t count, size_t room);

// Follows a bracketed paste's markers, ESC [ 200 ~ and ESC [ 201 ~, across
// the reads of a burst: open from its start marker to its end marker.
struct PasteMarkers {
  uint64_t last = 0;  // the last six bytes seen, the newest lowest
  bool open = false;
  void See(const unsigned char* bytes, size_t count);
};

}  // namespace anykey
