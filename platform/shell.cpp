// Shell open for every front end: a request goes to the test hook when one is
// installed, else to the desktop (shell_qt.cpp, shell_win32.cpp). Built into
// each front end's platform library, beside its desktop.
#include "platform/shell.h"

#include <mutex>

#include "platform/shell_desktop.h"

namespace vestrel::platform {
namespace {

std::mutex hook_mutex;
ShellHook installed_hook;

bool Dispatch(const ShellRequest& request) {
  ShellHook hook;
  {
    std::lock_guard lock(hook_mutex);
    hook = installed_hook;
  }
  return hook ? hook(request) : DesktopOpen(request);
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
