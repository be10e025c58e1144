#include "program/prompt.h"

#include <gtest/gtest.h>

#include <csetjmp>

#include "fake_platform.h"

namespace {

// Outside the loop over the rows, which a longjmp would clobber.
std::vector<std::string> RunProgram(const ConsoleCalls& row) {
  fake::console = row;
  if (setjmp(fake::exit_jump) == 0) ProgramEntry();
  return fake::console.calls;
}

// The whole run, call by call, as ExpectedRun has it.
TEST(ProgramEntry, RunsThePromptSequenceInOrder) {
  for (const ConsoleCalls& row : PromptRuns) {
    EXPECT_EQ(RunProgram(row), ExpectedRun(row.checks_before_key))
        << "checks " << row.checks_before_key << ", write limit " << row.write_limit;
  }
}

}  // namespace
