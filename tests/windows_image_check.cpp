// Judges a Windows image from its bytes: format, entry point, header flags,
// sections, imports, and what must not be there. Prints every failed check.
//   windows_image_check EXE MAP OBJDUMP FORMAT MAX_SIZE DLL_CHARACTERISTICS
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "pe_image.h"

namespace {

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
  return text;
}

// All that a file or a command's output gives, closed by fclose or pclose.
std::string Drain(FILE* stream, int (*close)(FILE*)) {
  std::string text;
  if (stream == nullptr) return text;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, stream)) > 0;) text.append(chunk, n);
  close(stream);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: %s EXE MAP OBJDUMP FORMAT MAX_SIZE DLL_CHARACTERISTICS\n",
                 argv[0]);
    return 2;
  }
  const std::string exe = argv[1], format = argv[4];
  const unsigned long max_size = std::strtoul(argv[5], nullptr, 0);
  const unsigned flags = static_cast<unsigned>(std::strtoul(argv[6], nullptr, 0));
  const PeImage image = ReadPeImage(exe);
  std::string failures;
  const auto expect = [&](bool condition, const std::string& message) {
    if (!condition) failures += "\n  " + message;
  };
  if (!image.error.empty()) {
    std::printf("%s:\n  %s\n", exe.c_str(), image.error.c_str());
    return 1;
  }

  const bool wide = format != "pei-i386";
  expect(image.machine == (wide ? 0x8664 : 0x14c) && image.wide == wide,
         wide ? "not a 64-bit x86 image" : "not a 32-bit x86 image");
  expect(image.subsystem == 3, "not a console program");

  // The entry point is ProgramEntry itself (its address from the link map).
  std::smatch match;
  const std::string map = Drain(std::fopen(argv[2], "rb"), std::fclose);
  std::regex_search(map, match, std::regex("0x0*([0-9a-f]+)[ \t]+_?ProgramEntry\n"));
  const std::string entry = Hex(image.base + image.entry);
  const std::string program_entry = Hex(std::strtoull(match.str(1).c_str(), nullptr, 16));
  expect(entry == program_entry,
         "entry point " + entry + " is not ProgramEntry (" + program_entry + ")");

  // No TLS, no exception tables, no fixups: the 64-bit code addresses all
  // relative to the instruction pointer. An image that is not loaded at
  // another base says its relocations are stripped; one that is does not.
  const std::pair<PeDirectory, const char*> absent[] = {
      {image.exceptions, "exception"}, {image.relocations, "relocation"}, {image.tls, "tls"}};
  for (const auto& [directory, name] : absent) {
    expect(directory.address == 0 && directory.size == 0,
           std::string("the image has a ") + name + " directory");
  }
  const bool stripped = (image.characteristics & 1) != 0;
  expect(stripped == ((flags & 0x40) == 0),
         stripped ? "the image cannot be relocated: its relocations are stripped"
                  : "the image can be relocated");
  expect(image.dll_characteristics == flags,
         "DllCharacteristics are " + Hex(image.dll_characteristics) + ", not " + Hex(flags));

  // No sections but code and imports, and none both writable and executable.
  std::string sections;
  for (const PeSection& s : image.sections) {
    expect((s.flags & 0x20000020) == 0 || (s.flags & 0x80000000) == 0,
           "section " + s.name + " is writable and executable");
    sections += (sections.empty() ? "" : " ") + s.name;
  }
  expect(sections == ".text", "sections are: " + sections);

  // Exactly six imports, by name: five from kernel32.dll, _kbhit from
  // msvcrt.dll. The import directory holds exactly the descriptors, the null
  // one included, and the address table directory exactly the address table
  // (each library's entries and its null entry); every descriptor has its
  // lookup table.
  std::string imports;
  std::size_t count = 0;
  for (std::size_t i = 0; i < image.libraries.size(); ++i) {
    const PeLibrary& library = image.libraries[i];
    expect(library.lookup != 0, "library " + std::to_string(i + 1) + " has no lookup table");
    imports += (imports.empty() ? "" : " ") + library.name + ":";
    for (const PeImport& import : library.imports) imports += " " + import.name;
    count += library.imports.size();
  }
  expect(imports ==
             "KERNEL32.dll: ExitProcess FlushConsoleInputBuffer GetStdHandle Sleep WriteFile "
             "msvcrt.dll: _kbhit",
         "imports are: " + imports);
  const std::size_t libraries = image.libraries.size();
  const std::size_t descriptors_size = (libraries + 1) * 20;
  expect(image.imports.size == descriptors_size,
         "the import directory is " + std::to_string(image.imports.size) +
             " bytes, the descriptors " + std::to_string(descriptors_size));
  const std::size_t thunks_size = (count + libraries) * (image.wide ? 8 : 4);
  const std::uint32_t first_thunk = libraries != 0 ? image.libraries[0].thunk : 0;
  expect(image.address_table.address == first_thunk && image.address_table.size == thunks_size,
         "the address table directory is " + std::to_string(image.address_table.size) +
             " bytes at " + std::to_string(image.address_table.address) + ", the table " +
             std::to_string(thunks_size) + " at " + std::to_string(first_thunk));

  // The length scan runs in the image, four bytes a step, not folded away.
  const std::string code =
      Drain(popen((std::string(argv[3]) + " -d '" + exe + "'").c_str(), "r"), pclose);
  expect(std::regex_search(code, std::regex("and +\\$0x80808080")),
         "the length scan's loop is not in the image");

  // The message block: the prompt and the line break, each with its terminator.
  const std::string bytes(image.bytes.begin(), image.bytes.end());
  expect(bytes.find(std::string("Press any key to end polling\0\r\n\0", 32)) != std::string::npos,
         "the message block is not in the image");

  expect(image.bytes.size() <= max_size, "the image is " + std::to_string(image.bytes.size()) +
                                             " bytes, more than " + std::to_string(max_size));

  if (!failures.empty()) {
    std::printf("%s:%s\n", exe.c_str(), failures.c_str());
    return 1;
  }
  std::printf("%s: %s, entry %s, %zu bytes, imports %s, DllCharacteristics %s\n", exe.c_str(),
              format.c_str(), entry.c_str(), image.bytes.size(), imports.c_str(),
              Hex(image.dll_characteristics).c_str());
  return 0;
}
