#include "main_window/form_messaging.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

#include "main_window/log_view.h"
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

void Insert(QPlainTextEdit* memo, QTextCursor::MoveOperation where, const std::string& bytes) {
  QTextCursor cursor(memo->document());
  cursor.movePosition(where);
  cursor.insertText(Displayed(bytes));
}

void ShowBottom(QPlainTextEdit* memo) {
  memo->moveCursor(QTextCursor::End);
  memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum());
}

// The panes only ever grow at their ends between resets, and the widget is
// told just what was added: rewriting the whole of a day's modem log for each
// chunk would make every chunk slower than the last. A read-only pane keeps
// no undo history.
ShadowPane::Display CommandLogDisplay(QPlainTextEdit* memo) {
  memo->document()->setUndoRedoEnabled(false);
  return {[memo](const std::string& text) {
            memo->setPlainText(Displayed(text));
            ShowBottom(memo);
          },
          {},
          [memo](const std::string& bytes) {
            Insert(memo, QTextCursor::End, bytes);
            ShowBottom(memo);
          }};
}

// The pane reads its lines from the pane's own bytes; each change leaves it
// showing its top, as setting its whole text did.
ShadowPane::Display ModemLogDisplay(LogView* view) {
  const auto show_top = [view](const std::string&) { view->ShowTop(); };
  return {show_top, show_top, show_top};
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
                             LogView* modem_log_memo, QLineEdit* number_edit,
                             QPlainTextEdit* text_memo, MessagingDurations durations)
    : port(com_port),
      // The newest command stays in view at the bottom of the command log.
      command_log(CommandLogDisplay(command_log_memo)),
      // The newest chunk stands at the top of the modem log.
      modem_log(ModemLogDisplay(modem_log_memo)),
      number(number_edit),
      text(text_memo),
      sms(port, command_log, number, text, durations, &stop),
      inbox(port, command_log, modem_log, durations, kStagingFileName, &stop) {
  modem_log_memo->SetSource(&modem_log.Lines());
  // Every chunk passes the send on its way to the record: a send reads its
  // answers there.
  inbox.SetRecord(&sms.AnswerTap());
}

}  // namespace vestrel
