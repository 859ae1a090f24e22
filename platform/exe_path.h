#pragma once
// Where the running executable lives. The configuration file and the help
// document are looked up beside it, never in the current directory.

#include <filesystem>

namespace vestrel::platform {

// Full path of the running executable. Throws Exception when the system cannot tell.
std::filesystem::path ExecutablePath();

// The folder that holds the running executable.
std::filesystem::path ExecutableFolder();

}  // namespace vestrel::platform
