#include <QDesktopServices>
#include <QFile>
#include <QUrl>
#include <mutex>

#include "platform/qt_glue.h"
#include "platform/shell.h"

namespace vestrel::platform {
namespace {

std::mutex hook_mutex;
ShellHook installed_hook;

bool Desktop(const ShellRequest& request) {
  if (request.verb != "open") return false;
  if (!request.url.empty()) return QDesktopServices::openUrl(QUrl(ToQString(request.url)));
  // decodeName: file names are bytes in the locale's encoding, not Windows-1251.
  return QDesktopServices::openUrl(
      QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(request.file.string()))));
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
