// The key table: which bytes are one keystroke (more: false) and which a
// burst still arriving. The unit test checks each row; the fuzz test starts
// from them.
#pragma once

#include <string_view>

struct KeystrokeRow {
  const char* name;
  std::string_view bytes;
  bool more;
};

inline constexpr KeystrokeRow KeystrokeRows[] = {
    {"a key", "k", false},
    {"two keys", "ab", true},
    {"a lone Escape, perhaps a sequence's start", "\x1b", true},
    {"Alt+Esc", "\x1b\x1b", false},
    {"Alt+Up", "\x1b\x1b[A", false},
    {"Escape, then a key", "\x1b\x1bx", true},
    {"an arrow", "\x1b[A", false},
    {"an arrow and a key", "\x1b[Ax", true},
    {"F5, its end still coming", "\x1b[15", true},
    {"the Linux console's F1", "\x1b[[A", false},
    {"an X10 mouse report", "\x1b[M !!", false},
    {"an X10 mouse report cut short", "\x1b[M !", true},
    {"Alt with a UTF-8 character", "\x1b\xc3\xa9", false},
    {"a character cut short", "\xe2\x82", true},
    {"e and a combining accent", "e\xcc\x81", false},
    {"a thumb with a skin tone", "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd", false},
    {"a flag", "\xf0\x9f\x87\xab\xf0\x9f\x87\xb7", false},
    {"two flags", "\xf0\x9f\x87\xab\xf0\x9f\x87\xb7\xf0\x9f\x87\xab\xf0\x9f\x87\xb7", true},
    {"a family joined", "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7",
     false},
    {"a joiner at the end", "\xf0\x9f\x91\xa8\xe2\x80\x8d", true},
    {"a bracketed paste's start marker alone", "\x1b[200~", true},
    {"a whole bracketed paste", "\x1b[200~x\x1b[201~", true},
};
