#pragma once
// Short-lived files that only this user may read, opened without following a
// symbolic link, so that nobody can make the program write or read elsewhere.

#include <string>
#include <string_view>

namespace vestrel::platform {

// Creates the file, or empties an existing one, readable and writable by the
// user alone, and writes the bytes. Throws Exception when the file cannot be
// opened (a symbolic link included), written or closed.
void WritePrivateFile(const std::string& path, std::string_view bytes);

// All bytes of the file; throws Exception when it cannot be opened (a symbolic
// link included) or read.
std::string ReadPrivateFile(const std::string& path);

// Removes the file; false when that failed.
bool RemoveFile(const std::string& path);

}  // namespace vestrel::platform
