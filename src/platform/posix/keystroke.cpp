// Keystrokes in the bytes a terminal sends. A keystroke is a byte, a UTF-8
// character with the marks and joiners that make it one symbol on the key
// (an accent, a skin tone, a flag, a joined emoji), an escape sequence, or
// Alt with any of those (Escape first).
#include "platform/posix/keystroke.h"

namespace anykey {
namespace {

constexpr unsigned char Escape = 0x1b;
constexpr uint64_t SixBytes = 0xffffffffffffULL;
constexpr uint64_t PasteStart = 0x1b5b3230307eULL;  // ESC [ 2 0 0 ~
constexpr uint64_t PasteEnd = 0x1b5b3230317eULL;    // ESC [ 2 0 1 ~
constexpr uint32_t Joiner = 0x200d;

// The length of the UTF-8 character at bytes (a stray byte counts alone),
// its code point in *point; 0 when it is cut short.
size_t CharLength(const unsigned char* bytes, size_t count, uint32_t* point) {
  const unsigned char first = bytes[0];
  size_t length = 1;
  *point = first;
  if (first >= 0xc0 && first < 0xf8) {
    length = first >= 0xf0 ? 4 : first >= 0xe0 ? 3 : 2;
    *point = first & (0x7fU >> length);
  }
  for (size_t i = 1; i < length; ++i) {
    if (i == count) {
      return 0;
    }
    if ((bytes[i] & 0xc0) != 0x80) {
      return i;  // a stray lead byte counts alone
    }
    *point = *point << 6 | (bytes[i] & 0x3fU);
  }
  return length;
}

bool IsRegionalIndicator(uint32_t point) { return point >= 0x1f1e6 && point <= 0x1f1ff; }

// Marks that belong to the character before them.
bool Extends(uint32_t point) {
  return (point >= 0x300 && point <= 0x36f) || (point >= 0x20d0 && point <= 0x20ff) ||
         (point >= 0xfe00 && point <= 0xfe0f) || (point >= 0x1f3fb && point <= 0x1f3ff) ||
         (point >= 0xe0020 && point <= 0xe007f) || (point >= 0xe0100 && point <= 0xe01ef) ||
         point == Joiner;
}

// One symbol: a character and what joins it; 0 when it is cut short, which a
// joiner at the end is (the next character belongs to it).
size_t SymbolLength(const unsigned char* bytes, size_t count) {
  uint32_t before = 0;
  size_t at = CharLength(bytes, count, &before);
  bool pair_open = IsRegionalIndicator(before);
  while (at != 0 && at < count) {
    uint32_t point = 0;
    const size_t length = CharLength(bytes + at, count - at, &point);
    if (length == 0) {
      return 0;  // part of this symbol or the next keystroke: more either way
    }
    if (before != Joiner && !Extends(point) && !(pair_open && IsRegionalIndicator(point))) {
      return at;
    }
    pair_open = !pair_open && IsRegionalIndicator(point) && before != Joiner;
    before = point;
    at += length;
  }
  return before == Joiner ? 0 : at;
}

// An escape sequence at bytes, count >= 2: ESC [ parameters final (the
// Linux console's F1-F5 are ESC [ [ letter; a mouse report ESC [ M and three
// bytes), ESC O key, or Alt with a key.
size_t SequenceLength(const unsigned char* bytes, size_t count) {
  if (bytes[1] == 'O') {
    return count < 3 ? 0 : 3;
  }
  if (bytes[1] == Escape) {
    return 2;  // Alt+Esc
  }
  if (bytes[1] != '[') {
    const size_t rest = SymbolLength(bytes + 1, count - 1);
    return rest == 0 ? 0 : rest + 1;
  }
  if (count > 2 && (bytes[2] == '[' || bytes[2] == 'M')) {
    const size_t length = bytes[2] == '[' ? 4 : 6;
    return count < length ? 0 : length;
  }
  for (size_t i = 2; i < count; ++i) {
    if (bytes[i] >= 0x40 && bytes[i] <= 0x7e) {
      return i + 1;  // the final byte
    }
    if (bytes[i] < 0x20 || bytes[i] > 0x3f) {
      return i;  // not a sequence after all: it ends before this byte
    }
  }
  return 0;
}

size_t KeyLength(const unsigned char* bytes, size_t count) {
  if (bytes[0] != Escape) {
    return SymbolLength(bytes, count);
  }
  if (count < 2) {
    return 0;
  }
  // Alt with a key that is a sequence itself: Escape, then the sequence.
  if (bytes[1] == Escape && count > 2 && (bytes[2] == '[' || bytes[2] == 'O')) {
    const size_t rest = SequenceLength(bytes + 1, count - 1);
    return rest == 0 ? 0 : rest + 1;
  }
  return SequenceLength(bytes, count);
}

}  // namespace

bool MoreIsComing(const unsigned char* bytes, size_t count, size_t room) {
  PasteMarkers markers;
  markers.See(bytes, count);
  if (count >= room || markers.open) {
    return true;
  }
  size_t keys = 0;
  for (size_t at = 0; at < count; ++keys) {
    const size_t length = KeyLength(bytes + at, count - at);
    if (length == 0 || keys == 1) {
      return true;
    }
    at += length;
  }
  return false;
}

void PasteMarkers::See(const unsigned char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    last = (last << 8 | bytes[i]) & SixBytes;
    if (last == PasteStart || last == PasteEnd) {
      open = last == PasteStart;
    }
  }
}

}  // namespace anykey
