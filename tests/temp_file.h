// A file of the test run's own for the given row of a table.
#pragma once

#include <gtest/gtest.h>

#include <string>

inline std::string Temp(int row, const char* suffix) {
  return ::testing::TempDir() + "anykey-terminal-" + std::to_string(row) + suffix;
}
