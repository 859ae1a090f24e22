#include "main_window/archive_window.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QShowEvent>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "archive/archive_export.h"
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

}  // namespace

ArchiveTableModel::ArchiveTableModel(archive::Archive& archive, Kind kind, QObject* parent)
    : QAbstractTableModel(parent), archive_(archive), kind_(kind) {
  Reload();
}

void ArchiveTableModel::SetMatch(const std::string& match) {
  match_ = match;
  Reload();
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
  archive::Query query;
  query.match = kind_ == Kind::kRaw ? std::string() : match_;
  query.limit = limit;
  if (!rows_.empty()) query.before_id = rows_.back().id;
  const auto add = [&](std::int64_t id, std::vector<std::string> fields) {
    Row row{id, std::move(fields), {}};
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

archive::Status ArchiveTableModel::ListedCsv(std::string& csv) const {
  archive::Query query;
  query.match = kind_ == Kind::kRaw ? std::string() : match_;
  archive::Status status;
  switch (kind_) {
    case Kind::kReceived: {
      std::vector<archive::ReceivedRow> rows;
      status = archive_.ListReceived(query, rows);
      csv = archive::ReceivedCsv(rows);
      break;
    }
    case Kind::kSent: {
      std::vector<archive::SentRow> rows;
      status = archive_.ListSent(query, rows);
      csv = archive::SentCsv(rows);
      break;
    }
    case Kind::kRaw: {
      std::vector<archive::RawRow> rows;
      status = archive_.ListRawBytes(query, rows);
      csv = archive::RawCsv(rows);
      break;
    }
  }
  return status;
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
  return Q(columns[static_cast<std::size_t>(section)]);
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

ArchiveWindow::ArchiveWindow(archive::Archive& archive, QWidget* parent)
    : QWidget(parent, Qt::Window), archive_(archive) {
  setWindowTitle(QStringLiteral("Архив СМС"));
  resize(900, 560);

  received_ = new ArchiveTableModel(archive_, ArchiveTableModel::Kind::kReceived, this);
  sent_ = new ArchiveTableModel(archive_, ArchiveTableModel::Kind::kSent, this);
  raw_ = new ArchiveTableModel(archive_, ArchiveTableModel::Kind::kRaw, this);

  FilterLabel = new QLabel(QStringLiteral("Фильтр"), this);
  FilterEdit = new QLineEdit(this);
  FilterEdit->setPlaceholderText(QStringLiteral("номер или текст"));
  FilterEdit->setClearButtonEnabled(true);
  FilterLabel->setBuddy(FilterEdit);
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
    lines << Q(answer.seen_at + "  " + archive::ShownBytes(answer.line));
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

void ArchiveWindow::Reload() {
  received_->Reload();
  sent_->Reload();
  raw_->Reload();
  ShowStatus();
}

void ArchiveWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The first showing has the rows the constructor just read.
  if (shown_before_ && !event->spontaneous()) Reload();
  shown_before_ = true;
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

bool ArchiveWindow::ExportTo(const QString& path) {
  std::string csv;
  const archive::Status status = CurrentModel()->ListedCsv(csv);
  if (!status.ok()) {
    StatusLabel->setText(Q(status.OperatorMessage()));
    return false;
  }
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
      !file.flush()) {
    StatusLabel->setText(QStringLiteral("Файл %1 не записан: %2").arg(path, file.errorString()));
    return false;
  }
  file.close();
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
