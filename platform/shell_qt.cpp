#include <QDesktopServices>
#include <QFile>
#include <QUrl>

#include "platform/qt_glue.h"
#include "platform/shell_desktop.h"

namespace vestrel::platform {

bool DesktopOpen(const ShellRequest& request) {
  if (request.verb != "open") return false;
  if (!request.url.empty()) return QDesktopServices::openUrl(QUrl(ToQString(request.url)));
  // decodeName: file names are bytes in the locale's encoding, not Windows-1251.
  return QDesktopServices::openUrl(
      QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(request.file.string()))));
}

}  // namespace vestrel::platform
