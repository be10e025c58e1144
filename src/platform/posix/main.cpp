// The C runtime's start-up calls main; the program takes nothing from it.
// Before the program's own entry point runs, the terminal is readied, as a
// console is ready before a Windows program starts: no key typed once the
// prompt shows is echoed.
#include "platform/posix/terminal.h"
#include "program/prompt.h"

int main() {
  anykey::EnterTerminal();
  ProgramEntry();
}
