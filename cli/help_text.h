#pragma once
// The pieces of --help that differ by OS or build, each from the file that
// knows it: the ports from the serial-device list of this OS, the console's
// conventions from the console file, the archive from the archive access of
// this build. help_text.cpp puts them in place.

#include <string>

namespace vestrel::cli {

// serial_ports_*.cpp: the "ports" command and the --port option.
const char* PortsCommandHelp();
const char* PortOptionHelp();
const char* PortExample();  // a port name as this OS's examples give it

// port_setup_*.cpp: the user's configuration file as help texts name it.
const char* UserConfigHelp();

// console_*.cpp: what the program takes and prints on this OS's console.
const char* ConsoleHelp();

// archive_access_*.cpp: the archive's command, options, exit code 7 and where
// it lives.
struct ArchiveHelp {
  std::string command;
  std::string json;  // the rest of --json's line
  std::string options;
  std::string no_archive;
  std::string exit_code;
  std::string location;  // a closing paragraph, or empty
};
ArchiveHelp ArchiveHelpText();

// The pieces name Pelmora.ini's file, section and keys by placeholder
// ({ini:file}, {ini:section}, {ini:port}, {ini:port-default}, {ini:archive})
// so that the help cannot drift from the names the program reads.
std::string WithIniNames(std::string text);

}  // namespace vestrel::cli
