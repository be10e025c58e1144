#include "fake_platform.h"

#include <algorithm>

#include "console_calls.h"
#include "platform/console_ops.h"

namespace fake {
std::vector<std::string> calls;
int checks_before_key = 0;
long write_limit = 1L << 30;
std::jmp_buf exit_jump;

void Reset() {
  calls.clear();
  checks_before_key = 0;
  write_limit = 1L << 30;
}
}  // namespace fake

namespace anykey {

// Handles are the negated stream numbers: 11 for output, 10 for input.
HANDLE GetStdHandle(DWORD which) {
  fake::calls.push_back(console_calls::GetStdHandle(static_cast<std::int32_t>(which)));
  return -static_cast<int>(which);
}

BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* overlapped) {
  fake::calls.push_back(console_calls::WriteFile(static_cast<std::uint32_t>(file),
                                                 std::string(static_cast<const char*>(data), size),
                                                 overlapped != nullptr));
  if (fake::write_limit < 0) {
    return 0;
  }
  *written = static_cast<DWORD>(std::min<long>(size, fake::write_limit));
  return 1;
}

void Sleep(DWORD milliseconds) { fake::calls.push_back(console_calls::Sleep(milliseconds)); }

int _kbhit() {
  const int hit = console_calls::KbhitAnswer(fake::checks_before_key);
  fake::calls.push_back(console_calls::Kbhit(hit));
  return hit;
}

BOOL FlushConsoleInputBuffer(HANDLE input) {
  fake::calls.push_back(console_calls::FlushConsoleInputBuffer(static_cast<std::uint32_t>(input)));
  return 1;
}

void ExitProcess(UINT code) {
  fake::calls.push_back(console_calls::ExitProcess(code));
  std::longjmp(fake::exit_jump, 1);
}

}  // namespace anykey
