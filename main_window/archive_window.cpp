#include "main_window/archive_window.h"

#include <QApplication>
#include <QClipboard>
#include <QDateEdit>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

#include "archive/archive_export.h"
#include "platform/cp1251.h"
#include "platform/system_reason.h"
#include "platform/utf8.h"

namespace vestrel {
namespace {

QString Q(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A cell shows the first line of a text; the rest is in the export and the copy.
QString Cell(const std::string& utf8) {
  QString cell = Q(utf8);
  const qsizetype end = cell.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
  return end < 0 ? cell : cell.left(end) + QStringLiteral(" …");
}

QString CopyCell(const std::string& utf8) {
  QString cell = Q(utf8);
  if (!cell.contains(QLatin1Char('\t')) && !cell.contains(QLatin1Char('\n')) &&
      !cell.contains(QLatin1Char('\r')) && !cell.contains(QLatin1Char('"')))
    return cell;
  cell.replace(QStringLiteral("\""), QStringLiteral("\"\""));
  return QLatin1Char('"') + cell + QLatin1Char('"');
}

constexpr char kStoredTime[] = "yyyy-MM-dd HH:mm:ss.zzz";
constexpr char kShownTime[] = "yyyy-MM-dd HH:mm:ss";

// The start of a local day, UTC in the archive's form.
std::string DayStartUtc(const QDate& day, const QTimeZone& zone) {
  return QDateTime(day, QTime(0, 0), zone)
      .toUTC()
      .toString(QString::fromLatin1(kShownTime))
      .toStdString();
}

}  // namespace

QString LocalTime(const std::string& utc, const QTimeZone& zone) {
  QDateTime at = QDateTime::fromString(Q(utc), QString::fromLatin1(kStoredTime));
  if (!at.isValid()) return Q(utc);
  at.setTimeZone(QTimeZone::utc());
  return at.toTimeZone(zone).toString(QString::fromLatin1(kShownTime));
}

QString ZoneName(const QTimeZone& zone) {
  const QDateTime now = QDateTime::currentDateTimeUtc();
  if (zone.offsetFromUtc(now) == 0) return QStringLiteral("UTC");
  return zone.displayName(now, QTimeZone::OffsetName);
}

QPoint BesidePosition(const QRect& other, const QSize& size, const QRect& screen) {
  constexpr int kGap = 8;
  int x;
  if (other.right() + kGap + size.width() <= screen.right() + 1)
    x = other.right() + 1 + kGap;
  else if (other.left() - kGap - size.width() >= screen.left())
    x = other.left() - kGap - size.width();
  else
    x = screen.right() + 1 - size.width();  // covers the other's right part, not its left
  const int y = std::min(other.top(), screen.bottom() + 1 - size.height());
  return {std::max(x, screen.left()), std::max(y, screen.top())};
}

ArchiveTableModel::ArchiveTableModel(archive::Archive& archive, Kind kind, QObject* parent,
                                     QTimeZone zone)
    : QAbstractTableModel(parent), archive_(archive), kind_(kind), zone_(std::move(zone)) {
  Reload();
}

void ArchiveTableModel::SetMatch(const std::string& match) {
  match_ = match;
  Reload();
}

void ArchiveTableModel::SetRange(const std::string& since, const std::string& until) {
  since_ = since;
  until_ = until;
  Reload();
}

std::vector<std::string> ArchiveTableModel::Orders() const {
  switch (kind_) {
    case Kind::kReceived:
      return archive::ReceivedColumnOrders();
    case Kind::kSent:
      return archive::SentColumnOrders();
    case Kind::kRaw:
      return archive::RawColumnOrders();
  }
  return {};
}

bool ArchiveTableModel::Sortable(int column) const {
  const auto orders = Orders();
  return column >= 0 && column < static_cast<int>(orders.size()) &&
         !orders[static_cast<std::size_t>(column)].empty();
}

void ArchiveTableModel::sort(int column, Qt::SortOrder order) {
  // The view asks once for the order in force when its sorting is turned on.
  if (!Sortable(column) || (column == order_column_ && order == Order())) return;
  order_column_ = column;
  ascending_ = order == Qt::AscendingOrder;
  Reload();
}

archive::Query ArchiveTableModel::MakeQuery() const {
  archive::Query query;
  query.match = kind_ == Kind::kRaw ? std::string() : match_;
  query.since = since_;
  query.until = until_;
  query.order_by = Orders()[static_cast<std::size_t>(order_column_)];
  query.ascending = ascending_;
  return query;
}

void ArchiveTableModel::Reload() {
  beginResetModel();
  rows_.clear();
  std::vector<Row> page;
  status_ = ReadPage(page, kPageRows);
  rows_ = std::move(page);
  exhausted_ = !status_.ok() || rows_.size() < static_cast<std::size_t>(kPageRows);
  endResetModel();
}

archive::Status ArchiveTableModel::ReadPage(std::vector<Row>& page, std::int32_t limit) const {
  archive::Query query = MakeQuery();
  query.limit = limit;
  if (!rows_.empty()) {
    query.before_id = rows_.back().id;
    query.before_value = rows_.back().order_value;
  }
  const auto add = [&](std::int64_t id, std::vector<std::string> fields) {
    Row row{id, fields[static_cast<std::size_t>(order_column_)], std::move(fields), {}};
    // The record's time, first in every listing, in the operator's zone.
    row.fields[0] = LocalTime(row.fields[0], zone_).toStdString();
    for (const std::string& field : row.fields) row.cells.push_back(Cell(field));
    page.push_back(std::move(row));
  };
  archive::Status status;
  switch (kind_) {
    case Kind::kReceived: {
      std::vector<archive::ReceivedRow> rows;
      status = archive_.ListReceived(query, rows);
      for (const auto& row : rows) add(row.id, archive::ReceivedFields(row));
      break;
    }
    case Kind::kSent: {
      std::vector<archive::SentRow> rows;
      status = archive_.ListSent(query, rows);
      for (const auto& row : rows) add(row.id, archive::SentFields(row));
      break;
    }
    case Kind::kRaw: {
      std::vector<archive::RawRow> rows;
      status = archive_.ListRawBytes(query, rows);
      for (const auto& row : rows) add(row.id, archive::RawFields(row));
      break;
    }
  }
  return status;
}

std::vector<std::string> ArchiveTableModel::Columns() const {
  switch (kind_) {
    case Kind::kReceived:
      return archive::ReceivedColumns();
    case Kind::kSent:
      return archive::SentColumns();
    case Kind::kRaw:
      return archive::RawColumns();
  }
  return {};
}

namespace {

std::vector<std::string> RowFields(const archive::ReceivedRow& row) {
  return archive::ReceivedFields(row);
}
std::vector<std::string> RowFields(const archive::SentRow& row) {
  return archive::SentFields(row);
}
std::vector<std::string> RowFields(const archive::RawRow& row) {
  return archive::RawFields(row);
}

}  // namespace

archive::Status ArchiveTableModel::ListedCsv(std::string& csv) const {
  csv.clear();
  return ListedCsv([&csv](const std::string& piece) {
    csv += piece;
    return true;
  });
}

archive::Status ArchiveTableModel::ListedCsv(
    const std::function<bool(const std::string& piece)>& put) const {
  const archive::Query query = MakeQuery();
  if (!put(archive::kUtf8Bom + archive::CsvRecord(Columns()))) return {};
  const auto each = [&put](const auto& row) { return put(archive::CsvRecord(RowFields(row))); };
  switch (kind_) {
    case Kind::kReceived:
      return archive_.ListReceived(query, archive::Archive::Each<archive::ReceivedRow>(each));
    case Kind::kSent:
      return archive_.ListSent(query, archive::Archive::Each<archive::SentRow>(each));
    case Kind::kRaw:
      return archive_.ListRawBytes(query, archive::Archive::Each<archive::RawRow>(each));
  }
  return {};
}

int ArchiveTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ArchiveTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(Columns().size());
}

QVariant ArchiveTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const Row& row = rows_[static_cast<std::size_t>(index.row())];
  if (role == Qt::DisplayRole) return row.cells[index.column()];
  if (role == Qt::ToolTipRole) return Q(row.fields[static_cast<std::size_t>(index.column())]);
  return {};
}

QVariant ArchiveTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  const auto columns = Columns();
  if (section < 0 || section >= static_cast<int>(columns.size())) return {};
  QString title = Q(columns[static_cast<std::size_t>(section)]);
  if (section == 0)
    title.replace(QStringLiteral("(UTC)"), QLatin1Char('(') + ZoneName(zone_) + QLatin1Char(')'));
  return title;
}

bool ArchiveTableModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && !exhausted_;
}

void ArchiveTableModel::fetchMore(const QModelIndex& parent) {
  if (parent.isValid() || exhausted_) return;
  std::vector<Row> page;
  status_ = ReadPage(page, kPageRows);
  exhausted_ = !status_.ok() || page.size() < static_cast<std::size_t>(kPageRows);
  if (page.empty()) return;
  const int first = rowCount();
  beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
  std::move(page.begin(), page.end(), std::back_inserter(rows_));
  endInsertRows();
}

ArchiveWindow::ArchiveWindow(archive::Archive& archive, QWidget* parent, QTimeZone zone)
    : QWidget(parent, Qt::Window), archive_(archive), zone_(std::move(zone)) {
  setWindowTitle(QStringLiteral("Архив СМС"));
  resize(900, 560);

  writes_seen_ = archive_.Writes();
  received_ = new ArchiveTableModel(archive_, ArchiveTableModel::Kind::kReceived, this, zone_);
  sent_ = new ArchiveTableModel(archive_, ArchiveTableModel::Kind::kSent, this, zone_);
  raw_ = new ArchiveTableModel(archive_, ArchiveTableModel::Kind::kRaw, this, zone_);

  FilterLabel = new QLabel(QStringLiteral("Фильтр"), this);
  FilterEdit = new QLineEdit(this);
  FilterEdit->setPlaceholderText(QStringLiteral("номер или текст"));
  FilterEdit->setClearButtonEnabled(true);
  FilterLabel->setBuddy(FilterEdit);
  const auto make_date = [this](QLabel*& label, const char* caption) {
    label = new QLabel(QString::fromUtf8(caption), this);
    auto* edit = new QDateEdit(this);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    // The minimum stands for "no bound" and shows as a dash.
    edit->setMinimumDate(QDate(2000, 1, 1));
    edit->setSpecialValueText(QStringLiteral("—"));
    edit->setDate(edit->minimumDate());
    label->setBuddy(edit);
    return edit;
  };
  FromEdit = make_date(FromLabel, "с");
  ToEdit = make_date(ToLabel, "по");
  ExportButton = new QPushButton(QStringLiteral("Экспорт в CSV"), this);
  CopyButton = new QPushButton(QStringLiteral("Копировать"), this);
  ReloadButton = new QPushButton(QStringLiteral("Обновить"), this);

  const auto make_view = [this](ArchiveTableModel* model, std::vector<int> widths) {
    auto* view = new QTableView(this);
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->verticalHeader()->setVisible(false);
    // Fixed heights and widths: nothing is measured over the rows.
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    view->horizontalHeader()->setStretchLastSection(true);
    for (std::size_t i = 0; i < widths.size(); ++i)
      view->setColumnWidth(static_cast<int>(i), widths[i]);
    // A header click orders the listing in the archive; the indicator shows
    // the order in force, which a column without one leaves as it was.
    QHeaderView* header = view->horizontalHeader();
    header->setSortIndicator(model->OrderColumn(), model->Order());
    view->setSortingEnabled(true);
    connect(header, &QHeaderView::sortIndicatorChanged, this, [header, model] {
      if (header->sortIndicatorSection() == model->OrderColumn() &&
          header->sortIndicatorOrder() == model->Order())
        return;
      const QSignalBlocker blocker(header);
      header->setSortIndicator(model->OrderColumn(), model->Order());
    });
    view->installEventFilter(this);
    return view;
  };
  ReceivedView = make_view(received_, {170, 120, 140});
  SentView = make_view(sent_, {170, 120, 70});
  RawView = make_view(raw_, {170, 120, 400});

  Tabs = new QTabWidget(this);
  Tabs->addTab(ReceivedView, QStringLiteral("Принятые"));
  Tabs->addTab(SentView, QStringLiteral("Отправленные"));
  Tabs->addTab(RawView, QStringLiteral("Байты чтений"));

  StatusLabel = new QLabel(this);
  StatusLabel->setWordWrap(true);
  StatusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* bar = new QHBoxLayout;
  bar->addWidget(FilterLabel);
  bar->addWidget(FilterEdit, 1);
  bar->addWidget(FromLabel);
  bar->addWidget(FromEdit);
  bar->addWidget(ToLabel);
  bar->addWidget(ToEdit);
  bar->addWidget(ExportButton);
  bar->addWidget(CopyButton);
  bar->addWidget(ReloadButton);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(bar);
  layout->addWidget(Tabs, 1);
  layout->addWidget(StatusLabel);

  connect(FilterEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
    const std::string match = text.trimmed().toStdString();
    received_->SetMatch(match);
    sent_->SetMatch(match);
    ShowStatus();
  });
  connect(FromEdit, &QDateEdit::dateChanged, this, &ArchiveWindow::RangeChanged);
  connect(ToEdit, &QDateEdit::dateChanged, this, &ArchiveWindow::RangeChanged);
  connect(ExportButton, &QPushButton::clicked, this, &ArchiveWindow::ExportClicked);
  connect(CopyButton, &QPushButton::clicked, this, &ArchiveWindow::CopyClicked);
  connect(ReloadButton, &QPushButton::clicked, this, &ArchiveWindow::Reload);
  connect(SentView, &QTableView::activated, this,
          [this](const QModelIndex& index) { OpenSend(index.row()); });
  ShowStatus();
}

QDialog* ArchiveWindow::OpenSend(int row) {
  if (row < 0 || row >= sent_->rowCount()) return nullptr;
  const std::vector<std::string>& send = sent_->Fields(row);
  std::vector<archive::PartRow> parts;
  std::vector<archive::AnswerRow> answers;
  archive::Status status = archive_.ListParts(sent_->Id(row), parts);
  if (status.ok()) status = archive_.ListAnswers(sent_->Id(row), answers);
  if (!status.ok()) {
    StatusLabel->setText(Q(status.OperatorMessage()));
    return nullptr;
  }

  auto* box = new QDialog(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // Number and status of the send, as the row shows them.
  box->setWindowTitle(QStringLiteral("Отправка на %1: %2").arg(Q(send.at(1)), Q(send.at(3))));
  box->resize(760, 420);

  const std::vector<std::string> columns = archive::PartColumns();
  auto* table =
      new QTableWidget(static_cast<int>(parts.size()), static_cast<int>(columns.size()), box);
  table->setObjectName(QStringLiteral("Parts"));
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->verticalHeader()->setVisible(false);
  table->horizontalHeader()->setStretchLastSection(true);
  for (std::size_t c = 0; c < columns.size(); ++c)
    table->setHorizontalHeaderItem(static_cast<int>(c), new QTableWidgetItem(Q(columns[c])));
  for (std::size_t r = 0; r < parts.size(); ++r) {
    const std::vector<std::string> fields = archive::PartFields(parts[r]);
    for (std::size_t c = 0; c < fields.size(); ++c) {
      auto* item = new QTableWidgetItem(Cell(fields[c]));
      item->setToolTip(Q(fields[c]));
      table->setItem(static_cast<int>(r), static_cast<int>(c), item);
    }
  }
  table->setColumnWidth(1, 260);

  auto* answer_text = new QPlainTextEdit(box);
  answer_text->setObjectName(QStringLiteral("Answers"));
  answer_text->setReadOnly(true);
  QStringList lines;
  for (const archive::AnswerRow& answer : answers)
    lines << Q(answer.seen_at + "  " + platform::ShownBytes(answer.line));
  answer_text->setPlainText(lines.join(QLatin1Char('\n')));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, box);
  connect(buttons, &QDialogButtonBox::rejected, box, &QDialog::close);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(new QLabel(QStringLiteral("Части"), box));
  layout->addWidget(table, 2);
  layout->addWidget(new QLabel(QStringLiteral("Ответы модема"), box));
  layout->addWidget(answer_text, 1);
  layout->addWidget(buttons);
  box->show();
  return box;
}

ArchiveTableModel* ArchiveWindow::CurrentModel() const {
  return static_cast<ArchiveTableModel*>(CurrentView()->model());
}

QTableView* ArchiveWindow::CurrentView() const {
  return static_cast<QTableView*>(Tabs->currentWidget());
}

void ArchiveWindow::RangeChanged() {
  const auto bound = [this](const QDateEdit* edit, int days_after) {
    if (edit->date() == edit->minimumDate()) return std::string();
    return DayStartUtc(edit->date().addDays(days_after), zone_);
  };
  // Whole local days: from the first day's start up to the start of the day
  // after the last.
  const std::string since = bound(FromEdit, 0), until = bound(ToEdit, 1);
  for (ArchiveTableModel* model : {received_, sent_, raw_}) model->SetRange(since, until);
  ShowStatus();
}

void ArchiveWindow::KeepPlaceAndReload(QTableView* view, ArchiveTableModel* model) {
  std::set<std::int64_t> selected;
  for (const QModelIndex& index : view->selectionModel()->selectedRows())
    selected.insert(model->Id(index.row()));
  QScrollBar* scroll = view->verticalScrollBar();
  const int top_row = scroll->value() > 0 ? view->rowAt(0) : -1;
  const std::int64_t top_id = top_row >= 0 ? model->Id(top_row) : 0;
  const int loaded = model->rowCount();

  model->Reload();
  while (model->rowCount() < loaded && model->canFetchMore({})) model->fetchMore({});

  QItemSelection selection;
  int top_again = -1;
  for (int row = 0; row < model->rowCount(); ++row) {
    const std::int64_t id = model->Id(row);
    if (selected.count(id))
      selection.select(model->index(row, 0), model->index(row, model->columnCount() - 1));
    if (top_id != 0 && id == top_id) top_again = row;
  }
  view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  if (top_again >= 0) view->scrollTo(model->index(top_again, 0), QAbstractItemView::PositionAtTop);
}

void ArchiveWindow::Reload() {
  writes_seen_ = archive_.Writes();
  KeepPlaceAndReload(ReceivedView, received_);
  KeepPlaceAndReload(SentView, sent_);
  KeepPlaceAndReload(RawView, raw_);
  ShowStatus();
}

void ArchiveWindow::ReloadIfWritten() {
  if (isVisible() && archive_.Writes() != writes_seen_) Reload();
}

void ArchiveWindow::PlaceBeside(const QWidget& other) {
  const QScreen* screen = other.screen() ? other.screen() : QApplication::primaryScreen();
  if (!screen) return;
  // The frame's size is known once shown; before that the margins are a guess.
  const QSize frame = isVisible() ? frameGeometry().size() : size() + QSize(16, 40);
  move(BesidePosition(other.frameGeometry(), frame, screen->availableGeometry()));
}

void ArchiveWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The first showing has the rows the constructor just read.
  if (shown_before_ && !event->spontaneous()) Reload();
  shown_before_ = true;
}

bool ArchiveWindow::eventFilter(QObject* watched, QEvent* event) {
  // Taken before the view, whose own copy would take the current cell only.
  if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy)) {
      if (event->type() == QEvent::KeyPress) CopyClicked();
      event->accept();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void ArchiveWindow::ShowStatus() {
  for (const ArchiveTableModel* model : {received_, sent_, raw_}) {
    if (!model->status().ok()) {
      StatusLabel->setText(Q(model->status().OperatorMessage()));
      return;
    }
  }
  StatusLabel->setText(QStringLiteral("Файл: ") + Q(platform::PathToUtf8(archive_.file())));
}

// The rows go to the file as the archive yields them, with their count shown
// and a button that stops; the file appears only when it is complete.
bool ArchiveWindow::ExportTo(const QString& path) {
  QSaveFile file(path);
  QProgressDialog progress(QStringLiteral("Экспорт в CSV"), QStringLiteral("Отмена"), 0, 0, this);
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(300);
  std::int64_t rows = 0;
  bool stopped = false;
  errno = 0;
  bool written = file.open(QIODevice::WriteOnly);
  const archive::Status status =
      !written ? archive::Status{} : CurrentModel()->ListedCsv([&](const std::string& piece) {
        const auto size = static_cast<qint64>(piece.size());
        if (file.write(piece.data(), size) != size) return written = false;
        if (++rows % 2000 == 0) {
          progress.setLabelText(QStringLiteral("Экспорт в CSV: %1 строк").arg(rows - 1));
          QCoreApplication::processEvents();
          if (progress.wasCanceled()) return !(stopped = true);
        }
        return true;
      });
  progress.reset();
  if (stopped || !status.ok() || !written) file.cancelWriting();
  if (stopped) {
    StatusLabel->setText(QStringLiteral("Экспорт прерван, файл %1 не записан").arg(path));
    return false;
  }
  if (!status.ok()) {
    StatusLabel->setText(Q(status.OperatorMessage()));
    return false;
  }
  if (!written || !file.commit()) {
    // The system's reason in Russian; Qt's own words would be English.
    const int error = errno;
    const std::string reason =
        error != 0 ? platform::ErrnoReason(error) : std::string("причина не сообщена системой");
    StatusLabel->setText(QStringLiteral("Файл %1 не записан: %2").arg(path, Q(reason)));
    return false;
  }
  StatusLabel->setText(QStringLiteral("Записан файл %1").arg(path));
  return true;
}
QString ArchiveWindow::SelectedRowsText() const {
  const QTableView* view = CurrentView();
  const ArchiveTableModel* model = CurrentModel();
  std::vector<int> rows;
  for (const QModelIndex& index : view->selectionModel()->selectedRows())
    rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  QString text;
  for (int row : rows) {
    QStringList cells;
    for (const std::string& field : model->Fields(row)) cells << CopyCell(field);
    text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
  }
  return text;
}

void ArchiveWindow::CopyClicked() {
  const QString text = SelectedRowsText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void ArchiveWindow::ExportClicked() {
  const QString path = QFileDialog::getSaveFileName(
      this, QStringLiteral("Экспорт в CSV"),
      Tabs->tabText(Tabs->currentIndex()) + QStringLiteral(".csv"), QStringLiteral("CSV (*.csv)"));
  if (path.isEmpty()) return;
  if (!ExportTo(path)) QMessageBox::warning(this, windowTitle(), StatusLabel->text());
}

}  // namespace vestrel
