#include "pe_emulator.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

namespace {

constexpr std::uint64_t StubBase = 0x70000000;  // one 16-byte stub per import
constexpr std::uint64_t StackTop = 0x00200000;
constexpr std::uint64_t StackSize = 0x10000;

template <typename T>
T Get(const std::vector<unsigned char>& bytes, std::size_t offset) {
  T value{};
  if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, &bytes[offset], sizeof(T));
  return value;
}

struct Machine {
  uc_engine* uc = nullptr;
  bool wide = false;  // 64-bit image
  std::map<std::uint64_t, std::string> stubs;
  int checks_before_key = 0;
  unsigned write_limit = 0;
  EmulatedRun run;

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
  static std::string Handle(std::uint64_t value) {
    return "h" + std::to_string(static_cast<std::uint32_t>(value));
  }

  // Called as a stub is about to execute its ret; sets the result register.
  void Call(const std::string& name) {
    std::uint64_t result = 0;
    std::string line;
    if (name == "GetStdHandle") {
      const auto which = static_cast<std::int32_t>(Arg(0));
      line = name + "(" + std::to_string(which) + ")";
      result = static_cast<std::uint64_t>(-which);
    } else if (name == "WriteFile") {
      const auto size = static_cast<std::uint32_t>(Arg(2));
      std::string bytes(size, '\0');
      uc_mem_read(uc, Arg(1), bytes.data(), size);
      const std::uint32_t written = std::min(size, write_limit);
      uc_mem_write(uc, Arg(3), &written, sizeof written);
      line = name + "(" + Handle(Arg(0)) + ", \"" + bytes + "\", " + std::to_string(size) +
             (Arg(4) != 0 ? ", overlapped)" : ")");
      result = 1;
    } else if (name == "Sleep") {
      line = name + "(" + std::to_string(static_cast<std::uint32_t>(Arg(0))) + ")";
    } else if (name == "_kbhit") {
      result = checks_before_key-- > 0 ? 0 : 1;
      line = name + "()=" + std::to_string(result);
    } else if (name == "FlushConsoleInputBuffer") {
      line = name + "(" + Handle(Arg(0)) + ")";
      result = 1;
    } else if (name == "ExitProcess") {
      line = name + "(" + std::to_string(static_cast<std::uint32_t>(Arg(0))) + ")";
      uc_emu_stop(uc);
    } else {
      line = "unexpected import " + name;
      uc_emu_stop(uc);
    }
    run.calls.push_back(line);
    uc_reg_write(uc, wide ? UC_X86_REG_RAX : UC_X86_REG_EAX, &result);
  }
};

void OnStub(uc_engine*, std::uint64_t address, std::uint32_t, void* data) {
  auto* machine = static_cast<Machine*>(data);
  const auto stub = machine->stubs.find(address);
  if (stub != machine->stubs.end()) machine->Call(stub->second);
}

// The kernel32 functions pop their own arguments (stdcall); _kbhit, a C
// runtime function, leaves that to its caller. 64-bit code has one
// convention, and the caller always cleans up.
unsigned ArgumentBytes(const std::string& name, bool wide) {
  if (wide || name == "_kbhit") return 0;
  if (name == "WriteFile") return 20;
  return 4;  // GetStdHandle, Sleep, FlushConsoleInputBuffer, ExitProcess
}

std::string Load(Machine& m, const std::vector<unsigned char>& image, std::uint64_t& entry) {
  if (Get<std::uint16_t>(image, 0) != 0x5a4d) return "not an MZ image";
  const auto pe = Get<std::uint32_t>(image, 0x3c);
  if (Get<std::uint32_t>(image, pe) != 0x4550) return "no PE signature";
  const auto sections = Get<std::uint16_t>(image, pe + 6);
  const auto optional = pe + 24;
  const auto magic = Get<std::uint16_t>(image, optional);
  if (magic != 0x10b && magic != 0x20b) return "unknown optional header";
  m.wide = magic == 0x20b;
  const std::uint64_t base =
      m.wide ? Get<std::uint64_t>(image, optional + 24) : Get<std::uint32_t>(image, optional + 28);
  const auto image_size = Get<std::uint32_t>(image, optional + 56);
  const auto directories = optional + (m.wide ? 112 : 96);
  const auto imports = Get<std::uint32_t>(image, directories + 8);
  entry = base + Get<std::uint32_t>(image, optional + 16);

  if (uc_open(UC_ARCH_X86, m.wide ? UC_MODE_64 : UC_MODE_32, &m.uc) != UC_ERR_OK) return "uc_open";
  const std::uint64_t mapped = (image_size + 0xfffU) & ~std::uint64_t{0xfff};
  uc_mem_map(m.uc, base, mapped, UC_PROT_ALL);
  uc_mem_write(m.uc, base, image.data(), std::min<std::size_t>(0x200, image.size()));
  const auto table = optional + Get<std::uint16_t>(image, pe + 20);
  for (unsigned i = 0; i < sections; ++i) {
    const auto header = table + 40 * i;
    const auto address = Get<std::uint32_t>(image, header + 12);
    const auto raw_size = Get<std::uint32_t>(image, header + 16);
    const auto raw = Get<std::uint32_t>(image, header + 20);
    if (raw + raw_size > image.size()) return "section past the end of the file";
    uc_mem_write(m.uc, base + address, &image[raw], raw_size);
  }

  // Every import-table entry points at a stub: "ret" or "ret N".
  uc_mem_map(m.uc, StubBase, 0x1000, UC_PROT_ALL);
  const unsigned slot = m.wide ? 8 : 4;
  std::uint64_t next = StubBase;
  for (std::uint64_t d = base + imports;; d += 20) {
    const auto lookup = static_cast<std::uint32_t>(m.Memory(d, 4));
    const auto iat = static_cast<std::uint32_t>(m.Memory(d + 16, 4));
    if (iat == 0) break;
    for (std::uint64_t i = 0;; ++i) {
      const std::uint64_t name_rva = m.Memory(base + (lookup != 0 ? lookup : iat) + i * slot, slot);
      if (name_rva == 0) break;
      char name[64] = {};
      uc_mem_read(m.uc, base + name_rva + 2, name, sizeof name - 1);
      const unsigned pop = ArgumentBytes(name, m.wide);
      const unsigned char ret[] = {0xc2, static_cast<unsigned char>(pop), 0, 0xc3};
      uc_mem_write(m.uc, next, pop != 0 ? ret : ret + 3, pop != 0 ? 3 : 1);
      uc_mem_write(m.uc, base + iat + i * slot, &next, slot);
      m.stubs[next] = name;
      next += 16;
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

}  // namespace

EmulatedRun RunImage(const std::string& path, int checks_before_key, unsigned write_limit) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<unsigned char> image((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
  Machine m;
  m.checks_before_key = checks_before_key;
  m.write_limit = write_limit;
  std::uint64_t entry = 0;
  m.run.error = Load(m, image, entry);
  if (m.run.error.empty()) {
    // Bounded, so that a run that never reaches ExitProcess fails instead of hanging.
    const uc_err status = uc_emu_start(m.uc, entry, 0, 0, 1000000);
    if (status != UC_ERR_OK) m.run.error = uc_strerror(status);
    if (m.run.calls.empty() || m.run.calls.back().rfind("ExitProcess", 0) != 0) {
      m.run.error += " the run did not end in ExitProcess";
    }
  }
  if (m.uc != nullptr) uc_close(m.uc);
  return m.run;
}
