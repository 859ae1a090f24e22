#include "tray/qt_notify_area.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSystemTrayIcon>

#include "platform/qt_glue.h"
#include "tray/utility_window.h"

namespace vestrel {

struct QtNotifyArea::Entry {
  // Removed with deleteLater: the icon's own click may be what removes it.
  Entry() : icon(new QSystemTrayIcon) {}
  ~Entry() {
    if (!QCoreApplication::instance()) return;  // the desktop link is gone with the application
    icon->hide();
    icon->deleteLater();
  }
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;

  QSystemTrayIcon* icon;
  QPointer<TUtilityWindow> window;
  std::uint32_t id = 0;
  std::uint32_t callback = 0;
  bool notify = false;
};

namespace {

// The mouse message that a press of this kind stands for. The desktop reports
// clicks, not presses, so a click counts as the press that began it.
std::intptr_t MouseMessage(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      return kWmLButtonDown;
    case QSystemTrayIcon::Context:
      return kWmRButtonDown;
    case QSystemTrayIcon::DoubleClick:
      return kWmLButtonDblClk;
    case QSystemTrayIcon::MiddleClick:
      return kWmMButtonDown;
    default:
      return kWmMouseMove;
  }
}

}  // namespace

std::string NotifyIconData::Tip() const {
  std::size_t n = 0;
  while (n < szTip.size() && szTip[n] != '\0') ++n;
  return std::string(szTip.data(), n);
}

QtNotifyArea::QtNotifyArea() = default;
QtNotifyArea::~QtNotifyArea() = default;

QtNotifyArea& QtNotifyArea::Instance() {
  static QtNotifyArea area;
  return area;
}

bool QtNotifyArea::Available() const {
  return QSystemTrayIcon::isSystemTrayAvailable();
}

QSystemTrayIcon* QtNotifyArea::IconOf(const TUtilityWindow* window, std::uint32_t id) const {
  const auto it = icons_.find(Key{const_cast<TUtilityWindow*>(window), id});
  return it == icons_.end() ? nullptr : it->second->icon;
}

void QtNotifyArea::Apply(Entry& entry, const NotifyIconData& data) {
  if (data.uFlags & kNifIcon) entry.icon->setIcon(data.hIcon);
  if (data.uFlags & kNifTip) entry.icon->setToolTip(platform::ToQString(data.Tip()));
  if (data.uFlags & kNifMessage) {
    entry.notify = true;
    entry.callback = data.uCallbackMessage;
  }
}

bool QtNotifyArea::ShellNotifyIcon(std::uint32_t message, const NotifyIconData& data) {
  if (data.cbSize != kNotifyIconDataSize || data.hWnd == nullptr) return false;
  const Key key{data.hWnd, data.uID};
  auto it = icons_.find(key);
  switch (message) {
    case kNimAdd: {
      if (it != icons_.end()) return false;
      auto entry = std::make_shared<Entry>();
      entry->window = data.hWnd;
      entry->id = data.uID;
      Apply(*entry, data);
      std::weak_ptr<Entry> weak = entry;
      QObject::connect(entry->icon, &QSystemTrayIcon::activated, entry->icon,
                       [weak](QSystemTrayIcon::ActivationReason reason) {
                         const auto live = weak.lock();
                         if (!live || !live->notify || live->window.isNull()) return;
                         live->window->SendWindowMessage(live->callback, live->id,
                                                         MouseMessage(reason));
                       });
      entry->icon->show();
      icons_.emplace(key, std::move(entry));
      return true;
    }
    case kNimModify:
      if (it == icons_.end()) return false;
      Apply(*it->second, data);
      return true;
    case kNimDelete:
      if (it == icons_.end()) return false;
      icons_.erase(it);
      return true;
    default:
      return false;
  }
}

}  // namespace vestrel
