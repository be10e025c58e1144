// The Windows images' own machine code, run in a CPU emulator: the 32-bit
// image cannot be executed on this kernel, but its instructions can.
#include <gtest/gtest.h>

#include "expected_run.h"
#include "pe_emulator.h"

namespace {

TEST(EmulatedImage, RunsThePromptSequenceInOrder) {
  // Where the 64-bit image may be loaded at random: above 4 GiB, far from
  // its preferred base, as high-entropy randomisation may place it.
  constexpr std::uint64_t Elsewhere = 0x7ff6a1230000;
  struct Row {
    const char* image;
    int checks_before_key;
    unsigned write_limit;     // a short count changes nothing that follows
    std::uint64_t load_base;  // 0: the image's own
  };
  const Row rows[] = {
      {WIN32_EXE, 0, 1000, 0}, {WIN32_EXE, 3, 1000, 0}, {WIN32_EXE, 2, 5, 0},
      {WIN64_EXE, 0, 1000, 0}, {WIN64_EXE, 2, 0, 0},    {WIN64_EXE, 1, 1000, Elsewhere},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.image) + ", checks " + std::to_string(row.checks_before_key) +
                 ", write limit " + std::to_string(row.write_limit) + ", base " +
                 std::to_string(row.load_base));
    const EmulatedRun run =
        RunImage(row.image, row.checks_before_key, row.write_limit, row.load_base);
    EXPECT_EQ(run.error, "");
    EXPECT_EQ(run.calls, ExpectedRun(row.checks_before_key));
  }
}

}  // namespace
