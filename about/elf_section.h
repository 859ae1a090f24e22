#pragma once
// Sections of an ELF file (32 or 64 bits, either byte order), found through the
// section header table and the section-name string table.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

struct ElfSectionPlace {
  std::uint64_t offset = 0;  // in the file
  std::uint64_t size = 0;
};

// Where the named section's bytes lie in the file. Nothing when the file cannot
// be read, is not ELF, has no such section, the section has no bytes in the
// file, or a table reaches past the end of the file.
std::optional<ElfSectionPlace> FindElfSection(const std::string& path, std::string_view name);

// The named section's bytes (as FindElfSection finds them).
std::optional<std::vector<std::uint8_t>> ReadElfSection(const std::string& path,
                                                        std::string_view name);

}  // namespace vestrel
