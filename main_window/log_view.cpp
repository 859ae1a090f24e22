#include "main_window/log_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "messaging/log_text.h"
#include "platform/qt_glue.h"

namespace vestrel {
namespace {

// The blank border around a plain-text pane's text, as its document keeps.
constexpr double kMargin = 4;

bool IsWordCharacter(QChar c) {
  return c.isLetterOrNumber() || c == u'_';
}

}  // namespace

LogView::LogView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  verticalScrollBar()->setSingleStep(1);
  UpdateScrollRange();
}

LogView::~LogView() = default;

void LogView::SetSource(const LogText* text) {
  text_ = text;
  ShowTop();
}

void LogView::ShowTop() {
  cursor_ = anchor_ = {};
  selecting_ = false;
  horizontal_offset_ = 0;
  verticalScrollBar()->setValue(0);
  viewport()->update();
  // The scroll range follows once the chunks that arrive together are in:
  // each change of the range queues an event of the scroll bar's, and a burst
  // of chunks handled without a pause would queue one for every chunk.
  if (range_due_) return;
  range_due_ = true;
  QMetaObject::invokeMethod(
      this, [this] { SyncScrollRange(); }, Qt::QueuedConnection);
}

void LogView::SyncScrollRange() {
  if (range_due_) UpdateScrollRange();
}

std::size_t LogView::LineCount() const {
  return text_ ? text_->LineCount() : 1;
}

QString LogView::LineText(std::size_t line) const {
  return text_ ? platform::ToQString(text_->Line(line)) : QString();
}

void LogView::LayOut(QTextLayout& layout, std::size_t line) const {
  layout.setText(LineText(line));
  layout.setFont(font());
  QTextOption option;
  option.setWrapMode(QTextOption::NoWrap);
  layout.setTextOption(option);
  layout.beginLayout();
  QTextLine text_line = layout.createLine();
  text_line.setLeadingIncluded(true);
  text_line.setLineWidth(std::numeric_limits<int>::max() / 2);
  text_line.setPosition(QPointF(kMargin, 0));
  layout.endLayout();
}

QString LogView::toPlainText() const {
  QString all;
  const std::size_t count = LineCount();
  for (std::size_t line = 0; line < count; ++line) {
    if (line > 0) all += u'\n';
    all += LineText(line);
  }
  return all;
}

QString LogView::SelectedText() const {
  if (!HasSelection()) return {};
  const Position from = std::min(anchor_, cursor_), to = std::max(anchor_, cursor_);
  QString selected;
  for (std::size_t line = from.line; line <= to.line; ++line) {
    const QString text = LineText(line);
    const auto begin = static_cast<qsizetype>(line == from.line ? from.column : 0);
    const qsizetype end = line == to.line ? static_cast<qsizetype>(to.column) : text.size();
    selected += text.mid(begin, end - begin);
    if (line != to.line) selected += u'\n';
  }
  return selected;
}

void LogView::SelectAll() {
  const std::size_t last = LineCount() - 1;
  anchor_ = {};
  cursor_ = {last, static_cast<std::size_t>(LineText(last).size())};
  viewport()->update();
  ShareSelection();
}

void LogView::Copy() const {
  if (HasSelection()) QGuiApplication::clipboard()->setText(SelectedText());
}

void LogView::ShareSelection() const {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (HasSelection() && clipboard->supportsSelection())
    clipboard->setText(SelectedText(), QClipboard::Selection);
}

// Lines in view are counted as the plain-text pane counts them: from the
// bottom, the last line with the bottom margin, until one no longer fits.
void LogView::UpdateScrollRange() {
  range_due_ = false;
  QTextLayout empty;
  empty.setFont(font());
  empty.beginLayout();
  QTextLine line = empty.createLine();
  line.setLeadingIncluded(true);
  empty.endLayout();
  line_height_ = line.height();

  const double visible = viewport()->rect().height() - kMargin - 1;
  const std::size_t count = LineCount();
  double y = kMargin;
  std::size_t fit = 0, maximum = 0;
  for (std::size_t i = count; i-- > 0;) {
    y += line_height_;
    if (y > visible) {
      maximum = i + 1;
      break;
    }
    ++fit;
  }
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(0,
                static_cast<int>(std::min<std::size_t>(maximum, std::numeric_limits<int>::max())));
  bar->setPageStep(static_cast<int>(std::max<std::size_t>(fit, 1)));
}

int LogView::VisibleLines() const {
  return std::max(1, static_cast<int>(viewport()->height() / std::max(1.0, line_height_)));
}

void LogView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.setPen(palette().color(QPalette::Text));
  const QRect clip = event->rect();
  const auto first = static_cast<std::size_t>(verticalScrollBar()->value());
  const std::size_t count = LineCount();
  const Position from = std::min(anchor_, cursor_), to = std::max(anchor_, cursor_);
  const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
  double y = first == 0 ? kMargin : 0;
  for (std::size_t line = first; line < count && y <= clip.bottom(); ++line) {
    QTextLayout layout;
    LayOut(layout, line);
    const QPointF offset(-horizontal_offset_, y);
    QList<QTextLayout::FormatRange> selections;
    if (HasSelection() && line >= from.line && line <= to.line) {
      // A selection that runs on past the line's end covers its line break too.
      const int begin = line == from.line ? static_cast<int>(from.column) : 0;
      const int end = line == to.line ? static_cast<int>(to.column)
                                      : static_cast<int>(layout.text().size()) + 1;
      if (end > begin) {
        QTextLayout::FormatRange range;
        range.start = begin;
        range.length = end - begin;
        range.format.setBackground(palette().brush(group, QPalette::Highlight));
        range.format.setForeground(palette().brush(group, QPalette::HighlightedText));
        selections.append(range);
      }
    }
    layout.draw(&painter, offset, selections, clip);
    if (hasFocus() && line == cursor_.line)
      layout.drawCursor(&painter, offset, static_cast<int>(cursor_.column), 1);
    y += layout.lineAt(0).height();
  }
}

void LogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRange();
}

void LogView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) UpdateScrollRange();
}

void LogView::scrollContentsBy(int, int) {
  viewport()->update();
}

LogView::Position LogView::PositionAt(QPoint point) const {
  const double top = verticalScrollBar()->value() == 0 ? kMargin : 0;
  const double row = std::floor((point.y() - top) / std::max(1.0, line_height_));
  const auto line = static_cast<long long>(verticalScrollBar()->value()) +
                    std::max(0LL, static_cast<long long>(row));
  const auto last = LineCount() - 1;
  // Below the last line is the end of the text.
  if (static_cast<unsigned long long>(line) > last)
    return {last, static_cast<std::size_t>(LineText(last).size())};
  QTextLayout layout;
  LayOut(layout, static_cast<std::size_t>(line));
  const int column = layout.lineAt(0).xToCursor(point.x() + horizontal_offset_);
  return {static_cast<std::size_t>(line), static_cast<std::size_t>(std::max(0, column))};
}

void LogView::MoveCursor(Position to, bool keep_anchor) {
  cursor_ = to;
  if (!keep_anchor) anchor_ = to;
  EnsureCursorVisible();
  viewport()->update();
}

void LogView::EnsureCursorVisible() {
  QScrollBar* bar = verticalScrollBar();
  const auto line =
      static_cast<int>(std::min<std::size_t>(cursor_.line, std::numeric_limits<int>::max()));
  if (line < bar->value()) {
    bar->setValue(line);
  } else if (line >= bar->value() + VisibleLines()) {
    bar->setValue(line - VisibleLines() + 1);
  }
  QTextLayout layout;
  LayOut(layout, cursor_.line);
  const int x = static_cast<int>(layout.lineAt(0).cursorToX(static_cast<int>(cursor_.column)));
  const int width = viewport()->width();
  if (x - horizontal_offset_ > width - 1) {
    horizontal_offset_ = x - width + 1;
  } else if (x - horizontal_offset_ < kMargin) {
    horizontal_offset_ = std::max(0, x - static_cast<int>(kMargin));
  }
}

void LogView::keyPressEvent(QKeyEvent* event) {
  SyncScrollRange();
  if (event == QKeySequence::Copy) {
    Copy();
    return;
  }
  if (event == QKeySequence::SelectAll) {
    SelectAll();
    return;
  }
  const bool extend = event->modifiers() & Qt::ShiftModifier;
  const bool whole = event->modifiers() & Qt::ControlModifier;
  const std::size_t last = LineCount() - 1;
  const auto length = [this](std::size_t line) {
    return static_cast<std::size_t>(LineText(line).size());
  };
  Position to = cursor_;
  const auto page = static_cast<std::size_t>(VisibleLines());
  switch (event->key()) {
    case Qt::Key_Left:
      if (to.column > 0) {
        --to.column;
      } else if (to.line > 0) {
        --to.line;
        to.column = length(to.line);
      }
      break;
    case Qt::Key_Right:
      if (to.column < length(to.line)) {
        ++to.column;
      } else if (to.line < last) {
        ++to.line;
        to.column = 0;
      }
      break;
    case Qt::Key_Up:
      if (to.line > 0) --to.line;
      to.column = std::min(to.column, length(to.line));
      break;
    case Qt::Key_Down:
      if (to.line < last) ++to.line;
      to.column = std::min(to.column, length(to.line));
      break;
    case Qt::Key_PageUp:
      to.line -= std::min(to.line, page);
      to.column = std::min(to.column, length(to.line));
      break;
    case Qt::Key_PageDown:
      to.line = std::min(last, to.line + page);
      to.column = std::min(to.column, length(to.line));
      break;
    case Qt::Key_Home:
      to = whole ? Position{} : Position{to.line, 0};
      break;
    case Qt::Key_End:
      to.line = whole ? last : to.line;
      to.column = length(to.line);
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
      return;
  }
  MoveCursor(to, extend);
  if (extend) ShareSelection();
}

void LogView::mousePressEvent(QMouseEvent* event) {
  SyncScrollRange();
  if (event->button() != Qt::LeftButton) return;
  selecting_ = true;
  MoveCursor(PositionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
  SyncScrollRange();
  if (!selecting_) return;
  const QPoint at = event->position().toPoint();
  // Dragging past an edge scrolls the text under the mouse.
  if (at.y() < 0) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  if (at.y() > viewport()->height())
    verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  MoveCursor(PositionAt(at), true);
}

void LogView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !selecting_) return;
  selecting_ = false;
  ShareSelection();
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event) {
  SyncScrollRange();
  if (event->button() != Qt::LeftButton) return;
  const Position at = PositionAt(event->position().toPoint());
  const QString text = LineText(at.line);
  auto begin = static_cast<qsizetype>(at.column), end = begin;
  while (begin > 0 && IsWordCharacter(text[begin - 1])) --begin;
  while (end < text.size() && IsWordCharacter(text[end])) ++end;
  anchor_ = {at.line, static_cast<std::size_t>(begin)};
  MoveCursor({at.line, static_cast<std::size_t>(end)}, true);
  ShareSelection();
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
  SyncScrollRange();
  QMenu menu(this);
  QAction* copy =
      menu.addAction(QCoreApplication::translate("QWidgetTextControl", "&Copy") + u'\t' +
                         QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText),
                     this, [this] { Copy(); });
  copy->setEnabled(HasSelection());
  menu.addSeparator();
  QAction* all =
      menu.addAction(QCoreApplication::translate("QWidgetTextControl", "Select All") + u'\t' +
                         QKeySequence(QKeySequence::SelectAll).toString(QKeySequence::NativeText),
                     this, [this] { SelectAll(); });
  all->setEnabled(LineCount() > 1 || !LineText(0).isEmpty());
  menu.exec(event->globalPos());
}

void LogView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void LogView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

}  // namespace vestrel
