// On Windows the operations are the system's own imports.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <conio.h>
#include <windows.h>

namespace anykey {
using ::BOOL;
using ::DWORD;
using ::HANDLE;
using ::UINT;

using ::_kbhit;
using ::ExitProcess;
using ::FlushConsoleInputBuffer;
using ::GetStdHandle;
using ::Sleep;
using ::WriteFile;
}  // namespace anykey
