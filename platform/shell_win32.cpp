#include <windows.h>
// After <windows.h>:
#include <shellapi.h>

#include <mutex>

#include "platform/shell.h"
#include "platform/win32_ui.h"

namespace vestrel::platform {
namespace {

std::mutex hook_mutex;
ShellHook installed_hook;

// ShellExecuteW reports success as a value above 32.
bool Accepted(HINSTANCE result) {
  return reinterpret_cast<INT_PTR>(result) > 32;
}

bool Desktop(const ShellRequest& request) {
  if (request.verb != "open") return false;
  // An address takes the shell's default action; a document is opened and
  // its window restored, on its wide path (the guide's name is Cyrillic).
  if (!request.url.empty()) {
    return Accepted(::ShellExecuteW(nullptr, nullptr, WideFromCp1251(request.url).c_str(), nullptr,
                                    nullptr, SW_SHOW));
  }
  return Accepted(
      ::ShellExecuteW(nullptr, L"open", request.file.c_str(), nullptr, nullptr, SW_RESTORE));
}

bool Dispatch(const ShellRequest& request) {
  ShellHook hook;
  {
    std::lock_guard lock(hook_mutex);
    hook = installed_hook;
  }
  return hook ? hook(request) : Desktop(request);
}

}  // namespace

bool ShellOpenFile(const std::filesystem::path& file, const std::string& verb) {
  return Dispatch(ShellRequest{verb, file, {}});
}

bool ShellOpenUrl(const std::string& url, const std::string& verb) {
  return Dispatch(ShellRequest{verb, {}, url});
}

ShellHook SetShellHook(ShellHook hook) {
  std::lock_guard lock(hook_mutex);
  std::swap(installed_hook, hook);
  return hook;
}

}  // namespace vestrel::platform
