#pragma once
// Handing documents and addresses to the desktop: the user's preferred program
// opens them. The call returns at once; whether anything opened is not waited for.

#include <filesystem>
#include <functional>
#include <string>

namespace vestrel::platform {

// One request to the desktop: a local file, or a URL (mailto:, http:, ...).
struct ShellRequest {
  std::string verb;            // only "open" is carried out
  std::filesystem::path file;  // set for a local file
  std::string url;             // set for an address (Windows-1251 text)
};

// Returns whether the desktop accepted the request.
bool ShellOpenFile(const std::filesystem::path& file, const std::string& verb = "open");
bool ShellOpenUrl(const std::string& url, const std::string& verb = "open");

// Replaces the desktop with hook (tests record the requests); an empty hook
// restores the desktop. Returns the previous hook.
using ShellHook = std::function<bool(const ShellRequest&)>;
ShellHook SetShellHook(ShellHook hook);

}  // namespace vestrel::platform
