#pragma once
// The modem log's pane: a read-only view over the bytes a LogText keeps. It
// lays out and paints only the lines in view, converting each to Unicode as
// it is painted, so a day of chunks costs its bytes and their line index and
// no document. It looks and answers the mouse and keyboard as a read-only,
// unwrapped plain-text pane: the same line heights and margins, a scroll
// position counted in lines, selection, Ctrl+C, Ctrl+A and the context menu's
// copy.

#include <QAbstractScrollArea>
#include <QString>
#include <cstddef>

class QTextLayout;

namespace vestrel {

class LogText;

class LogView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // A place between two characters: a line and a column in it.
  struct Position {
    std::size_t line = 0;
    std::size_t column = 0;
    friend bool operator==(const Position&, const Position&) = default;
    friend auto operator<=>(const Position&, const Position&) = default;
  };

  explicit LogView(QWidget* parent = nullptr);
  ~LogView() override;

  // What the pane shows; the LogText must outlive the pane or be replaced.
  void SetSource(const LogText* text);
  // After a change of the text: the selection goes, the top is shown.
  void ShowTop();
  // Brings the scroll range up to the text now rather than when the event
  // loop comes round (ShowTop leaves it to then).
  void SyncScrollRange();

  QString toPlainText() const;  // each line break as one LF
  QString SelectedText() const;
  void SelectAll();
  void Copy() const;
  Position PositionAt(QPoint viewport_point) const;
  Position CursorPosition() const { return cursor_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  std::size_t LineCount() const;
  QString LineText(std::size_t line) const;
  // A line laid out as the pane lays out every line: one unwrapped line
  // placed at the left margin, its leading included.
  void LayOut(QTextLayout& layout, std::size_t line) const;
  void UpdateScrollRange();
  void MoveCursor(Position to, bool keep_anchor);
  void EnsureCursorVisible();
  int VisibleLines() const;
  bool HasSelection() const { return anchor_ != cursor_; }
  void ShareSelection() const;

  const LogText* text_ = nullptr;
  double line_height_ = 0;
  int horizontal_offset_ = 0;
  Position cursor_;
  Position anchor_;
  bool selecting_ = false;
  bool range_due_ = false;
};

}  // namespace vestrel
