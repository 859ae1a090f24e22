#include "cli/port_choice.h"

#include <exception>

#include "archive/archive_files.h"
#include "comport/b_com_port.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"
#include "station/settings.h"

namespace vestrel::cli {
namespace {

using station::IniKey;

const char* PortKeyUtf8() {
  return station::Entry(IniKey::kPort).name_utf8;
}

std::string Utf8Path(const std::filesystem::path& file) {
  const std::u8string u8 = file.u8string();
  return std::string(u8.begin(), u8.end());
}

std::string KeyInFile(const std::filesystem::path& file) {
  return std::string("the key \"") + PortKeyUtf8() + "\" of section [" + station::kIniSection +
         "] in " + Utf8Path(file);
}

}  // namespace

PortChoice ChoosePort(const PortPlaces& places) {
  if (places.command_line)
    return {*places.command_line, *places.command_line, PortSource::kCommandLine, {}};
  if (places.environment && !places.environment->empty())
    return {*places.environment, *places.environment, PortSource::kEnvironment, {}};
  // The user's file is UTF-8 and read as such; its name is given as typed.
  if (auto name = station::ReadKey(places.user_file, IniKey::kPort)) {
    const std::string utf8 = platform::Cp1251ToUtf8(*name);
    return {utf8, utf8, PortSource::kUserFile, places.user_file};
  }
  // Pelmora.ini's name goes to the port as the window gives it.
  if (auto name = station::ReadKey(places.program_ini, IniKey::kPort))
    return {*name, platform::Cp1251ToUtf8(*name), PortSource::kProgramIni, places.program_ini};
  const char* fallback = station::Entry(IniKey::kPort).fallback;
  return {fallback, fallback, PortSource::kDefault, {}};
}

PortPlaces PortPlacesNow(const std::optional<std::string>& command_line) {
  PortPlaces places;
  places.command_line = command_line;
  places.environment = archive::files::Environment(kPortVariable);
  places.user_file = UserConfigFile();
  try {
    places.program_ini = platform::ExecutableFolder() / station::kIniFileName;
  } catch (const std::exception&) {
  }
  return places;
}

std::string PortSourceText(const PortChoice& choice) {
  switch (choice.source) {
    case PortSource::kCommandLine:
      return "given with --port";
    case PortSource::kEnvironment:
      return std::string("from the variable ") + kPortVariable;
    case PortSource::kUserFile:
    case PortSource::kProgramIni:
      return "from " + KeyInFile(choice.file);
    case PortSource::kDefault:
      break;
  }
  return "the default: no port is set";
}

std::string PortOpenFailure(const PortChoice& choice, const std::string& cp1251_message) {
  std::string text = (choice.shown.empty() ? "" : choice.shown + ": ") +
                     platform::Cp1251ToUtf8(platform::ErrorBoxText(cp1251_message));
  if (cp1251_message == comport_messages::NoAccess()) {
    if (*NoAccessHint()) text += std::string("\n  ") + NoAccessHint();
  } else if (cp1251_message == comport_messages::NoSuchPort()) {
    text += "\n  " + choice.shown + " is " + PortSourceText(choice) + ".";
    const std::filesystem::path user_file = UserConfigFile();
    text +=
        std::string("\n  Name the modem's port with --port NAME, the variable ") + kPortVariable;
    if (!user_file.empty())
      text += std::string(", or\n  \"") + PortKeyUtf8() + "=NAME\" in section [" +
              station::kIniSection + "] of " + Utf8Path(user_file);
    text += ";\n  \"vestrel-sms ports --probe\" shows which port a modem answers on.";
  }
  return text;
}

std::filesystem::path ArchiveFile() {
  std::filesystem::path program_ini;
  try {
    program_ini = platform::ExecutableFolder() / station::kIniFileName;
  } catch (const std::exception&) {
  }
  return station::ArchiveFile({UserConfigFile(), program_ini});
}

}  // namespace vestrel::cli
