#pragma once
// The link between the platform layer and Qt's event loop, and the one place
// where Windows-1251 text meets QString.

#include <QString>
#include <string>

namespace vestrel::platform {

// On the user-interface thread, after the QApplication exists: marks the thread,
// makes queued work wake the event loop (a posted event whose handler runs
// CheckSynchronize) and makes ProcessMessages() run processEvents().
void InstallQtGlue();
// Undoes InstallQtGlue (before the QApplication goes away).
void RemoveQtGlue();

QString ToQString(const std::string& cp1251);
std::string FromQString(const QString& text);

}  // namespace vestrel::platform
