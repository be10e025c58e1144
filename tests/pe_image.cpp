#include "pe_image.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

// Reads past the end of the file set the image's error and give 0.
struct Reader {
  PeImage& image;

  std::uint64_t Field(std::uint64_t at, unsigned size) {
    std::uint64_t value = 0;
    if (at + size > image.bytes.size()) {
      if (image.error.empty())
        image.error = "a field at " + std::to_string(at) + " lies outside the image's " +
                      std::to_string(image.bytes.size()) + " bytes";
      return 0;
    }
    std::memcpy(&value, &image.bytes[at], size);  // little-endian, as the host
    return value;
  }
  std::uint32_t U32(std::uint64_t at) { return static_cast<std::uint32_t>(Field(at, 4)); }
  std::uint16_t U16(std::uint64_t at) { return static_cast<std::uint16_t>(Field(at, 2)); }
  std::string Text(std::uint64_t at) {
    std::string text;
    for (char c; (c = static_cast<char>(Field(at, 1))) != 0; ++at) text += c;
    return text;
  }
  // The file offset of an image-relative address.
  std::uint64_t Offset(std::uint32_t address) {
    for (const PeSection& s : image.sections) {
      if (address >= s.address && address - s.address < s.raw_size) {
        return address - s.address + s.raw_at;
      }
    }
    if (image.error.empty())
      image.error = "address " + std::to_string(address) + " is in no section's bytes";
    return image.bytes.size();
  }
  PeDirectory Directory(std::uint64_t directories, unsigned index) {
    return {U32(directories + 8 * index), U32(directories + 8 * index + 4)};
  }
};

}  // namespace

PeImage ReadPeImage(const std::string& path) {
  PeImage image;
  std::ifstream file(path, std::ios::binary);
  image.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  Reader r{image};
  if (r.U16(0) != 0x5a4d) return image.error = "not an MZ image", image;
  const std::uint32_t pe = r.U32(0x3c);
  if (r.U32(pe) != 0x4550) return image.error = "no PE signature", image;
  const std::uint32_t coff = pe + 4, optional = coff + 20;
  image.machine = r.U16(coff);
  image.characteristics = r.U16(coff + 18);
  const std::uint16_t magic = r.U16(optional);
  if (magic != 0x10b && magic != 0x20b) return image.error = "unknown optional header", image;
  image.wide = magic == 0x20b;
  image.entry = r.U32(optional + 16);
  image.base = image.wide ? r.Field(optional + 24, 8) : r.U32(optional + 28);
  image.image_size = r.U32(optional + 56);
  image.subsystem = r.U16(optional + 68);
  image.dll_characteristics = r.U16(optional + 70);
  const std::uint32_t directories = optional + (image.wide ? 112 : 96);
  image.imports = r.Directory(directories, 1);
  image.exceptions = r.Directory(directories, 3);
  image.relocations = r.Directory(directories, 5);
  image.tls = r.Directory(directories, 9);
  image.address_table = r.Directory(directories, 12);

  const std::uint32_t table = optional + r.U16(coff + 16);
  for (unsigned i = 0, count = r.U16(coff + 2); i < count && image.error.empty(); ++i) {
    const std::uint32_t at = table + 40 * i;
    const PeSection& s = image.sections.emplace_back(PeSection{
        r.Text(at).substr(0, 8), r.U32(at + 12), r.U32(at + 16), r.U32(at + 20), r.U32(at + 36)});
    if (std::uint64_t{s.raw_at} + s.raw_size > image.bytes.size()) {
      image.error = "section past the end of the file";
    }
  }

  // The descriptors, up to the null one; each library's lookup table (or,
  // lacking one, its address table) names the functions. An entry's top bit
  // marks an import by number, in its low 16 bits.
  const unsigned slot = image.wide ? 8 : 4;
  for (std::uint64_t d = r.Offset(image.imports.address); image.error.empty(); d += 20) {
    PeLibrary library{"", r.U32(d), r.U32(d + 16), {}};
    const std::uint32_t name = r.U32(d + 12);
    if (name == 0) break;
    library.name = r.Text(r.Offset(name));
    const std::uint32_t names = library.lookup != 0 ? library.lookup : library.thunk;
    for (std::uint32_t i = 0; image.error.empty(); i += slot) {
      const std::uint64_t entry = r.Field(r.Offset(names + i), slot);
      if (entry == 0) break;
      const bool by_number = (entry >> (8 * slot - 1)) != 0;
      library.imports.push_back(
          {by_number ? "#" + std::to_string(entry & 0xffff)
                     : r.Text(r.Offset(static_cast<std::uint32_t>(entry)) + 2),  // past the hint
           library.thunk + i});
    }
    image.libraries.push_back(library);
  }
  return image;
}
