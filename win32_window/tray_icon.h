#pragma once
// TTrayIcon for the Windows window: the icon in the notification area through
// Shell_NotifyIconW, with the rules of the Linux component (tray/tray_icon.h):
// minimising the application with ActOnMinimize moves it there and hides its
// taskbar button; a left press on the icon brings the main window back.
// A hidden window of the component receives the icon's mouse notifications as
// message 1025, the mouse message in the second parameter.

#include <windows.h>
// After <windows.h>:
#include <shellapi.h>

#include <string>

namespace vestrel::win32 {

class TTrayIcon {
 public:
  static constexpr UINT kCallbackMessage = WM_USER + 1;  // 1025

  // main_window: the window whose minimise moves the program into the notification area.
  explicit TTrayIcon(HWND main_window, const std::string& title);
  ~TTrayIcon();
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  bool Visible() const { return visible_; }
  void SetVisible(bool value);
  bool ActOnMinimize() const { return act_on_minimize_; }
  void SetActOnMinimize(bool value) { act_on_minimize_ = value; }
  const std::string& Hint() const { return hint_; }
  void SetHint(const std::string& value);  // Windows-1251
  void SetIcon(HICON icon);
  // A popup menu opened by the right button; not owned, may be null.
  void SetPopupMenu(HMENU menu) { popup_menu_ = menu; }

  void ShowIcon();
  void HideIcon();
  void UpdateIcon();
  // The main window's minimise event.
  void AppMinimize();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT WndProc(UINT message, WPARAM wparam, LPARAM lparam);
  void FillIconAndTip();
  void PopupAtCursor();

  HWND main_window_;
  HWND window_ = nullptr;
  NOTIFYICONDATAW data_{};
  bool visible_ = false;
  bool act_on_minimize_ = false;
  std::string hint_;
  HICON icon_ = nullptr;
  HMENU popup_menu_ = nullptr;
};

}  // namespace vestrel::win32
