#pragma once
// The modem dialogues as the Windows window holds them: its port, panes and
// fields behind the narrow views that the dialogues work through.

#include <windows.h>

#include <string>

#include "main_window/comport_modem.h"
#include "messaging/dialogue_stop.h"
#include "messaging/inbox_reader.h"
#include "messaging/messaging_io.h"
#include "messaging/sms_submission.h"

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

struct FormMessaging {
  FormMessaging(TBComPort& port, HWND command_log_memo, HWND modem_log_memo, HWND number_edit,
                HWND text_memo, MessagingDurations durations);

  // Asked for when the window is closed in the middle of a dialogue.
  DialogueStop stop;
  ComPortModem port;
  ShadowPane command_log;  // the bytes of Memo1
  ShadowPane modem_log;    // the bytes of Memo2
  EditField number;
  EditField text;
  SmsSubmission sms;
  InboxReader inbox;
};

}  // namespace vestrel::win32
