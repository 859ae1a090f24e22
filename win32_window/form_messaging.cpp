#include "win32_window/form_messaging.h"

#include "platform/win32_ui.h"

namespace vestrel::win32 {

std::string EditField::Text() const {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(edit_)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextW(edit_, text.data(), static_cast<int>(text.size()))));
  return platform::Cp1251FromWide(text);
}

std::wstring DisplayedText(const std::string& cp1251) {
  const std::wstring wide = platform::WideFromCp1251(cp1251);
  std::wstring shown;
  shown.reserve(wide.size() + wide.size() / 16);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const wchar_t c = wide[i];
    if (c == L'\r' || c == L'\n') {
      shown += L"\r\n";
      if (c == L'\r' && i + 1 < wide.size() && wide[i + 1] == L'\n') ++i;
    } else {
      shown.push_back(c);
    }
  }
  return shown;
}

// An edit control takes its whole text at once; the panes are small enough
// (a day's log) for that, and the control keeps no undo of a read-only pane.
ShadowPane::Display CommandLogDisplay(HWND memo) {
  return {[memo](const std::string& text) {
            ::SetWindowTextW(memo, DisplayedText(text).c_str());
            const int end = ::GetWindowTextLengthW(memo);
            ::SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
            ::SendMessageW(memo, EM_SCROLLCARET, 0, 0);
          },
          {},
          {}};
}

// Setting the text shows its top.
ShadowPane::Display ModemLogDisplay(HWND memo) {
  return {[memo](const std::string& text) { ::SetWindowTextW(memo, DisplayedText(text).c_str()); },
          {},
          {}};
}

}  // namespace vestrel::win32
