#include "fake_platform.h"

#include "platform/console_ops.h"

namespace fake {
ConsoleCalls console;
std::jmp_buf exit_jump;
}  // namespace fake

namespace anykey {

HANDLE GetStdHandle(DWORD which) {
  return static_cast<HANDLE>(fake::console.GetStdHandle(static_cast<std::int32_t>(which)));
}

BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* overlapped) {
  const long count = fake::console.WriteFile(static_cast<std::uint32_t>(file),
                                             std::string(static_cast<const char*>(data), size),
                                             overlapped != nullptr);
  if (count >= 0) *written = static_cast<DWORD>(count);
  return count >= 0;
}

void Sleep(DWORD milliseconds) { fake::console.Sleep(milliseconds); }

int _kbhit() { return fake::console.Kbhit(); }

BOOL FlushConsoleInputBuffer(HANDLE input) {
  return fake::console.FlushConsoleInputBuffer(static_cast<std::uint32_t>(input));
}

void ExitProcess(UINT code) {
  fake::console.ExitProcess(code);
  std::longjmp(fake::exit_jump, 1);
}

}  // namespace anykey
