// Loads a Windows console image into the Unicorn CPU emulator and runs it
// from its entry point, every import answered by the recording stand-in.
#pragma once

#include <cstdint>
#include <string>

#include "console_calls.h"

// Returns "" when the image ran to ExitProcess, or what went wrong. With a
// load_base, the image is mapped there instead of at its preferred base, as
// a loader does when that base is taken or randomised.
std::string RunImage(const std::string& path, ConsoleCalls& console, std::uint64_t load_base = 0);
