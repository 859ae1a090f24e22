// Where a user of a POSIX system keeps their own settings, and how they get
// the rights to a serial port.
#include "archive/archive_files.h"
#include "cli/port_choice.h"

namespace vestrel::cli {

std::filesystem::path UserConfigFile() {
  std::filesystem::path folder;
  if (auto xdg = archive::files::Environment("XDG_CONFIG_HOME"); xdg && xdg->front() == '/')
    folder = *xdg;
  else if (auto home = archive::files::HomeFolder())
    folder = *home / ".config";
  else
    return {};
  return folder / "vestrel" / "vestrel-sms.ini";
}

const char* UserConfigHelp() {
  return "~/.config/vestrel/vestrel-sms.ini ($XDG_CONFIG_HOME/vestrel/ when set)";
}

// Serial devices belong to the group dialout; membership counts from the next
// login on.
const char* NoAccessHint() {
  return "Serial ports are open to the members of the group dialout. Add yourself:\n"
         "    sudo usermod -aG dialout $USER\n"
         "  then log out and in again (until then, \"newgrp dialout\" in this terminal).";
}

}  // namespace vestrel::cli
