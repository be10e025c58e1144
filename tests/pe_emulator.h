// Loads a Windows console image into the Unicorn CPU emulator and runs it
// from its entry point, with every import answered by a stand-in that
// records the call and answers as the console would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct EmulatedRun {
  std::string error;               // empty when the image ran to ExitProcess
  std::vector<std::string> calls;  // as the unit tests' stand-in writes them
};

// _kbhit answers 0 checks_before_key times, then 1; WriteFile reports at
// most write_limit bytes written. With a load_base, the image is mapped
// there instead of at its preferred base, its base relocations applied, as
// a loader does when that base is taken or randomised.
EmulatedRun RunImage(const std::string& path, int checks_before_key, unsigned write_limit,
                     std::uint64_t load_base = 0);
