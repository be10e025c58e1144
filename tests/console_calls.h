// What a recording stand-in for the six console operations writes and
// answers: one readable line per call, e.g. "WriteFile(h11, \"ab\", 2)".
// The unit tests' stand-in and the emulator's imports share it, so that
// expected_run.h holds for both.
#pragma once

#include <cstdint>
#include <string>

namespace console_calls {

// Handles name the standard stream they stand for: h11 for output, h10 for input.
inline std::string Handle(std::uint32_t handle) { return "h" + std::to_string(handle); }

inline std::string GetStdHandle(std::int32_t which) {
  return "GetStdHandle(" + std::to_string(which) + ")";
}

inline std::string WriteFile(std::uint32_t handle, const std::string& bytes, bool overlapped) {
  return "WriteFile(" + Handle(handle) + ", \"" + bytes + "\", " + std::to_string(bytes.size()) +
         (overlapped ? ", overlapped)" : ")");
}

inline std::string Sleep(std::uint32_t milliseconds) {
  return "Sleep(" + std::to_string(milliseconds) + ")";
}

// _kbhit answers 0 while checks_before_key counts down, then 1.
inline int KbhitAnswer(int& checks_before_key) { return checks_before_key-- > 0 ? 0 : 1; }
inline std::string Kbhit(int hit) { return "_kbhit()=" + std::to_string(hit); }

inline std::string FlushConsoleInputBuffer(std::uint32_t handle) {
  return "FlushConsoleInputBuffer(" + Handle(handle) + ")";
}

inline std::string ExitProcess(std::uint32_t code) {
  return "ExitProcess(" + std::to_string(code) + ")";
}

}  // namespace console_calls
