// The reader of what a terminal sends, fed any bytes under the sanitizers.
// Besides no fault: the paste markers end in the same state however the
// bytes are cut into reads, and a keystroke followed by another key is a
// burst. The first run writes the key table's rows into the corpus folder
// as seeds.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <iterator>
#include <string>

#include "keystroke_rows.h"
#include "platform/posix/keystroke.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  const char* corpus = (*argv)[*argc - 1];
  for (size_t row = 0; *argc > 1 && corpus[0] != '-' && row < std::size(KeystrokeRows); ++row) {
    const std::string path = std::string(corpus) + "/row" + std::to_string(row);
    FILE* seed = fopen(path.c_str(), "wb");
    if (seed == nullptr) break;
    fwrite(KeystrokeRows[row].bytes.data(), 1, KeystrokeRows[row].bytes.size(), seed);
    fclose(seed);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // As the discard reads: up to 64 bytes, with one more for the key after.
  unsigned char bytes[65];
  const size_t count = size < 64 ? size : 64;
  memcpy(bytes, data, count);
  anykey::PasteMarkers whole;
  whole.See(bytes, count);
  // Reads of 1 to 4 bytes, their lengths taken from the bytes themselves.
  anykey::PasteMarkers pieces;
  for (size_t at = 0, length = 0; at < count; at += length) {
    length = 1 + (bytes[at] + at) % 4;
    length = length < count - at ? length : count - at;
    pieces.See(bytes + at, length);
  }
  if (pieces.open != whole.open || pieces.last != whole.last) abort();
  if (!anykey::MoreIsComing(bytes, count, sizeof bytes) && count > 0) {
    bytes[count] = 'k';
    if (!anykey::MoreIsComing(bytes, count + 1, sizeof bytes)) abort();
  }
  return 0;
}
