// Which bytes are one keystroke, and which a burst still arriving.
#include "platform/posix/keystroke.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Keystroke, TellsOneKeyFromABurst) {
  const struct {
    const char* name;
    std::string bytes;
    bool more;
  } cases[] = {
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
      {"a family joined",
       "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7", false},
      {"a joiner at the end", "\xf0\x9f\x91\xa8\xe2\x80\x8d", true},
      {"a bracketed paste's start marker alone", "\x1b[200~", true},
      {"a whole bracketed paste", "\x1b[200~x\x1b[201~", true},
  };
  for (const auto& row : cases) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(row.bytes.data());
    EXPECT_EQ(anykey::MoreIsComing(bytes, row.bytes.size(), 64), row.more) << row.name;
  }
  const std::string full(64, 'k');
  EXPECT_TRUE(anykey::MoreIsComing(reinterpret_cast<const unsigned char*>(full.data()), 64, 64));
}

TEST(Keystroke, FollowsAPasteAcrossReads) {
  anykey::PasteMarkers markers;
  const std::string reads[] = {"\x1b[20", "0~text\x1b", "[201", "~"};
  const bool open[] = {false, true, true, false};
  for (int i = 0; i < 4; ++i) {
    markers.See(reinterpret_cast<const unsigned char*>(reads[i].data()), reads[i].size());
    EXPECT_EQ(markers.open, open[i]) << "after read " << i;
  }
}

}  // namespace
