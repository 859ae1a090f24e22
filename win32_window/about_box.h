#pragma once
// TAboutBox for the Windows window: a modal dialog with the program's
// picture, its title, the file version from the executable's own VERSIONINFO
// (read once, when the box is made at start-up), a copyright line and two
// links handed to the shell.

#include <windows.h>

#include <string>

namespace vestrel::win32 {

class TAboutBox {
 public:
  // Resource identifier of the 71 x 71 picture (a BITMAP resource).
  static constexpr int kPictureResource = 2;
  static constexpr int kDialogLeft = 290;
  static constexpr int kDialogTop = 188;

  // Reads the version line from the executable's version block.
  TAboutBox();
  // The version line: "Версия: " and the file version (Windows-1251).
  const std::string& VersionLine() const { return version_line_; }
  // Shows the box over owner and returns when "Ok" closes it.
  void ShowModal(HWND owner);

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Handle(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  void FormCreate(HWND dialog);

  std::string version_line_;
  HFONT fonts_[5] = {};
  HBITMAP picture_ = nullptr;
};

}  // namespace vestrel::win32
