#include <windows.h>
// After <windows.h>:
#include <shellapi.h>

#include "platform/shell_desktop.h"
#include "platform/win32_ui.h"

namespace vestrel::platform {
namespace {

// ShellExecuteW reports success as a value above 32.
bool Accepted(HINSTANCE result) {
  return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace

bool DesktopOpen(const ShellRequest& request) {
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

}  // namespace vestrel::platform
