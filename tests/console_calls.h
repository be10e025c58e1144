// The recording stand-in for the six console operations: the unit tests'
// platform and the emulator's imports both answer with it, so that one run's
// calls read the same from either, one line per call, as ExpectedRun has them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

struct ConsoleCalls {
  // _kbhit answers 0 checks_before_key times, then 1; WriteFile reports at
  // most write_limit bytes written, and fails for -1.
  ConsoleCalls(int checks = 0, long limit = 1L << 30)
      : checks_before_key(checks), write_limit(limit) {}
  int checks_before_key;
  long write_limit;
  std::vector<std::string> calls;

  // Handles are the negated stream numbers: h11 for output, h10 for input.
  std::uint32_t GetStdHandle(std::int32_t which) {
    calls.push_back("GetStdHandle(" + std::to_string(which) + ")");
    return static_cast<std::uint32_t>(-which);
  }
  // The count reported written, or -1 for a failed write.
  long WriteFile(std::uint32_t handle, const std::string& bytes, bool overlapped) {
    calls.push_back("WriteFile(h" + std::to_string(handle) + ", \"" + bytes + "\", " +
                    std::to_string(bytes.size()) + (overlapped ? ", overlapped)" : ")"));
    return std::min(static_cast<long>(bytes.size()), write_limit);
  }
  void Sleep(std::uint32_t milliseconds) {
    calls.push_back("Sleep(" + std::to_string(milliseconds) + ")");
  }
  int Kbhit() {
    const int hit = checks_before_key-- > 0 ? 0 : 1;
    calls.push_back("_kbhit()=" + std::to_string(hit));
    return hit;
  }
  int FlushConsoleInputBuffer(std::uint32_t handle) {
    calls.push_back("FlushConsoleInputBuffer(h" + std::to_string(handle) + ")");
    return 1;
  }
  void ExitProcess(std::uint32_t code) {
    calls.push_back("ExitProcess(" + std::to_string(code) + ")");
  }
};

// The runs each stand-in drives the program through: the key after so many
// checks; whole, short, empty and failed writes.
inline const ConsoleCalls PromptRuns[] = {{0}, {1}, {3, 5}, {2, 0}, {0, -1}};

// The calls of one whole run, in order: the prompt, the line break, a pause
// before every check, the discard on the input handle, exit code 0. Failed
// and short writes change nothing that follows.
inline std::vector<std::string> ExpectedRun(int checks_before_key) {
  std::vector<std::string> calls = {"GetStdHandle(-11)",
                                    "WriteFile(h11, \"Press any key to end polling\", 28)",
                                    "GetStdHandle(-11)", "WriteFile(h11, \"\r\n\", 2)"};
  for (int i = 0; i < checks_before_key; ++i)
    calls.insert(calls.end(), {"Sleep(10)", "_kbhit()=0"});
  calls.insert(calls.end(), {"Sleep(10)", "_kbhit()=1", "GetStdHandle(-10)",
                             "FlushConsoleInputBuffer(h10)", "ExitProcess(0)"});
  return calls;
}
