// The Windows images' own machine code, run in a CPU emulator: the 32-bit
// image cannot be executed on this kernel, but its instructions can.
#include <gtest/gtest.h>

#include "pe_emulator.h"

namespace {

TEST(EmulatedImage, RunsThePromptSequenceInOrder) {
  // The 64-bit image also where it may be loaded at random: above 4 GiB, far
  // from its preferred base, as high-entropy randomisation may place it.
  const std::pair<const char*, std::uint64_t> images[] = {
      {WIN32_EXE, 0}, {WIN64_EXE, 0}, {WIN64_EXE, 0x7ff6a1230000}};
  for (const auto& [image, load_base] : images) {
    for (const ConsoleCalls& row : PromptRuns) {
      SCOPED_TRACE(std::string(image) + ", checks " + std::to_string(row.checks_before_key) +
                   ", write limit " + std::to_string(row.write_limit) + ", base " +
                   std::to_string(load_base));
      ConsoleCalls console = row;
      EXPECT_EQ(RunImage(image, console, load_base), "");
      EXPECT_EQ(console.calls, ExpectedRun(row.checks_before_key));
    }
  }
}

}  // namespace
