// Which bytes are one keystroke, and which a burst still arriving.
#include "platform/posix/keystroke.h"

#include <gtest/gtest.h>

#include <string>

#include "keystroke_rows.h"

namespace {

TEST(Keystroke, TellsOneKeyFromABurst) {
  for (const auto& row : KeystrokeRows) {
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
