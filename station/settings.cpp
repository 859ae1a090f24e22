#include "station/settings.h"

#include <exception>

#include "archive/archive_path.h"
#include "platform/cp1251.h"
#include "platform/profile.h"

namespace vestrel::station {

const IniKeyEntry& Entry(IniKey key) {
  for (const IniKeyEntry& entry : kIniKeys)
    if (entry.key == key) return entry;
  std::terminate();  // every key has its row
}

const std::string& KeyName(IniKey key) {
  static const std::string names[] = {
      platform::Cp1251FromUtf8(kIniKeys[0].name_utf8),
      platform::Cp1251FromUtf8(kIniKeys[1].name_utf8),
      platform::Cp1251FromUtf8(kIniKeys[2].name_utf8),
      platform::Cp1251FromUtf8(kIniKeys[3].name_utf8),
      platform::Cp1251FromUtf8(kIniKeys[4].name_utf8),
  };
  static_assert(std::size(names) == std::size(kIniKeys));
  return names[&Entry(key) - kIniKeys];
}

std::string Fallback(IniKey key) {
  return platform::Cp1251FromUtf8(Entry(key).fallback);
}

std::optional<std::string> ReadKey(const std::filesystem::path& file, IniKey key) {
  if (file.empty()) return std::nullopt;
  try {
    const platform::IniFile ini(file);
    if (!ini.Exists()) return std::nullopt;
    std::string value = ini.ReadString(kIniSection, KeyName(key), "");
    if (value.empty()) return std::nullopt;
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

StartUpSettings ReadStartUpSettings(const std::filesystem::path& folder) {
  StartUpSettings settings;
  platform::IniFile ini(folder / kIniFileName);
  if (ini.Exists()) {
    settings.port = ini.ReadString(kIniSection, KeyName(IniKey::kPort), Fallback(IniKey::kPort));
    settings.concatenate = ini.ReadString(kIniSection, KeyName(IniKey::kConcatenate), "") == "1";
  } else {
    ini.WriteString(kIniSection, KeyName(IniKey::kPort), Fallback(IniKey::kPort));
    settings.port = Fallback(IniKey::kPort);
  }
  return settings;
}

std::filesystem::path ArchiveFile(std::initializer_list<std::filesystem::path> ini_files) {
  for (const std::filesystem::path& file : ini_files) {
    if (auto name = ReadKey(file, IniKey::kArchive))
      return archive::ResolveArchivePath(platform::Cp1251ToUtf8(*name), file.parent_path());
  }
  return archive::ResolveArchivePath({}, {});
}

}  // namespace vestrel::station
