#include "tray/tray_icon.h"

#include <QMenu>
#include <QWidget>

#include <algorithm>

#include "tray/qt_notify_area.h"
#include "tray/qt_tray_application.h"

namespace vestrel {

void TIcon::Assign(const QIcon& icon) {
  icon_ = icon;
  if (OnChange) OnChange();
}

TTrayIcon::TTrayIcon(QWidget* owner)
    : TTrayIcon(owner, QtNotifyArea::Instance(),
                std::make_unique<QtTrayApplication>(owner ? owner->window() : nullptr), nullptr) {}

TTrayIcon::TTrayIcon(QObject* owner, NotifyArea& area, TrayApplication& application)
    : TTrayIcon(owner, area, nullptr, &application) {}

TTrayIcon::TTrayIcon(QObject* owner, NotifyArea& area,
                     std::unique_ptr<TrayApplication> own_application, TrayApplication* application)
    : QObject(owner),
      own_application_(std::move(own_application)),
      area_(area),
      application_(application ? *application : *own_application_) {
  hint_ = application_.Title();
  visible_ = false;
  icon_ = std::make_unique<TIcon>();
  window_ = std::make_unique<TUtilityWindow>([this](TMessage& message) { WndProc(message); });
  data_.cbSize = kNotifyIconDataSize;
  data_.hWnd = window_.get();
  data_.uID = 0;
  data_.uFlags = kFlags;
  data_.uCallbackMessage = kCallbackMessage;
  icon_->OnChange = [this] { IconChanged(); };
  popup_menu_ = nullptr;
  application_.SetOnMinimize([this] { AppMinimize(); });
}

TTrayIcon::~TTrayIcon() {
  HideIcon();
  // The minimise handler must not outlive the component.
  application_.SetOnMinimize(nullptr);
  window_.reset();
  icon_.reset();
}

void TTrayIcon::SetVisible(bool value) {
  if (value == visible_) return;
  if (value)
    ShowIcon();
  else
    HideIcon();
}

void TTrayIcon::SetHint(const std::string& value) {
  if (value == hint_) return;
  hint_ = value;
  UpdateIcon();
}

void TTrayIcon::SetIcon(const QIcon& value) {
  icon_->Assign(value);
}

void TTrayIcon::FillIconAndTip() {
  data_.hIcon = icon_->Handle();
  const std::size_t n = std::min(hint_.size(), kTipSize - 1);
  std::fill(data_.szTip.begin(), data_.szTip.end(), '\0');
  std::copy_n(hint_.begin(), n, data_.szTip.begin());
}

void TTrayIcon::UpdateIcon() {
  FillIconAndTip();
  if (visible_) area_.ShellNotifyIcon(kNimModify, data_);
}

void TTrayIcon::ShowIcon() {
  FillIconAndTip();
  area_.ShellNotifyIcon(kNimAdd, data_);
  visible_ = true;
  application_.Minimize();
  // Without a notification area there would be no way back to a window whose
  // taskbar entry is gone: it then stays an ordinary minimised window.
  if (area_.Available()) application_.ShowTaskbarEntry(false);
}

void TTrayIcon::HideIcon() {
  area_.ShellNotifyIcon(kNimDelete, data_);
  application_.ShowTaskbarEntry(true);
  application_.Restore();
  visible_ = false;
}

void TTrayIcon::AppMinimize() {
  if (act_on_minimize_ != visible_) ShowIcon();
}

void TTrayIcon::IconChanged() {
  UpdateIcon();
}

void TTrayIcon::WndProc(TMessage& message) {
  if (message.Msg != kCallbackMessage) {
    message.Result = DefaultWindowProc(message);
    return;
  }
  switch (message.LParam) {
    case kWmLButtonDown:
      HideIcon();
      break;
    case kWmRButtonDown:
      PopupAtCursor();
      break;
    default:
      break;
  }
}

void TTrayIcon::PopupAtCursor() {
  if (!popup_menu_) return;
  QPoint pos = application_.CursorPos();
  popup_menu_->setLayoutDirection(Qt::LeftToRight);
  // The menu opens above the cursor, as far as its top-level items reach.
  const int items = static_cast<int>(popup_menu_->actions().size());
  pos.setY(pos.y() - application_.MenuItemHeight() * items);
  application_.Popup(*popup_menu_, pos);
  window_->PostWindowMessage(kWmNull, 0, 0);
}

}  // namespace vestrel
