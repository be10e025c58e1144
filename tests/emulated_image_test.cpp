// The Windows images' own machine code, run in a CPU emulator: the 32-bit
// image cannot be executed on this kernel, but its instructions can.
#include <gtest/gtest.h>

#include "expected_run.h"
#include "pe_emulator.h"

namespace {

TEST(EmulatedImage, RunsThePromptSequenceInOrder) {
  struct Row {
    const char* image;
    int checks_before_key;
    unsigned write_limit;  // a short count changes nothing that follows
  };
  const Row rows[] = {
      {WIN32_EXE, 0, 1000}, {WIN32_EXE, 3, 1000}, {WIN32_EXE, 2, 5},
      {WIN64_EXE, 0, 1000}, {WIN64_EXE, 2, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.image) + ", checks " + std::to_string(row.checks_before_key) +
                 ", write limit " + std::to_string(row.write_limit));
    const EmulatedRun run = RunImage(row.image, row.checks_before_key, row.write_limit);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.calls, ExpectedRun(row.checks_before_key));
  }
}

}  // namespace
