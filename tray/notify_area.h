#pragma once
// The notification area ("system tray") as the program talks to it: one call
// that adds, modifies or deletes an icon described by a notification record.
// A mouse event on an icon is sent to the record's window as the record's
// callback message, with the mouse message as the second parameter.

#include <QIcon>

#include <array>
#include <cstdint>
#include <string>

namespace vestrel {

class TUtilityWindow;

inline constexpr std::uint32_t kNimAdd = 0;
inline constexpr std::uint32_t kNimModify = 1;
inline constexpr std::uint32_t kNimDelete = 2;

inline constexpr std::uint32_t kNifMessage = 1;
inline constexpr std::uint32_t kNifIcon = 2;
inline constexpr std::uint32_t kNifTip = 4;

inline constexpr std::uint32_t kWmNull = 0;
inline constexpr std::uint32_t kWmUser = 0x0400;
inline constexpr std::intptr_t kWmMouseMove = 512;
inline constexpr std::intptr_t kWmLButtonDown = 513;
inline constexpr std::intptr_t kWmLButtonUp = 514;
inline constexpr std::intptr_t kWmLButtonDblClk = 515;
inline constexpr std::intptr_t kWmRButtonDown = 516;
inline constexpr std::intptr_t kWmRButtonUp = 517;
inline constexpr std::intptr_t kWmMButtonDown = 519;

// The notification record in its first version: 88 bytes on the system where
// it is a plain structure; here the fields keep their meaning and cbSize its value.
inline constexpr std::uint32_t kNotifyIconDataSize = 88;
inline constexpr std::size_t kTipSize = 64;  // 63 characters and a terminating zero

struct NotifyIconData {
  std::uint32_t cbSize = kNotifyIconDataSize;
  TUtilityWindow* hWnd = nullptr;
  std::uint32_t uID = 0;
  std::uint32_t uFlags = 0;
  std::uint32_t uCallbackMessage = 0;
  QIcon hIcon;
  std::array<char, kTipSize> szTip{};  // Windows-1251, zero-terminated

  std::string Tip() const;  // szTip up to its zero
};

class NotifyArea {
 public:
  virtual ~NotifyArea() = default;
  // Adds (kNimAdd), changes (kNimModify) or removes (kNimDelete) the icon that
  // window and identifier name. False when that fails: an add for an icon
  // already there, a change or removal of one that is not.
  virtual bool ShellNotifyIcon(std::uint32_t message, const NotifyIconData& data) = 0;
  // Whether the desktop has a notification area at all.
  virtual bool Available() const = 0;
};

}  // namespace vestrel
