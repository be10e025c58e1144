#include "console/text_output.h"

#include <stdint.h>

namespace anykey {
namespace {

// Assembled byte by byte so that the read is the same on any byte order and
// any alignment; compilers fold it into one unaligned 32-bit load.
uint32_t LittleEndianWord(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8U |
         static_cast<uint32_t>(bytes[2]) << 16U | static_cast<uint32_t>(bytes[3]) << 24U;
}

}  // namespace

DWORD TextLength(const char* text) {
  const auto* start = reinterpret_cast<const unsigned char*>(text);
  // Offsets rather than a cursor pointer: the cursor would step past the
  // end of the storage, which a pointer may not do.
  DWORD end = 0;
  uint32_t flags = 0;
  do {
    const uint32_t word = LittleEndianWord(start + end);
    end += 4;
    // Sets bit 7 of the group's first zero byte; bytes before it stay clear.
    flags = (word - 0x01010101U) & ~word & 0x80808080U;
  } while (flags == 0);
  if ((flags & 0x8080U) == 0) {  // the zero is in the second pair
    flags >>= 16U;
    end += 2;
  }
  const DWORD first_of_pair = (flags >> 7U) & 1U;
  return end - 3 - first_of_pair;
}

DWORD PrintText(const char* text) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const DWORD length = TextLength(text);
  DWORD written = 0;  // stays 0 if the write fails before filling it in
  WriteFile(output, text, length, &written, nullptr);
  return written;
}

}  // namespace anykey
