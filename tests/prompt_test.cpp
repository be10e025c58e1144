#include <gtest/gtest.h>

#include <csetjmp>
#include <string>
#include <vector>

#include "expected_run.h"
#include "fake_platform.h"
#include "program/prompt.h"

namespace {

std::vector<std::string> RunProgram(int checks_before_key, long write_limit) {
  fake::Reset();
  fake::checks_before_key = checks_before_key;
  fake::write_limit = write_limit;
  if (setjmp(fake::exit_jump) == 0) {
    ProgramEntry();
  }
  return fake::calls;
}

// The whole run, call by call: prompt, line break, a pause before every
// check, the discard on the input handle, exit code 0. Failed and short
// writes change nothing that follows.
TEST(ProgramEntry, RunsThePromptSequenceInOrder) {
  struct Row {
    int checks_before_key;
    long write_limit;
  };
  for (const Row row : {Row{0, 1L << 30}, Row{1, 1L << 30}, Row{3, 5}, Row{2, 0}, Row{0, -1}}) {
    EXPECT_EQ(RunProgram(row.checks_before_key, row.write_limit),
              ExpectedRun(row.checks_before_key))
        << "checks " << row.checks_before_key << ", write limit " << row.write_limit;
  }
}

}  // namespace
