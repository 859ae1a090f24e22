#pragma once
// "vestrel-sms help COMMAND" and "vestrel-sms COMMAND --help": one command's
// synopsis, what it does, its options and examples, from the same per-OS and
// per-build pieces as the whole program's --help.

#include <string>

#include "cli/options.h"

namespace vestrel::cli {

// For Send, Read, Archive and Ports; any other command gets the whole help.
std::string CommandHelpText(Command command);

// Where the port and the archive are set when --port is not given, with
// Pelmora.ini's names still as placeholders (see WithIniNames).
std::string SettingsHelp();

}  // namespace vestrel::cli
