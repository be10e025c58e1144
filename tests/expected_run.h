// The calls of one whole run, in order, as the stand-in platforms record
// them: the prompt, the line break, a pause before every check, the discard
// on the input handle, exit code 0.
#pragma once

#include <string>
#include <vector>

inline std::vector<std::string> ExpectedRun(int checks_before_key) {
  std::vector<std::string> calls = {"GetStdHandle(-11)",
                                    "WriteFile(h11, \"Press any key to end polling\", 28)",
                                    "GetStdHandle(-11)", "WriteFile(h11, \"\r\n\", 2)"};
  for (int i = 0; i < checks_before_key; ++i)
    calls.insert(calls.end(), {"Sleep(10)", "_kbhit()=0"});
  calls.insert(calls.end(), {"Sleep(10)", "_kbhit()=1", "GetStdHandle(-10)",
                             "FlushConsoleInputBuffer(h10)", "ExitProcess(0)"});
  return calls;
}
