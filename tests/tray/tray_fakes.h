#pragma once
// Recording stand-ins for the notification area and the application.

#include <QMenu>

#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tray/notify_area.h"
#include "tray/tray_application.h"

namespace vestrel::test {

// Keeps icons the way the desktop does: a second add of the same icon fails,
// as do a change or removal of an icon that is not there.
class RecordingNotifyArea : public NotifyArea {
 public:
  struct Call {
    std::uint32_t message;
    NotifyIconData data;
    bool result;
  };

  bool ShellNotifyIcon(std::uint32_t message, const NotifyIconData& data) override {
    const auto key = std::make_pair(data.hWnd, data.uID);
    bool ok = false;
    if (message == kNimAdd)
      ok = icons.insert(key).second;
    else if (message == kNimModify)
      ok = icons.count(key) == 1;
    else if (message == kNimDelete)
      ok = icons.erase(key) == 1;
    calls.push_back({message, data, ok});
    return ok;
  }
  bool Available() const override { return available; }

  std::vector<std::uint32_t> Messages() const {
    std::vector<std::uint32_t> out;
    for (const auto& c : calls) out.push_back(c.message);
    return out;
  }

  bool available = true;
  std::set<std::pair<TUtilityWindow*, std::uint32_t>> icons;
  std::vector<Call> calls;
};

// An application with a minimised flag and a taskbar entry; Minimize() raises
// the minimise event as the real one does.
class RecordingApplication : public TrayApplication {
 public:
  std::string Title() const override { return title; }
  void SetOnMinimize(std::function<void()> handler) override { on_minimize = std::move(handler); }
  void Minimize() override {
    log.push_back("minimize");
    if (minimized) return;
    minimized = true;
    if (on_minimize) on_minimize();
  }
  void Restore() override {
    log.push_back("restore");
    minimized = false;
  }
  void ShowTaskbarEntry(bool show) override {
    log.push_back(show ? "show-entry" : "hide-entry");
    taskbar_entry = show;
  }
  QPoint CursorPos() const override { return cursor; }
  int MenuItemHeight() const override { return 19; }
  void Popup(QMenu& menu, QPoint pos) override { popups.emplace_back(&menu, pos); }

  // The operator minimises the main window.
  void UserMinimize() { Minimize(); }

  std::string title = "Vestrel_tests";
  std::function<void()> on_minimize;
  bool minimized = false;
  bool taskbar_entry = true;
  QPoint cursor{500, 700};
  std::vector<std::string> log;
  std::vector<std::pair<QMenu*, QPoint>> popups;
};

}  // namespace vestrel::test
