#pragma once
// Short-lived files that only this user may read. The name is never written
// through: whatever stands under it (a link to another file, a pipe, a
// symbolic link) is removed and a new file created in its place. Names are
// the system's bytes on Linux and UTF-8 on Windows, so that any folder the
// system can name holds them.

#include <filesystem>
#include <string>
#include <string_view>

namespace vestrel::platform {

// Stages the bytes in a file of their own under the name: removes what stands
// there, creates a new regular file exclusively (readable and writable by the
// user alone, no link followed, never blocking), writes the bytes, reads them
// back through the same descriptor, closes and removes the file. Returns the
// bytes read back. Throws Exception when any step fails; the file is removed.
std::string StagePrivateFile(const std::string& path, std::string_view bytes);

// Replaces the file's contents as a whole: writes them beside it under a
// fresh name made exclusively (never through a link left there) and renames
// that over the file, so a failed write never leaves half a file behind.
// False when any step failed; the fresh name is then gone again.
bool ReplaceFileContents(const std::filesystem::path& file, const std::string& content);

// Removes the file; false when that failed.
bool RemoveFile(const std::string& path);

}  // namespace vestrel::platform
