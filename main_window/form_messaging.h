#pragma once
// The modem dialogues as the main window holds them: its port, panes and
// fields behind the narrow views that the dialogues work through.

#include <string>

#include "station/comport_modem.h"
#include "messaging/inbox_reader.h"
#include "messaging/messaging_io.h"
#include "messaging/sms_submission.h"

class QLineEdit;
class QPlainTextEdit;

namespace vestrel {
class LogView;
}

namespace vestrel {

// A single-line field's text in Windows-1251.
class LineEditField : public InputField {
 public:
  explicit LineEditField(QLineEdit* edit) : edit_(edit) {}
  std::string Text() const override;

 private:
  QLineEdit* edit_;
};

// A multi-line field's text in Windows-1251, its line breaks as CR LF.
class PlainTextField : public InputField {
 public:
  explicit PlainTextField(QPlainTextEdit* edit) : edit_(edit) {}
  std::string Text() const override;

 private:
  QPlainTextEdit* edit_;
};

struct FormMessaging {
  FormMessaging(TBComPort& port, QPlainTextEdit* command_log_memo, LogView* modem_log_memo,
                QLineEdit* number_edit, QPlainTextEdit* text_memo, MessagingDurations durations);

  // Asked for when the window is closed in the middle of a dialogue.
  DialogueStop stop;
  ComPortModem port;
  ShadowPane command_log;  // the bytes of Memo1
  ShadowPane modem_log;    // the bytes of Memo2
  LineEditField number;
  PlainTextField text;
  SmsSubmission sms;
  InboxReader inbox;
};

}  // namespace vestrel
