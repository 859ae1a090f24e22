#include "tray/program_icon.h"

namespace vestrel {

QIcon ProgramIcon() {
  // The .ico is read as a whole, so the icon carries all nine sizes and each
  // use (title bar, taskbar, notification area) picks the nearest one.
  return QIcon(QStringLiteral(":/vestrel/icon/vestrel.ico"));
}

}  // namespace vestrel
