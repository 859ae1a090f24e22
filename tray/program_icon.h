#pragma once
// The program icon: one picture in nine sizes (256 down to 16 pixels, 32 bits
// per pixel), used for the application, the main window and the tray icon.

#include <QIcon>

namespace vestrel {

// Needs a QGuiApplication. Every call gives the same picture.
QIcon ProgramIcon();

}  // namespace vestrel
