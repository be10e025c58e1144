// The Windows console operations on a POSIX terminal. A handle is a file
// descriptor; the console is the process's controlling terminal.
#pragma once

#include <stdint.h>

namespace anykey {
using BOOL = int;
using DWORD = uint32_t;
using UINT = unsigned int;
using HANDLE = int;
struct OVERLAPPED;

constexpr DWORD STD_INPUT_HANDLE = static_cast<DWORD>(-10);
constexpr DWORD STD_OUTPUT_HANDLE = static_cast<DWORD>(-11);
constexpr DWORD STD_ERROR_HANDLE = static_cast<DWORD>(-12);
constexpr HANDLE INVALID_HANDLE_VALUE = -1;

HANDLE GetStdHandle(DWORD which);
// One write(2), never continued; a reader that has gone does not kill the process.
BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* overlapped);
// Sleeps the whole interval, also when a signal interrupts it.
void Sleep(DWORD milliseconds);
// Watches the controlling terminal (also when stdin is redirected) without
// reading from it. In the foreground it puts the terminal into the wait
// modes: no canonical input, no echo, signal characters still working. Always
// 0 in the background and when the process has no controlling terminal.
int _kbhit();
// Discards pending input when the handle is the controlling terminal; fails
// without effect on anything else.
BOOL FlushConsoleInputBuffer(HANDLE input);
// Puts the terminal's modes back as they were found, then ends the process.
[[noreturn]] void ExitProcess(UINT code);
}  // namespace anykey
