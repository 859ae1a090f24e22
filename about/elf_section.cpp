#include "about/elf_section.h"

#include <fstream>
#include <limits>

namespace vestrel {
namespace {

constexpr std::uint32_t kShtNobits = 8;
constexpr std::uint16_t kShnXindex = 0xFFFF;
constexpr std::uint64_t kMaxSections = 1 << 20;

class FileReader {
 public:
  explicit FileReader(const std::string& path) : in_(path, std::ios::binary) {
    if (!in_) return;
    in_.seekg(0, std::ios::end);
    const auto end = in_.tellg();
    if (end < 0) return;
    size_ = static_cast<std::uint64_t>(end);
    ok_ = true;
  }
  bool ok() const { return ok_; }
  std::uint64_t size() const { return size_; }

  bool Read(std::uint64_t offset, void* out, std::uint64_t n) {
    if (!ok_ || offset > size_ || n > size_ - offset) return false;
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(static_cast<char*>(out), static_cast<std::streamsize>(n));
    return static_cast<std::uint64_t>(in_.gcount()) == n;
  }

 private:
  std::ifstream in_;
  std::uint64_t size_ = 0;
  bool ok_ = false;
};

// Little- or big-endian unsigned integers from raw bytes.
struct Decoder {
  bool big = false;
  std::uint64_t Get(const std::uint8_t* p, int width) const {
    std::uint64_t v = 0;
    for (int i = 0; i < width; ++i) {
      const int shift = big ? 8 * (width - 1 - i) : 8 * i;
      v |= std::uint64_t{p[i]} << shift;
    }
    return v;
  }
};

struct SectionHeader {
  std::uint32_t name = 0;
  std::uint32_t type = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint32_t link = 0;
};

}  // namespace

std::optional<ElfSectionPlace> FindElfSection(const std::string& path, std::string_view name) {
  FileReader file(path);
  std::uint8_t ident[16];
  if (!file.ok() || !file.Read(0, ident, sizeof ident)) return std::nullopt;
  if (ident[0] != 0x7F || ident[1] != 'E' || ident[2] != 'L' || ident[3] != 'F')
    return std::nullopt;
  const bool is64 = ident[4] == 2;
  if ((ident[4] != 1 && ident[4] != 2) || (ident[5] != 1 && ident[5] != 2)) return std::nullopt;
  const Decoder d{ident[5] == 2};

  // The fields of the file header that lead to the section headers.
  std::uint8_t header[64];
  const std::uint64_t header_size = is64 ? 64 : 52;
  if (!file.Read(0, header, header_size)) return std::nullopt;
  const std::uint64_t shoff = is64 ? d.Get(header + 0x28, 8) : d.Get(header + 0x20, 4);
  const std::uint64_t shentsize = d.Get(header + (is64 ? 0x3A : 0x2E), 2);
  std::uint64_t shnum = d.Get(header + (is64 ? 0x3C : 0x30), 2);
  std::uint64_t shstrndx = d.Get(header + (is64 ? 0x3E : 0x32), 2);
  const std::uint64_t min_entry = is64 ? 64 : 40;
  if (shoff == 0 || shentsize < min_entry) return std::nullopt;

  auto read_section = [&](std::uint64_t index) -> std::optional<SectionHeader> {
    std::uint8_t e[64];
    if (index > (std::numeric_limits<std::uint64_t>::max() - shoff) / shentsize)
      return std::nullopt;
    if (!file.Read(shoff + index * shentsize, e, min_entry)) return std::nullopt;
    SectionHeader s;
    s.name = static_cast<std::uint32_t>(d.Get(e, 4));
    s.type = static_cast<std::uint32_t>(d.Get(e + 4, 4));
    s.offset = is64 ? d.Get(e + 0x18, 8) : d.Get(e + 0x10, 4);
    s.size = is64 ? d.Get(e + 0x20, 8) : d.Get(e + 0x14, 4);
    s.link = static_cast<std::uint32_t>(is64 ? d.Get(e + 0x28, 4) : d.Get(e + 0x18, 4));
    return s;
  };

  // Many sections: the counts live in section 0.
  if (shnum == 0 || shstrndx == kShnXindex) {
    const auto zero = read_section(0);
    if (!zero) return std::nullopt;
    if (shnum == 0) shnum = zero->size;
    if (shstrndx == kShnXindex) shstrndx = zero->link;
  }
  if (shnum == 0 || shnum > kMaxSections || shstrndx >= shnum) return std::nullopt;

  const auto strtab = read_section(shstrndx);
  if (!strtab || strtab->type == kShtNobits) return std::nullopt;
  for (std::uint64_t i = 1; i < shnum; ++i) {
    const auto s = read_section(i);
    if (!s) return std::nullopt;
    if (s->name >= strtab->size || name.size() + 1 > strtab->size - s->name) continue;
    std::string found(name.size() + 1, '\0');
    if (!file.Read(strtab->offset + s->name, found.data(), found.size())) return std::nullopt;
    if (found.back() != '\0' || std::string_view(found.data(), name.size()) != name) continue;
    if (s->type == kShtNobits) return std::nullopt;
    if (s->offset > file.size() || s->size > file.size() - s->offset) return std::nullopt;
    return ElfSectionPlace{s->offset, s->size};
  }
  return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ReadElfSection(const std::string& path,
                                                        std::string_view name) {
  const auto place = FindElfSection(path, name);
  if (!place) return std::nullopt;
  std::vector<std::uint8_t> bytes(place->size);
  FileReader file(path);
  if (!file.Read(place->offset, bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
}

}  // namespace vestrel
