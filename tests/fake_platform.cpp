#include "fake_platform.h"

#include <algorithm>

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

// Handles name the standard stream they stand for: h11 for output, h10 for input.
HANDLE GetStdHandle(DWORD which) {
  const int handle = -static_cast<int>(which);
  fake::calls.push_back("GetStdHandle(-" + std::to_string(handle) + ")");
  return handle;
}

BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* overlapped) {
  const std::string bytes(static_cast<const char*>(data), size);
  fake::calls.push_back("WriteFile(h" + std::to_string(file) + ", \"" + bytes + "\", " +
                        std::to_string(size) + (overlapped != nullptr ? ", overlapped)" : ")"));
  if (fake::write_limit < 0) {
    return 0;
  }
  *written = static_cast<DWORD>(std::min<long>(size, fake::write_limit));
  return 1;
}

void Sleep(DWORD milliseconds) {
  fake::calls.push_back("Sleep(" + std::to_string(milliseconds) + ")");
}

int _kbhit() {
  const int hit = fake::checks_before_key-- > 0 ? 0 : 1;
  fake::calls.push_back("_kbhit()=" + std::to_string(hit));
  return hit;
}

BOOL FlushConsoleInputBuffer(HANDLE input) {
  fake::calls.push_back("FlushConsoleInputBuffer(h" + std::to_string(input) + ")");
  return 1;
}

void ExitProcess(UINT code) {
  fake::calls.push_back("ExitProcess(" + std::to_string(code) + ")");
  std::longjmp(fake::exit_jump, 1);
}

}  // namespace anykey
