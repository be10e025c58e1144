// The Windows images' own machine code, run in the Unicorn CPU emulator: the
// 32-bit image cannot be executed on this kernel, but its instructions can.
// Each image is loaded from its entry point, every import answered by the
// recording stand-in.
#include <gtest/gtest.h>
#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "console_calls.h"
#include "pe_image.h"

namespace {

constexpr std::uint64_t StubBase = 0x70000000;  // one 16-byte stub per import
constexpr std::uint64_t StackTop = 0x00200000;
constexpr std::uint64_t StackSize = 0x10000;

struct Machine {
  uc_engine* uc = nullptr;
  bool wide = false;               // 64-bit image
  std::vector<std::string> stubs;  // the imports' names, in the stubs' order
  ConsoleCalls* console = nullptr;

  std::uint64_t Reg(int reg) {
    std::uint64_t value = 0;
    uc_reg_read(uc, reg, &value);
    return wide ? value : value & 0xffffffffU;
  }
  std::uint64_t Memory(std::uint64_t address, std::size_t size) {
    std::uint64_t value = 0;
    uc_mem_read(uc, address, &value, size);
    return value;
  }
  // Argument n (0-based): on the stack after the return address for 32-bit
  // stdcall and cdecl; rcx, rdx, r8, r9, then the stack past the shadow
  // space for 64-bit.
  std::uint64_t Arg(int n) {
    if (!wide) return Memory(Reg(UC_X86_REG_ESP) + 4 + 4 * n, 4);
    const int regs[] = {UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_R8, UC_X86_REG_R9};
    return n < 4 ? Reg(regs[n]) : Memory(Reg(UC_X86_REG_RSP) + 8 + 8 * n, 8);
  }

  // Called as a stub is about to execute its ret; sets the result register.
  void Call(const std::string& name) {
    const auto first = static_cast<std::uint32_t>(Arg(0));  // a handle, a count or a code
    std::uint64_t result = 0;
    if (name == "GetStdHandle") {
      result = console->GetStdHandle(static_cast<std::int32_t>(first));
    } else if (name == "WriteFile") {
      std::string bytes(static_cast<std::uint32_t>(Arg(2)), '\0');
      uc_mem_read(uc, Arg(1), bytes.data(), bytes.size());
      const long written = console->WriteFile(first, bytes, Arg(4) != 0);
      const auto count = static_cast<std::uint32_t>(written);
      if (written >= 0) uc_mem_write(uc, Arg(3), &count, sizeof count);
      result = written >= 0;
    } else if (name == "Sleep") {
      console->Sleep(first);
    } else if (name == "_kbhit") {
      result = static_cast<std::uint64_t>(console->Kbhit());
    } else if (name == "FlushConsoleInputBuffer") {
      result = static_cast<std::uint64_t>(console->FlushConsoleInputBuffer(first));
    } else if (name == "ExitProcess") {
      console->ExitProcess(first);
      uc_emu_stop(uc);
    } else {
      console->calls.push_back("unexpected import " + name);
      uc_emu_stop(uc);
    }
    uc_reg_write(uc, wide ? UC_X86_REG_RAX : UC_X86_REG_EAX, &result);
  }
};

// Each stub is one instruction, so the hook sees only their first bytes.
void OnStub(uc_engine*, std::uint64_t address, std::uint32_t, void* data) {
  auto* machine = static_cast<Machine*>(data);
  const std::uint64_t stub = (address - StubBase) / 16;
  if (stub < machine->stubs.size()) machine->Call(machine->stubs[stub]);
}

// The kernel32 functions pop their own arguments (stdcall); _kbhit, a C
// runtime function, leaves that to its caller. 64-bit code has one
// convention, and the caller always cleans up.
unsigned ArgumentBytes(const std::string& name, bool wide) {
  if (wide || name == "_kbhit") return 0;
  if (name == "WriteFile") return 20;
  return 4;  // GetStdHandle, Sleep, FlushConsoleInputBuffer, ExitProcess
}

// Maps the image at load_base and points every import's address table
// entry at a stub, "ret N". Elsewhere than its preferred base, only
// an image that needs no fixups (as these have none) runs as it would.
std::string Load(Machine& m, const PeImage& image, std::uint64_t load_base) {
  if (!image.error.empty()) return image.error;
  if (load_base != image.base && (image.characteristics & 1) != 0) {
    return "relocations stripped: the image cannot be loaded at another base";
  }
  if (load_base != image.base && image.relocations.size != 0) {
    return "the image has fixups, which this loader does not apply";
  }
  m.wide = image.wide;
  if (uc_open(UC_ARCH_X86, m.wide ? UC_MODE_64 : UC_MODE_32, &m.uc) != UC_ERR_OK) return "uc_open";
  const std::uint64_t mapped = (image.image_size + 0xfffU) & ~std::uint64_t{0xfff};
  if (uc_mem_map(m.uc, load_base, mapped, UC_PROT_ALL) != UC_ERR_OK) return "cannot map the image";
  uc_mem_write(m.uc, load_base, image.bytes.data(),
               std::min<std::size_t>(0x200, image.bytes.size()));
  for (const PeSection& s : image.sections) {
    uc_mem_write(m.uc, load_base + s.address, &image.bytes[s.raw_at], s.raw_size);
  }

  uc_mem_map(m.uc, StubBase, 0x1000, UC_PROT_ALL);
  for (const PeLibrary& library : image.libraries) {
    for (const PeImport& import : library.imports) {
      const std::uint64_t stub = StubBase + 16 * m.stubs.size();
      const unsigned char ret[] = {
          0xc2, static_cast<unsigned char>(ArgumentBytes(import.name, m.wide)), 0};
      uc_mem_write(m.uc, stub, ret, sizeof ret);
      uc_mem_write(m.uc, load_base + import.entry, &stub, m.wide ? 8 : 4);
      m.stubs.push_back(import.name);
    }
  }
  uc_hook hook;
  uc_hook_add(m.uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(OnStub), &m, StubBase,
              StubBase + 0xfff);

  // The entry is called like any function, so a return address sits on top.
  uc_mem_map(m.uc, StackTop - StackSize, StackSize, UC_PROT_READ | UC_PROT_WRITE);
  const std::uint64_t sp = StackTop - 0x100 - (m.wide ? 8 : 4);
  uc_reg_write(m.uc, m.wide ? UC_X86_REG_RSP : UC_X86_REG_ESP, &sp);
  return "";
}

// Returns "" when the image ran to ExitProcess, or what went wrong. At a
// load_base other than 0, the image is mapped there instead of at its
// preferred base, as a loader does when that base is taken or randomised.
std::string RunImage(const std::string& path, ConsoleCalls& console, std::uint64_t load_base) {
  const PeImage image = ReadPeImage(path);
  Machine m;
  m.console = &console;
  if (load_base == 0) load_base = image.base;
  std::string error = Load(m, image, load_base);
  if (error.empty()) {
    // Bounded, so that a run that never reaches ExitProcess fails instead of hanging.
    const uc_err status = uc_emu_start(m.uc, load_base + image.entry, 0, 0, 1000000);
    if (status != UC_ERR_OK) error = uc_strerror(status);
    if (console.calls.empty() || console.calls.back().rfind("ExitProcess", 0) != 0) {
      error += " the run did not end in ExitProcess";
    }
  }
  if (m.uc != nullptr) uc_close(m.uc);
  return error;
}

TEST(EmulatedImage, RunsThePromptSequenceInOrder) {
  // The 64-bit image also where it may be loaded at random: above 4 GiB, far
  // from its preferred base, as high-entropy randomisation may place it.
  const std::pair<const char*, std::uint64_t> images[] = {
      {WIN32_EXE, 0}, {WIN64_EXE, 0}, {WIN64_EXE, 0x7ff6a1230000}};
  for (const auto& [image, load_base] : images) {
    for (const ConsoleCalls& row : PromptRuns) {
      SCOPED_TRACE(std::string(image) + ", checks " + std::to_string(row.checks_before_key) +
                   ", write limit " + std::to_string(row.write_limit) + ", base " +
                   std::to_string(load_base));
      ConsoleCalls console = row;
      EXPECT_EQ(RunImage(image, console, load_base), "");
      EXPECT_EQ(console.calls, ExpectedRun(row.checks_before_key));
    }
  }
}

}  // namespace
