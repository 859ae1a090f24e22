#include "win32_window/form_messaging.h"

#include "platform/win32_ui.h"

namespace vestrel::win32 {
namespace {

// The newest command stays in view at the bottom of the command log.
ShadowPane::Show ShowBottom(HWND memo) {
  return [memo](const std::string& text) {
    ::SetWindowTextW(memo, DisplayedText(text).c_str());
    const int end = ::GetWindowTextLengthW(memo);
    ::SendMessageW(memo, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
    ::SendMessageW(memo, EM_SCROLLCARET, 0, 0);
  };
}

// The newest chunk stands at the top of the modem log: setting the text
// shows its top.
ShadowPane::Show ShowTop(HWND memo) {
  return [memo](const std::string& text) { ::SetWindowTextW(memo, DisplayedText(text).c_str()); };
}

}  // namespace

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

FormMessaging::FormMessaging(TBComPort& com_port, HWND command_log_memo, HWND modem_log_memo,
                             HWND number_edit, HWND text_memo, MessagingDurations durations)
    : port(com_port),
      command_log(ShowBottom(command_log_memo)),
      modem_log(ShowTop(modem_log_memo)),
      number(number_edit),
      text(text_memo),
      sms(port, command_log, number, text, durations, &stop),
      inbox(port, command_log, modem_log, durations, kStagingFileName, &stop) {
  // Every chunk passes the send on its way to the record: a send reads its
  // answers there.
  inbox.SetRecord(&sms.AnswerTap());
}

}  // namespace vestrel::win32
