// Where a Windows user keeps their own settings. A COM port needs no group
// membership there: a denied open means another program holds the port.
#include "archive/archive_files.h"
#include "cli/port_choice.h"

namespace vestrel::cli {

std::filesystem::path UserConfigFile() {
  const auto app_data = archive::files::Environment("APPDATA");
  if (!app_data) return {};
  const std::u8string folder(app_data->begin(), app_data->end());
  return std::filesystem::path(folder) / "vestrel" / "vestrel-sms.ini";
}

const char* UserConfigHelp() {
  return "%APPDATA%\\vestrel\\vestrel-sms.ini";
}

const char* NoAccessHint() {
  return "";
}

}  // namespace vestrel::cli
