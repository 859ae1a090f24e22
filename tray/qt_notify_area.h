#pragma once
// The notification area of the desktop, through QSystemTrayIcon: one
// QSystemTrayIcon per (window, identifier).

#include <map>
#include <memory>
#include <utility>

#include "tray/notify_area.h"

class QSystemTrayIcon;

namespace vestrel {

class QtNotifyArea : public NotifyArea {
 public:
  QtNotifyArea();
  ~QtNotifyArea() override;

  // The program's one instance (user-interface thread).
  static QtNotifyArea& Instance();

  bool ShellNotifyIcon(std::uint32_t message, const NotifyIconData& data) override;
  bool Available() const override;

  // The desktop icon standing for (window, id), or null.
  QSystemTrayIcon* IconOf(const TUtilityWindow* window, std::uint32_t id) const;

 private:
  struct Entry;
  using Key = std::pair<TUtilityWindow*, std::uint32_t>;
  void Apply(Entry& entry, const NotifyIconData& data);

  std::map<Key, std::shared_ptr<Entry>> icons_;
};

}  // namespace vestrel
