// The console operations on the keyboard's terminal: the key check and the
// discard. Who owns the terminal's modes, and when they are set and put
// back, is decided in modes.cpp.
#include "platform/posix/terminal.h"

#include "platform/posix/console_ops.h"
#include "platform/posix/discard.h"
#include "platform/posix/modes.h"

namespace anykey {

void EnterTerminal() { TakeKeyboard(); }

void LeaveTerminal() { EndOfRun(); }

int _kbhit() { return CheckKeyboard(); }

BOOL FlushConsoleInputBuffer(HANDLE input) {
  // Only the keyboard's own terminal is the console: anything else keeps its
  // input, as a handle that is not the console does on Windows.
  if (!IsTheConsole(input, OpenKeyboard())) {
    return 0;
  }
  return DiscardInput(input, HoldsTerminal()) ? 1 : 0;
}

}  // namespace anykey
