// What the terminal suite's tests share: the program's launch with files of
// the run's own, and tables whose rows are run again while their premise
// does not hold.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "pty_session.h"

const std::string Prompt("Press any key to end polling\r\n");
const std::string PromptOnScreen(
    "Press any key to end polling\r\r\n");  // the terminal adds CR to LF

using Clock = std::chrono::steady_clock;

// Pieces meant to arrive within one poll interval of the one before, with
// room for the program's own read: a busier machine types them further
// apart, and such a run says nothing about the row.
constexpr std::chrono::milliseconds Close(8);

// The program, its output and error in files of the given row's own.
inline Launch ProgramLaunch(int row) {
  Launch launch;
  launch.argv = {ANYKEY_BINARY};
  const std::string files = ::testing::TempDir() + "anykey-terminal-" + std::to_string(row);
  launch.out_path = files + ".out";
  launch.err_path = files + ".err";
  launch.in_path = files + ".in";
  return launch;
}

// Runs each row, up to three times while its premise does not hold: RUN
// says why not, or returns an empty text once the row is judged. A row
// that never had its premise is reported as a skip, with why.
template <typename Row, size_t count, typename Run>
void RunRows(const Row (&rows)[count], const Run& run) {
  std::string skipped;
  for (size_t index = 0; index < count; ++index) {
    SCOPED_TRACE(rows[index].name);
    std::string unmet;
    for (int runs = 1; runs <= 3 && (runs == 1 || !unmet.empty()); ++runs) {
      unmet = run(rows[index], static_cast<int>(index));
    }
    if (!unmet.empty()) skipped += std::string("\n") + rows[index].name + ": " + unmet;
  }
  if (!skipped.empty() && !::testing::Test::HasFailure()) {
    GTEST_SKIP() << "the machine was too busy for some rows, three runs each:" << skipped;
  }
  if (!skipped.empty()) std::printf("rows not judged, the machine too busy:%s\n", skipped.c_str());
}
