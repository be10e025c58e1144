#include "program/prompt.h"

#include "console/key_wait.h"
#include "console/text_output.h"
#include "program/message_block.h"

namespace anykey {

void RunPrompt() {
  // Two writes: the line, then its break. The counts do not matter here;
  // a failed write changes nothing about the wait.
  PrintText(PromptText);
  PrintText(LineBreakText);
  WaitForKey();
}

}  // namespace anykey

extern "C" void ProgramEntry() {
  anykey::RunPrompt();
  anykey::ExitProcess(0);
}
