// Reads a Windows image's headers, sections and imports from its bytes: what the image checks judge
// and the emulator loads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PeSection {
  std::string name;
  std::uint32_t address = 0, raw_size = 0, raw_at = 0, flags = 0;
};

struct PeImport {
  std::string name;         // the function's, or "#N" for one imported by number
  std::uint32_t entry = 0;  // its address table entry, image-relative
};

struct PeLibrary {
  std::string name;
  std::uint32_t lookup = 0, thunk = 0;  // its lookup and address tables
  std::vector<PeImport> imports;
};

struct PeDirectory {
  std::uint32_t address = 0, size = 0;
};

struct PeImage {
  std::string error;  // empty when the image was read whole
  std::vector<unsigned char> bytes;
  bool wide = false;  // PE32+, 64-bit
  std::uint16_t machine = 0, characteristics = 0, subsystem = 0, dll_characteristics = 0;
  std::uint64_t base = 0;
  std::uint32_t entry = 0, image_size = 0;
  PeDirectory imports, exceptions, relocations, tls, address_table;
  std::vector<PeSection> sections;
  std::vector<PeLibrary> libraries;
};

PeImage ReadPeImage(const std::string& path);
