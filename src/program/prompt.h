// The sequence the program exists to run, and its entry point.
#pragma once

namespace anykey {

// Writes the prompt line, waits for a keystroke, and returns.
void RunPrompt();

}  // namespace anykey

// The process starts here: the prompt, then exit code 0. On Windows this is
// the image's entry point, with no runtime start-up in front of it.
extern "C" [[noreturn]] void ProgramEntry();
