#include "console/key_wait.h"

namespace anykey {

void WaitForKey() {
  // Pausing before every check, the first one included, keeps the wait off
  // the processor.
  do {
    Sleep(PollInterval);
  } while (_kbhit() == 0);
  // The handle is fetched only now: standard input may have changed while
  // we waited. When it is not the console the discard fails, and the keys
  // stay where they are.
  FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

}  // namespace anykey
