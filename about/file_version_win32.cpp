#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "about/file_version.h"
#include "platform/cp1251.h"

namespace vestrel {
namespace {

std::wstring Wide(const std::string& cp1251) {
  std::wstring wide;
  for (unsigned char c : cp1251) wide.push_back(static_cast<wchar_t>(platform::Cp1251ToUnicode(c)));
  return wide;
}

}  // namespace

std::uint32_t ReadVersionInfoSize(const std::string& path) {
  DWORD handle = 0;
  return ::GetFileVersionInfoSizeW(Wide(path).c_str(), &handle);
}

bool ReadVersionInfo(const std::string& path, std::uint32_t size, std::uint8_t* data) {
  return ::GetFileVersionInfoW(Wide(path).c_str(), 0, size, data) != 0;
}

std::string ReadFileVersion(const std::string& path) {
  std::string result;
  std::error_code ec;
  if (path.empty() || !std::filesystem::exists(Wide(path), ec)) return result;
  const std::uint32_t size = ReadVersionInfoSize(path);
  if (size == 0) return result;
  std::vector<std::uint8_t> buffer(size, 0);
  if (!ReadVersionInfo(path, size, buffer.data())) return result;

  void* translation = nullptr;
  UINT translation_bytes = 0;
  if (!::VerQueryValueW(buffer.data(), L"\\VarFileInfo\\Translation", &translation,
                        &translation_bytes))
    return result;
  const auto* list = static_cast<const std::uint8_t*>(translation);
  const std::size_t entries = translation_bytes / 4;
  for (std::size_t i = 0; i < entries; ++i) {
    const unsigned language = list[4 * i] | list[4 * i + 1] << 8;
    const unsigned code_page = list[4 * i + 2] | list[4 * i + 3] << 8;
    // "0" before each number and no padding: only numbers from 0x100 to 0xFFF
    // make the four digits that a string table key has.
    wchar_t query[64];
    std::swprintf(query, 64, L"StringFileInfo\\0%X0%X\\FileVersion", language, code_page);
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(buffer.data(), query, &value, &length)) continue;
    for (const wchar_t* c = static_cast<const wchar_t*>(value); *c; ++c)
      result.push_back(static_cast<char>(platform::UnicodeToCp1251(*c).value_or('?')));
    return result;
  }
  return result;
}

}  // namespace vestrel
