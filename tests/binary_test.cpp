// The shipped binary's properties: how it is linked and the hardening that
// applies to it, read from its ELF headers and symbol table.

#include <elf.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace quorvale::testing {
namespace {

// Just enough of an ELF64 reader for these checks; every access is bounds
// checked, so a malformed file fails the test instead of crashing it.
class Elf {
 public:
  explicit Elf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), {});
  }

  template <typename T>
  std::optional<T> At(std::uint64_t offset) const {
    if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) {
      return std::nullopt;
    }
    T value;
    std::memcpy(&value, bytes_.data() + offset, sizeof(T));
    return value;
  }

  // The entries of a header table: count entries of entsize bytes from
  // offset on; those that lie outside the file are left out.
  template <typename T>
  std::vector<T> Table(std::uint64_t offset, unsigned count,
                       std::uint64_t entsize) const {
    std::vector<T> out;
    for (unsigned i = 0; i < count; ++i) {
      if (auto e = At<T>(offset + std::uint64_t{i} * entsize))
        out.push_back(*e);
    }
    return out;
  }

  bool Valid() const {
    auto h = Header();
    return h && std::memcmp(h->e_ident, ELFMAG, SELFMAG) == 0 &&
           h->e_ident[EI_CLASS] == ELFCLASS64 && h->e_machine == EM_X86_64;
  }

  std::optional<Elf64_Ehdr> Header() const { return At<Elf64_Ehdr>(0); }

  std::vector<Elf64_Phdr> Segments() const {
    auto h = Header();
    return h ? Table<Elf64_Phdr>(h->e_phoff, h->e_phnum, h->e_phentsize)
             : std::vector<Elf64_Phdr>{};
  }

  std::optional<Elf64_Phdr> Segment(std::uint32_t type) const {
    for (const Elf64_Phdr& p : Segments()) {
      if (p.p_type == type) return p;
    }
    return std::nullopt;
  }

  std::vector<Elf64_Shdr> Sections() const {
    auto h = Header();
    return h ? Table<Elf64_Shdr>(h->e_shoff, h->e_shnum, h->e_shentsize)
             : std::vector<Elf64_Shdr>{};
  }

  // The section called name, if there is one.
  std::optional<Elf64_Shdr> Section(std::string_view name) const {
    std::vector<Elf64_Shdr> sections = Sections();
    auto h = Header();
    if (!h || h->e_shstrndx >= sections.size()) return std::nullopt;
    const Elf64_Shdr& names = sections[h->e_shstrndx];
    for (const Elf64_Shdr& s : sections) {
      std::uint64_t at = names.sh_offset + s.sh_name;
      if (s.sh_name >= names.sh_size || at >= bytes_.size()) continue;
      const char* n = bytes_.data() + at;
      if (std::string_view(n, strnlen(n, bytes_.size() - at)) == name) return s;
    }
    return std::nullopt;
  }

  // The entries of the dynamic section, if there is one.
  std::vector<Elf64_Dyn> Dynamic() const {
    std::vector<Elf64_Dyn> out;
    auto seg = Segment(PT_DYNAMIC);
    for (std::uint64_t off = 0; seg && off + sizeof(Elf64_Dyn) <= seg->p_filesz;
         off += sizeof(Elf64_Dyn)) {
      auto d = At<Elf64_Dyn>(seg->p_offset + off);
      if (!d || d->d_tag == DT_NULL) break;
      out.push_back(*d);
    }
    return out;
  }

  struct Symbol {
    std::string name;
    Elf64_Sym sym;
  };

  // The static symbol table (.symtab), with names.
  std::vector<Symbol> Symbols() const {
    std::vector<Symbol> out;
    std::vector<Elf64_Shdr> sections = Sections();
    for (const Elf64_Shdr& s : sections) {
      if (s.sh_type != SHT_SYMTAB || s.sh_link >= sections.size()) continue;
      const Elf64_Shdr& strtab = sections[s.sh_link];
      for (std::uint64_t off = 0; off + sizeof(Elf64_Sym) <= s.sh_size;
           off += sizeof(Elf64_Sym)) {
        auto sym = At<Elf64_Sym>(s.sh_offset + off);
        if (!sym || sym->st_name >= strtab.sh_size) continue;
        std::uint64_t at = strtab.sh_offset + sym->st_name;
        if (at >= bytes_.size()) continue;
        const char* name = bytes_.data() + at;
        out.push_back(
            {std::string(name, strnlen(name, bytes_.size() - at)), *sym});
      }
    }
    return out;
  }

  // The bytes of a function symbol's code.
  std::string_view Code(const Elf64_Sym& sym) const {
    std::vector<Elf64_Shdr> sections = Sections();
    if (sym.st_shndx >= sections.size()) return {};
    const Elf64_Shdr& s = sections[sym.st_shndx];
    if (sym.st_value < s.sh_addr ||
        sym.st_value + sym.st_size > s.sh_addr + s.sh_size) {
      return {};
    }
    std::uint64_t at = s.sh_offset + (sym.st_value - s.sh_addr);
    if (at > bytes_.size() || bytes_.size() - at < sym.st_size) return {};
    return {bytes_.data() + at, sym.st_size};
  }

 private:
  std::string bytes_;
};

// Whether code loads the stack protector's canary, %fs:0x28, into a
// register: mov %fs:0x28,%reg is 64 REX.W 8b ModRM(disp32 via SIB) 25
// 28 00 00 00.
bool LoadsCanary(std::string_view code) {
  for (std::size_t i = 0; i + 9 <= code.size(); ++i) {
    auto b = [&](std::size_t k) {
      return static_cast<unsigned char>(code[i + k]);
    };
    if (b(0) == 0x64 && (b(1) & 0xfb) == 0x48 && b(2) == 0x8b &&
        (b(3) & 0xc7) == 0x04 && b(4) == 0x25 && b(5) == 0x28 && b(6) == 0 &&
        b(7) == 0 && b(8) == 0) {
      return true;
    }
  }
  return false;
}

class BinaryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(elf_.Valid()) << QUORVALE_BIN; }
  Elf elf_{QUORVALE_BIN};
};

TEST_F(BinaryTest, IsLinkedTheWayTheBuildSays) {
  const std::string_view link = QUORVALE_LINK;
  // No shared library to load, hence no loader either.
  EXPECT_FALSE(elf_.Segment(PT_INTERP)) << "has a program interpreter";
  for (const Elf64_Dyn& d : elf_.Dynamic()) {
    EXPECT_NE(d.d_tag, DT_NEEDED) << "needs a shared library";
  }
  if (link == "static") {
    EXPECT_EQ(elf_.Header()->e_type, ET_EXEC);
    EXPECT_FALSE(elf_.Segment(PT_DYNAMIC)) << "has a dynamic section";
  } else {
    ASSERT_EQ(link, "static-pie");
    // Position independent: its own relocations, applied by itself.
    EXPECT_EQ(elf_.Header()->e_type, ET_DYN);
    bool pie = false;
    for (const Elf64_Dyn& d : elf_.Dynamic()) {
      if (d.d_tag == DT_FLAGS_1 && (d.d_un.d_val & DF_1_PIE)) pie = true;
    }
    EXPECT_TRUE(pie) << "not marked as a position-independent executable";
  }
}

TEST_F(BinaryTest, HasFullRelroAndNoExecutableStack) {
  if (!QUORVALE_HARDENED) GTEST_SKIP() << "built with QUORVALE_HARDEN=OFF";
  EXPECT_TRUE(elf_.Segment(PT_GNU_RELRO)) << "no read-only-after-start segment";
  auto stack = elf_.Segment(PT_GNU_STACK);
  ASSERT_TRUE(stack) << "no stack segment: the stack would be executable";
  EXPECT_EQ(stack->p_flags & PF_X, 0u) << "executable stack";
  // With a dynamic section, full RELRO also needs every relocation bound at
  // start-up, so that none is left writable for later.
  if (elf_.Segment(PT_DYNAMIC)) {
    bool now = false;
    for (const Elf64_Dyn& d : elf_.Dynamic()) {
      if (d.d_tag == DT_FLAGS && (d.d_un.d_val & DF_BIND_NOW)) now = true;
      if (d.d_tag == DT_FLAGS_1 && (d.d_un.d_val & DF_1_NOW)) now = true;
    }
    EXPECT_TRUE(now) << "relocations are bound lazily: only partial RELRO";
  }
}

TEST_F(BinaryTest, OurFunctionsWithStackBuffersCarryACanary) {
  if (!QUORVALE_HARDENED) GTEST_SKIP() << "built with QUORVALE_HARDEN=OFF";
  // Fprintln builds short lines in a stack array: with the stack protector
  // on it must check the canary on its way out.
  bool found = false;
  for (const Elf::Symbol& s : elf_.Symbols()) {
    if (ELF64_ST_TYPE(s.sym.st_info) != STT_FUNC ||
        s.name.rfind("_ZN8quorvale3fmt8Fprintln", 0) != 0 ||
        s.name.find(".cold") != std::string::npos) {
      continue;
    }
    found = true;
    EXPECT_TRUE(LoadsCanary(elf_.Code(s.sym))) << s.name << " has no canary";
  }
  EXPECT_TRUE(found) << "no fmt::Fprintln in the symbol table";
}

TEST_F(BinaryTest, RunsTheDriversRegistrationAtStartUp) {
  // The driver registers itself from a static initialiser that nothing
  // refers to: the link must keep it, and keep it in the list of
  // initialisers that the C library runs before main.
  auto init = elf_.Section(".init_array");
  ASSERT_TRUE(init) << "no initialisers at all";
  std::vector<std::uint64_t> entries;
  for (std::uint64_t off = 0; off + 8 <= init->sh_size; off += 8) {
    if (auto e = elf_.At<std::uint64_t>(init->sh_offset + off)) {
      entries.push_back(*e);
    }
  }
  bool registration = false;
  bool engine = false;
  for (const Elf::Symbol& s : elf_.Symbols()) {
    if (ELF64_ST_TYPE(s.sym.st_info) != STT_FUNC) continue;
    // Static initialisers are named after their translation unit.
    if (s.name.rfind("_GLOBAL__sub_I_", 0) == 0 &&
        s.name.find("sqlite3") != std::string::npos &&
        std::find(entries.begin(), entries.end(), s.sym.st_value) !=
            entries.end()) {
      registration = true;
    }
    // SQLite itself, from its static archive.
    if (s.name == "sqlite3_open_v2") engine = true;
  }
  EXPECT_TRUE(registration) << "the driver's initialiser is not run";
  EXPECT_TRUE(engine) << "SQLite is not linked in";
}

}  // namespace
}  // namespace quorvale::testing
