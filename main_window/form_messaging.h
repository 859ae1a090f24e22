#pragma once
// The main window's widgets as the station sees them: its fields behind the
// narrow views that the dialogues read, its logs as displays of the bytes
// the station keeps.

#include <string>

#include "messaging/messaging_io.h"

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

// Memo1: the newest command stays in view at the bottom.
ShadowPane::Display CommandLogDisplay(QPlainTextEdit* memo);
// Memo2: shows the top after every change; the view reads its lines from
// the pane (LogView::SetSource).
ShadowPane::Display ModemLogDisplay(LogView* view);

}  // namespace vestrel
