#pragma once
// The application as the tray icon sees it, on Qt: the minimise event is a
// minimise of the main window; the taskbar entry is the main window itself, so
// hiding it removes the entry.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "tray/tray_application.h"

namespace vestrel {

class QtTrayApplication : public QObject, public TrayApplication {
 public:
  explicit QtTrayApplication(QWidget* main_window);
  ~QtTrayApplication() override;

  std::string Title() const override;
  void SetOnMinimize(std::function<void()> handler) override;
  void Minimize() override;
  void Restore() override;
  void ShowTaskbarEntry(bool show) override;
  QPoint CursorPos() const override;
  int MenuItemHeight() const override;
  void Popup(QMenu& menu, QPoint pos) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> window_;
  std::function<void()> on_minimize_;
  bool hidden_here_ = false;
  bool quit_on_last_closed_ = true;
  bool closing_ = false;  // a close request is being handed to the window
};

}  // namespace vestrel
