// Writing a zero-terminated text to standard output.
#pragma once

#include "platform/console_ops.h"

namespace anykey {

// TextLength reads whole four-byte groups from a text's first byte, so the
// group holding the terminator can reach up to this many bytes past it. Every
// text given to TextLength or PrintText must sit in storage that stays
// readable for that many bytes after its terminator.
inline constexpr DWORD TextScanSlack = 3;

// The number of bytes before the first zero byte, found four bytes per step.
DWORD TextLength(const char* text);

// Writes the text, without its terminator, to standard output in one write
// and returns the count the write reported. A short or failed write is not
// continued.
DWORD PrintText(const char* text);

}  // namespace anykey
