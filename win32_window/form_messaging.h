#pragma once
// The Windows window's controls as the station sees them: its edit fields
// behind the narrow views that the dialogues read, its logs as displays of
// the bytes the station keeps.

#include <windows.h>

#include <string>

#include "messaging/messaging_io.h"

namespace vestrel::win32 {

// An edit control's text in Windows-1251 (a multi-line one keeps CR LF).
class EditField : public InputField {
 public:
  explicit EditField(HWND edit) : edit_(edit) {}
  std::string Text() const override;

 private:
  HWND edit_;
};

// The text an edit control shows for a pane's bytes: every CR LF, lone CR and
// lone LF is one line break (CR LF, the only one an edit control knows).
std::wstring DisplayedText(const std::string& cp1251);

// Memo1: the newest command stays in view at the bottom.
ShadowPane::Display CommandLogDisplay(HWND memo);
// Memo2: the newest chunk stands at the top.
ShadowPane::Display ModemLogDisplay(HWND memo);

}  // namespace vestrel::win32
