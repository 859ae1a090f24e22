#include "about/file_version.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "about/elf_section.h"
#include "about/version_block.h"
#include "platform/cp1251.h"

namespace vestrel {
namespace {

constexpr std::uint64_t kMaxBlock = 0xFFFF;  // wLength is 16 bits

}  // namespace

std::uint32_t ReadVersionInfoSize(const std::string& path) {
  const auto place = FindElfSection(path, kVersionSection);
  if (!place || place->size == 0 || place->size > kMaxBlock) return 0;
  return static_cast<std::uint32_t>(place->size);
}

bool ReadVersionInfo(const std::string& path, std::uint32_t size, std::uint8_t* data) {
  const auto bytes = ReadElfSection(path, kVersionSection);
  if (!bytes || bytes->empty() || bytes->size() > kMaxBlock) return false;
  const std::size_t n = std::min<std::size_t>(size, bytes->size());
  std::copy_n(bytes->begin(), n, data);
  return true;
}

std::string ReadFileVersion(const std::string& path) {
  std::string result;
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(path, ec)) return result;
  const std::uint32_t size = ReadVersionInfoSize(path);
  if (size == 0) return result;
  std::vector<std::uint8_t> buffer(size, 0);
  if (!ReadVersionInfo(path, size, buffer.data())) return result;

  const auto translation = QueryVersionValue(buffer, "\\VarFileInfo\\Translation");
  if (!translation || translation->text) return result;
  const auto& list = translation->binary;
  const std::size_t entries = list.size() / 4;
  for (std::size_t i = 0; i < entries; ++i) {
    const unsigned language = list[4 * i] | list[4 * i + 1] << 8;
    const unsigned code_page = list[4 * i + 2] | list[4 * i + 3] << 8;
    // "0" before each number and no padding: only numbers from 0x100 to 0xFFF
    // make the four digits that a string table key has.
    char query[64];
    std::snprintf(query, sizeof query, "StringFileInfo\\0%X0%X\\FileVersion", language, code_page);
    const auto value = QueryVersionValue(buffer, query);
    if (!value || !value->text) continue;
    std::string text;
    for (char16_t c : value->value)
      text.push_back(static_cast<char>(platform::UnicodeToCp1251(c).value_or('?')));
    return text;
  }
  return result;
}

}  // namespace vestrel
