#include "win32_window/tray_icon.h"

#include <algorithm>

#include "platform/win32_ui.h"

namespace vestrel::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"TTrayIconWindow";
// The record in its first form: 88 bytes with narrow text, its wide
// counterpart here, whose tip holds the same 63 characters and a zero.
constexpr std::size_t kTipChars = 63;

}  // namespace

TTrayIcon::TTrayIcon(HWND main_window, const std::string& title)
    : main_window_(main_window), hint_(title) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kWindowClass;
  ::RegisterClassW(&wc);
  window_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                              nullptr, instance, this);
  data_.cbSize = NOTIFYICONDATAW_V1_SIZE;
  data_.hWnd = window_;
  data_.uID = 0;
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.uCallbackMessage = kCallbackMessage;
}

TTrayIcon::~TTrayIcon() {
  HideIcon();
  if (window_) ::DestroyWindow(window_);
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

void TTrayIcon::SetIcon(HICON icon) {
  icon_ = icon;
  UpdateIcon();
}

void TTrayIcon::FillIconAndTip() {
  data_.hIcon = icon_;
  const std::wstring tip = platform::WideFromCp1251(hint_.substr(0, kTipChars));
  std::fill(std::begin(data_.szTip), std::end(data_.szTip), L'\0');
  std::copy(tip.begin(), tip.end(), data_.szTip);
}

void TTrayIcon::UpdateIcon() {
  FillIconAndTip();
  if (visible_) ::Shell_NotifyIconW(NIM_MODIFY, &data_);
}

void TTrayIcon::ShowIcon() {
  FillIconAndTip();
  ::Shell_NotifyIconW(NIM_ADD, &data_);
  visible_ = true;
  if (!::IsIconic(main_window_)) ::ShowWindow(main_window_, SW_MINIMIZE);
  // The taskbar button goes with the window: hidden, it is off the taskbar.
  ::ShowWindow(main_window_, SW_HIDE);
}

void TTrayIcon::HideIcon() {
  ::Shell_NotifyIconW(NIM_DELETE, &data_);
  visible_ = false;
  if (!::IsWindow(main_window_)) return;
  if (!::IsWindowVisible(main_window_)) ::ShowWindow(main_window_, SW_SHOW);
  if (::IsIconic(main_window_)) ::ShowWindow(main_window_, SW_RESTORE);
  ::SetForegroundWindow(main_window_);
}

void TTrayIcon::AppMinimize() {
  if (act_on_minimize_ != visible_) ShowIcon();
}

void TTrayIcon::PopupAtCursor() {
  if (!popup_menu_) return;
  POINT pos{};
  ::GetCursorPos(&pos);
  ::SetForegroundWindow(window_);
  // The menu opens above the cursor, as far as its top-level items reach.
  pos.y -= ::GetSystemMetrics(SM_CYMENUSIZE) * ::GetMenuItemCount(popup_menu_);
  ::TrackPopupMenu(popup_menu_, TPM_LEFTALIGN, pos.x, pos.y, 0, window_, nullptr);
  ::PostMessageW(window_, WM_NULL, 0, 0);
}

LRESULT TTrayIcon::WndProc(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != kCallbackMessage) return ::DefWindowProcW(window_, message, wparam, lparam);
  switch (lparam) {
    case WM_LBUTTONDOWN:
      HideIcon();
      break;
    case WM_RBUTTONDOWN:
      PopupAtCursor();
      break;
    default:
      break;
  }
  return 0;
}

LRESULT CALLBACK TTrayIcon::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TTrayIcon*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TTrayIcon*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self || !self->window_) return ::DefWindowProcW(window, message, wparam, lparam);
  return self->WndProc(message, wparam, lparam);
}

}  // namespace vestrel::win32
