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

}  // namespace

std::string LineEditField::Text() const {
  return platform::FromQString(edit_->text());
}

std::string PlainTextField::Text() const {
  QString text = edit_->toPlainText();
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return platform::FromQString(text);
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

}  // namespace vestrel
