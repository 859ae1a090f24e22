#include "main_window/form_messaging.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>

#include "platform/qt_glue.h"

namespace vestrel {
namespace {

// The widget shows CR LF, LF and a lone CR each as one line break.
QString Displayed(const std::string& bytes) {
  QString text = platform::ToQString(bytes);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

}  // namespace

std::string LineEditField::Text() const {
  return platform::FromQString(edit_->text());
}

std::string PlainTextField::Text() const {
  QString text = edit_->toPlainText();
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return platform::FromQString(text);
}

FormMessaging::FormMessaging(TBComPort& com_port, QPlainTextEdit* command_log_memo,
                             QPlainTextEdit* modem_log_memo, QLineEdit* number_edit,
                             QPlainTextEdit* text_memo, MessagingDurations durations)
    : port(com_port),
      // The newest command stays in view at the bottom of the command log.
      command_log([command_log_memo](const std::string& bytes) {
        command_log_memo->setPlainText(Displayed(bytes));
        command_log_memo->verticalScrollBar()->setValue(
            command_log_memo->verticalScrollBar()->maximum());
      }),
      // The newest chunk stands at the top of the modem log.
      modem_log([modem_log_memo](const std::string& bytes) {
        modem_log_memo->setPlainText(Displayed(bytes));
      }),
      number(number_edit),
      text(text_memo),
      sms(port, command_log, number, text, durations, &stop),
      inbox(port, command_log, modem_log, durations, kStagingFileName, &stop) {}

}  // namespace vestrel
