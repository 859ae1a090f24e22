#pragma once
// Profile strings: reading and writing keys of an INI file.
//
// The file is Windows-1251 text: "[section]" lines, then "key=value" lines,
// CR LF line ends. Section and key names are matched without regard to case
// (ASCII and Cyrillic); spaces around names and values are ignored, and one
// pair of matching quotes around a value is removed. The first matching
// section and, within it, the first matching key count. A value is cut at
// kProfileValueMax bytes.
//
// A file saved as UTF-8 by a Linux editor is taken as such: when the whole file
// is valid UTF-8 and holds non-ASCII text, it is converted to Windows-1251
// before it is read.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace vestrel::platform {

inline constexpr std::size_t kProfileValueMax = 2047;

// The value of key in section, or default_value when the file, the section or
// the key is missing. Never writes.
std::string ReadProfileValue(const std::filesystem::path& file, std::string_view section,
                             std::string_view key, std::string_view default_value);

// Sets key in section to value, creating the file, the section or the key as
// needed and keeping every other line as it was. Returns false when the file
// cannot be written; the file is then left as it was.
bool WriteProfileValue(const std::filesystem::path& file, std::string_view section,
                       std::string_view key, std::string_view value);

// An accessor on one INI file. Creating it does not touch the disk.
class IniFile {
 public:
  explicit IniFile(std::filesystem::path file) : file_(std::move(file)) {}

  bool Exists() const;

  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;
  // Throws Exception "Unable to write to <full path>" when the file cannot be written.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

 private:
  std::filesystem::path file_;
};

}  // namespace vestrel::platform
