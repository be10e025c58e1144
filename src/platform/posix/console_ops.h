// The Windows console operations on a POSIX terminal. A handle is a file
// descriptor; the console is the keyboard's terminal (see keyboard.h).
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
// Writes all of the data, going on after a signal, a short count or a
// descriptor left non-blocking; fails only for a final reason (a reader
// gone, a file at its size limit, a closed descriptor, a device error), with
// what was written in *written. A reader that has gone does not kill the
// process.
BOOL WriteFile(HANDLE file, const void* data, DWORD size, DWORD* written, OVERLAPPED* overlapped);
// Sleeps the whole interval, also when a signal or a key interrupts it.
void Sleep(DWORD milliseconds);
// Watches the keyboard's terminal (also when stdin is redirected) without
// reading from it. In the foreground it puts the terminal into the wait
// modes: no canonical input, no echo, signal characters still working. Always
// 0 in the background and when the process has no terminal at all.
int _kbhit();
// Discards pending input, with the rest of a burst still arriving, when the
// handle is the keyboard's terminal; fails without effect on anything else.
BOOL FlushConsoleInputBuffer(HANDLE input);
// Puts the terminal's modes back as they were found, then ends the process.
[[noreturn]] void ExitProcess(UINT code);
}  // namespace anykey
