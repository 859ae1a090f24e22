#pragma once
// What the tray icon needs of the application: its title, its minimise event,
// minimising and restoring it, its taskbar entry, and the mouse and popup menus.

#include <QPoint>

#include <functional>
#include <string>

class QMenu;

namespace vestrel {

class TrayApplication {
 public:
  virtual ~TrayApplication() = default;

  // The application title (Windows-1251).
  virtual std::string Title() const = 0;
  // Replaces the handler of the minimise event; an empty function removes it.
  virtual void SetOnMinimize(std::function<void()> handler) = 0;
  // Minimises the application; nothing when it already is.
  virtual void Minimize() = 0;
  // Brings the main window back from its minimised state.
  virtual void Restore() = 0;
  // Hides or shows the window that carries the taskbar entry.
  virtual void ShowTaskbarEntry(bool show) = 0;

  virtual QPoint CursorPos() const = 0;
  // Height of one line of a menu, in pixels.
  virtual int MenuItemHeight() const = 0;
  // Opens the menu with its top-left corner at pos and returns at once.
  virtual void Popup(QMenu& menu, QPoint pos) = 0;
};

}  // namespace vestrel
