#include "main_window/form_messaging.h"

#include <algorithm>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

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

// Returns how many blocks (lines) the insertion added.
int Insert(QPlainTextEdit* memo, QTextCursor::MoveOperation where, const std::string& bytes) {
  QTextDocument* document = memo->document();
  const int before = document->blockCount();
  QTextCursor cursor(document);
  cursor.movePosition(where);
  cursor.insertText(Displayed(bytes));
  return document->blockCount() - before;
}

// A block out of view keeps no layout: its lines and shaped glyphs are let go,
// and the pane lays it out again when it is painted or measured. Otherwise a
// day's modem log would keep the glyphs of every line it ever received, a few
// hundred bytes for every line of text.
void ReleaseLayouts(QTextBlock block, int count) {
  for (; block.isValid() && count > 0; block = block.next(), --count) {
    QTextLayout* layout = block.layout();
    if (layout->lineCount() == 0) continue;
    // An empty layout pass leaves no lines and frees what the last pass shaped.
    layout->beginLayout();
    layout->endLayout();
  }
}

// After a change, the blocks just below the viewport: those that lines put in
// front have pushed out of view, and those that showing the top again had
// laid out. The last page of the text keeps its layouts: the pane measures it
// for its scroll range after every change.
void ReleaseLayoutsBelowView(QPlainTextEdit* memo, int added) {
  const int viewport_height = memo->viewport()->height();
  const QTextBlock last_shown = memo->cursorForPosition(QPoint(0, viewport_height)).block();
  const int page = viewport_height / std::max(1, memo->fontMetrics().lineSpacing()) + 2;
  const QTextBlock first_hidden = last_shown.next();
  const int last_page = memo->document()->blockCount() - page;
  const int count = std::min(added + page, last_page - first_hidden.blockNumber());
  if (first_hidden.isValid() && count > 0) ReleaseLayouts(first_hidden, count);
}

void ShowTop(QPlainTextEdit* memo) {
  memo->moveCursor(QTextCursor::Start);
  memo->verticalScrollBar()->setValue(0);
  memo->horizontalScrollBar()->setValue(0);
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

// Each change leaves the pane showing its top, as setting its whole text did.
ShadowPane::Display ModemLogDisplay(QPlainTextEdit* memo) {
  memo->document()->setUndoRedoEnabled(false);
  return {[memo](const std::string& text) {
            memo->setPlainText(Displayed(text));
            ShowTop(memo);
          },
          [memo](const std::string& bytes) {
            const int added = Insert(memo, QTextCursor::Start, bytes);
            ShowTop(memo);
            ReleaseLayoutsBelowView(memo, added);
          },
          [memo](const std::string& bytes) {
            Insert(memo, QTextCursor::End, bytes);
            ShowTop(memo);
            ReleaseLayoutsBelowView(memo, 0);
          }};
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
      command_log(CommandLogDisplay(command_log_memo)),
      // The newest chunk stands at the top of the modem log.
      modem_log(ModemLogDisplay(modem_log_memo)),
      number(number_edit),
      text(text_memo),
      sms(port, command_log, number, text, durations, &stop),
      inbox(port, command_log, modem_log, durations, kStagingFileName, &stop) {
  // Every chunk passes the send on its way to the record: a send reads its
  // answers there.
  inbox.SetRecord(&sms.AnswerTap());
}

}  // namespace vestrel
