#pragma once
// Which port vestrel-sms opens and where that name came from, so that an error
// can point to the place to change it. Without --port: VESTREL_PORT, else the
// user's own vestrel-sms.ini, else Pelmora.ini beside the program (the
// window's), else COM11.

#include <filesystem>
#include <optional>
#include <string>

namespace vestrel::cli {

inline constexpr char kPortVariable[] = "VESTREL_PORT";

enum class PortSource { kCommandLine, kEnvironment, kUserFile, kProgramIni, kDefault };

struct PortChoice {
  std::string name;   // what the port is given: UTF-8, or Windows-1251 from Pelmora.ini
  std::string shown;  // the same in UTF-8
  PortSource source = PortSource::kDefault;
  std::filesystem::path file;  // the INI file that named it
};

// The places a name may come from; an empty path: no such file.
struct PortPlaces {
  std::optional<std::string> command_line;
  std::optional<std::string> environment;  // empty counts as unset
  std::filesystem::path user_file;
  std::filesystem::path program_ini;
};

// The first place that names a port. A file that cannot be read counts as
// naming none.
PortChoice ChoosePort(const PortPlaces& places);

// The places of this process: --port, its environment, its user's file, the
// Pelmora.ini beside the program.
PortPlaces PortPlacesNow(const std::optional<std::string>& command_line);

// "from VESTREL_PORT", "from the key "COM Порт" in /…/Pelmora.ini", … (UTF-8).
std::string PortSourceText(const PortChoice& choice);

// What to print when the port did not open: the port, the window's message
// (Windows-1251 in), and for a missing port or missing rights how to mend it.
std::string PortOpenFailure(const PortChoice& choice, const std::string& cp1251_message);

// The archive file: the "Архив" key of the user's vestrel-sms.ini, else of
// Pelmora.ini beside the program, else the user's data folder.
std::filesystem::path ArchiveFile();

// port_setup_*.cpp, one per OS: the user's own configuration file (an empty
// path when the OS cannot tell where it would be), its name as help texts
// show it, and what a user without the rights to a port can do.
// (UserConfigHelp() is declared with the other help pieces in help_text.h.)
std::filesystem::path UserConfigFile();
const char* NoAccessHint();

}  // namespace vestrel::cli
