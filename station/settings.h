#pragma once
// Pelmora.ini, the configuration beside the program: its keys in one table,
// so that every front end and vestrel-sms read the same names, and the
// archive file that the configuration names.

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>

namespace vestrel::station {

inline constexpr char kIniFileName[] = "Pelmora.ini";
inline constexpr char kIniSection[] = "MODEM";
// A file name on disk, not program text: UTF-8 like every Linux file name.
inline constexpr char kHelpDocumentName[] = "Подготовка программы к работе.doc";

enum class IniKey {
  kPort,         // "COM Порт": the modem's port
  kArchive,      // "Архив": another archive file
  kConcatenate,  // "Склейка": 1 sends a long text as one message
  kReading,      // "Чтение": how the inbox is read (PDU: in PDU mode)
  kMemory,       // "Память": which memory the inbox is read from
};

struct IniKeyEntry {
  IniKey key;
  const char* name_utf8;  // as the file and the help texts spell it
  const char* fallback;   // the value when the key is missing (UTF-8)
};

inline constexpr IniKeyEntry kIniKeys[] = {
    {IniKey::kPort, "COM Порт", "COM11"},  {IniKey::kArchive, "Архив", ""},
    {IniKey::kConcatenate, "Склейка", ""}, {IniKey::kReading, "Чтение", ""},
    {IniKey::kMemory, "Память", ""},
};

const IniKeyEntry& Entry(IniKey key);
// The key's name in Windows-1251, as the profile functions take it.
const std::string& KeyName(IniKey key);
// The key's fallback value in Windows-1251 ("COM11" for the port).
std::string Fallback(IniKey key);

// The key of section MODEM in file (Windows-1251), or nothing when the file,
// the key or its value is missing, or the file cannot be read.
std::optional<std::string> ReadKey(const std::filesystem::path& file, IniKey key);

// What the window reads at start-up from Pelmora.ini in folder. A missing
// file is written with the default port first, as the window always did.
struct StartUpSettings {
  std::string port;  // Windows-1251
  bool concatenate = false;
};
StartUpSettings ReadStartUpSettings(const std::filesystem::path& folder);

// The archive file: the "Архив" key of the first of ini_files that names one,
// taken from that file's folder when relative; else the user's data folder.
std::filesystem::path ArchiveFile(std::initializer_list<std::filesystem::path> ini_files);

}  // namespace vestrel::station
