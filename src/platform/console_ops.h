// The six console operations the program asks of the system, under their
// Windows names and with their Windows meaning. On Windows they are the
// kernel32.dll and msvcrt.dll functions themselves; elsewhere the POSIX layer
// gives them the same meaning on a terminal.
//
//   GetStdHandle(STD_OUTPUT_HANDLE | STD_INPUT_HANDLE)  the process's handle
//   WriteFile(handle, data, size, &written, nullptr)     one synchronous write;
//                                                       stores the bytes written
//   Sleep(milliseconds)                                 suspends the thread
//   _kbhit()                                            nonzero when a keystroke
//                                                       is waiting in the console
//   FlushConsoleInputBuffer(handle)                     discards pending console
//                                                       input; fails unless the
//                                                       handle is the console's
//   ExitProcess(code)                                   ends the process
#pragma once

#if defined(_WIN32)
#include "platform/win/console_ops.h"
#else
#include "platform/posix/console_ops.h"
#endif
