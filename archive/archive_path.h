#pragma once
// Where the archive lives: one file per user, where the platform keeps user
// data, unless the configuration names another file.

#include <filesystem>
#include <string>
#include <string_view>

namespace vestrel::archive {

inline constexpr char kArchiveFolderName[] = "vestrel";
inline constexpr char kArchiveFileName[] = "archive.sqlite";

// $XDG_DATA_HOME/vestrel/archive.sqlite when XDG_DATA_HOME holds an absolute
// path, else ~/.local/share/vestrel/archive.sqlite (the home folder from HOME,
// else from the user database). Nothing is created here.
std::filesystem::path DefaultArchivePath();

// The default place as a user reads it in help texts (environment variables
// unexpanded).
std::string DefaultArchivePathHelp();

// The file to use given the configured name (UTF-8; empty: not configured):
// the default when empty; "~/…" under the home folder; a relative name taken
// from relative_to (the folder of the configuration file); else as given.
std::filesystem::path ResolveArchivePath(std::string_view configured,
                                         const std::filesystem::path& relative_to);

}  // namespace vestrel::archive
