#pragma once
// TTrayIcon: puts an icon into the notification area and hides the program's
// taskbar entry while it is there. Minimising the application moves it there
// (with ActOnMinimize); a left press on the icon brings it back.
//
// The component owns a hidden window that receives the icon's mouse
// notifications as message 1025, the mouse message in the second parameter.
// Everything runs on the user-interface thread.

#include <QIcon>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>

#include "tray/notify_area.h"
#include "tray/tray_application.h"
#include "tray/utility_window.h"

class QMenu;
class QWidget;

namespace vestrel {

// An icon picture with a change notification.
class TIcon {
 public:
  const QIcon& Handle() const { return icon_; }
  bool Empty() const { return icon_.isNull(); }
  void Assign(const QIcon& icon);
  std::function<void()> OnChange;

 private:
  QIcon icon_;
};

class TTrayIcon : public QObject {
 public:
  static constexpr std::uint32_t kCallbackMessage = kWmUser + 1;  // 1025
  static constexpr std::uint32_t kFlags = kNifMessage | kNifIcon | kNifTip;

  // For the program: the notification area of the desktop, and the owner's
  // top-level window as the application's main window.
  explicit TTrayIcon(QWidget* owner);
  // With the notification area and the application given; both must outlive
  // the component.
  TTrayIcon(QObject* owner, NotifyArea& area, TrayApplication& application);
  ~TTrayIcon() override;

  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  bool ActOnMinimize() const { return act_on_minimize_; }
  void SetActOnMinimize(bool value) { act_on_minimize_ = value; }
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& value);
  const TIcon& Icon() const { return *icon_; }
  void SetIcon(const QIcon& value);
  QMenu* PopupMenu() const { return popup_menu_; }
  void SetPopupMenu(QMenu* menu) { popup_menu_ = menu; }

  void ShowIcon();
  void HideIcon();
  void UpdateIcon();

  // The record as it stands (for inspection).
  const NotifyIconData& IconData() const { return data_; }
  TUtilityWindow& Window() const { return *window_; }

 protected:
  virtual void WndProc(TMessage& message);

 private:
  TTrayIcon(QObject* owner, NotifyArea& area, std::unique_ptr<TrayApplication> own_application,
            TrayApplication* application);

  void AppMinimize();
  void IconChanged();
  void PopupAtCursor();
  void FillIconAndTip();

  std::unique_ptr<TrayApplication> own_application_;
  NotifyArea& area_;
  TrayApplication& application_;  // *own_application_ when the component made it
  NotifyIconData data_;
  bool visible_ = false;
  bool act_on_minimize_ = false;
  std::string hint_;
  std::unique_ptr<TIcon> icon_;
  std::unique_ptr<TUtilityWindow> window_;
  QPointer<QMenu> popup_menu_;
};

}  // namespace vestrel
