// The simulator's end of the line: a pseudo-terminal master whose slave a
// client opens through a symbolic link, as it would open a serial device.
#pragma once

#include <filesystem>
#include <string>

namespace vestrel::sim {

struct Pty {
  int master = -1;
  std::string slave_path;
};

// A non-blocking master in raw mode at 9600 8N1, set before any client can
// open the slave (a fresh slave starts in canonical mode with echo).
// Throws std::runtime_error.
Pty OpenPty();

// Points link at target, replacing an earlier symbolic link there but
// never another kind of file. Throws std::runtime_error.
void MakeLink(const std::filesystem::path& link, const std::string& target);

// Removes link if it still points at target.
void RemoveLink(const std::filesystem::path& link, const std::string& target);

}  // namespace vestrel::sim
