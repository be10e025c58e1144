#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "console/text_output.h"
#include "fake_platform.h"
#include "program/message_block.h"

namespace {

using anykey::DWORD;

// Every length 0..64 at every start offset 0..3, in storage that ends
// exactly TextScanSlack bytes after the terminator, so that the sanitizer
// catches a read one byte further. The text uses every byte value 0x01..0xFF;
// the slack holds 0x01, which looks like "almost zero" to the scan.
TEST(TextLength, MatchesStrlenForEveryLengthAndOffset) {
  for (DWORD offset = 0; offset < 4; ++offset) {
    for (DWORD length = 0; length <= 64; ++length) {
      const DWORD size = offset + length + 1 + anykey::TextScanSlack;
      const auto storage = std::make_unique<char[]>(size);
      std::memset(storage.get(), 0x01, size);
      char* text = storage.get() + offset;
      for (DWORD i = 0; i < length; ++i) {
        text[i] = static_cast<char>(0x80 + (i * 37 + offset * 11) % 0x80);
        if (i % 5 == 4) text[i] = static_cast<char>(1 + (i * 97) % 0x7F);
      }
      text[length] = '\0';
      ASSERT_EQ(std::strlen(text), length);
      EXPECT_EQ(anykey::TextLength(text), length) << "offset " << offset;
    }
  }
}

TEST(TextLength, MeasuresTheMessageBlockTexts) {
  EXPECT_EQ(anykey::TextLength(anykey::PromptText), 28U);
  EXPECT_EQ(anykey::TextLength(anykey::LineBreakText), 2U);
  EXPECT_EQ(std::string(anykey::MessageBlock, anykey::MessageSize),
            std::string("Press any key to end polling\0\r\n", 32));
}

// One write of the whole text, to the handle fetched anew on every call.
TEST(PrintText, WritesOnceAndReturnsTheReportedCount) {
  struct Row {
    const char* text;
    long write_limit;
    DWORD returned;
    std::string write;
  };
  const Row rows[] = {
      {"abc", 1L << 30, 3, "WriteFile(h11, \"abc\", 3)"},
      {"", 1L << 30, 0, "WriteFile(h11, \"\", 0)"},
      {"abcdef", 2, 2, "WriteFile(h11, \"abcdef\", 6)"},
      {"abc", -1, 0, "WriteFile(h11, \"abc\", 3)"},
  };
  for (const Row& row : rows) {
    fake::console = {0, row.write_limit};
    char storage[16] = {};
    std::strcpy(storage, row.text);
    for (int call = 0; call < 2; ++call) {
      EXPECT_EQ(anykey::PrintText(storage), row.returned) << row.text;
    }
    const std::vector<std::string> calls = {"GetStdHandle(-11)", row.write, "GetStdHandle(-11)",
                                            row.write};
    EXPECT_EQ(fake::console.calls, calls) << row.text;
  }
}

}  // namespace
