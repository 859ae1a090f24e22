#pragma once
// The archive window: what the readings showed, what was sent and the raw
// bytes of readings, newest first or in the order of a column the operator
// clicked, loaded a page at a time as the operator scrolls; times in the
// operator's zone; a filter over number and text and a range of dates, export
// of the listing to CSV and copy of the selected rows.

#include <QAbstractTableModel>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive.h"

class QDateEdit;
class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;

namespace vestrel {

// A stored UTC time ("YYYY-MM-DD HH:MM:SS.mmm") as "YYYY-MM-DD HH:MM:SS" in
// the zone; a text that is no such time is given back as it is.
QString LocalTime(const std::string& utc, const QTimeZone& zone);
// The zone as the headers name it: "UTC+03:00", "UTC".
QString ZoneName(const QTimeZone& zone);
// Where a window of the size goes beside the other's frame on the screen:
// right of it, else left of it, else over its right edge, at its top; never
// off the screen when it fits there.
QPoint BesidePosition(const QRect& other, const QSize& size, const QRect& screen);

// One listing of the archive for a view. Rows come in pages of kPageRows in
// the archive's order, each asked for with the last row of the page before,
// so a page costs the same however much the archive holds.
class ArchiveTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum class Kind { kReceived, kSent, kRaw };
  static constexpr int kPageRows = 200;

  ArchiveTableModel(archive::Archive& archive, Kind kind, QObject* parent = nullptr,
                    QTimeZone zone = QTimeZone::systemTimeZone());

  Kind kind() const { return kind_; }
  // Lists only rows whose number or text holds match (UTF-8, any case) and
  // loads the first page. The raw bytes are listed whatever the match.
  void SetMatch(const std::string& match);
  const std::string& match() const { return match_; }
  // Lists only records from since up to (not at) until, UTC in the archive's
  // forms; empty: no bound. Loads the first page.
  void SetRange(const std::string& since, const std::string& until);
  // Whether the column can be ordered by; the order in force.
  bool Sortable(int column) const;
  int OrderColumn() const { return order_column_; }
  Qt::SortOrder Order() const { return ascending_ ? Qt::AscendingOrder : Qt::DescendingOrder; }
  // Forgets the loaded rows and loads the first page again.
  void Reload();
  // How the last read of the archive went.
  const archive::Status& status() const { return status_; }

  std::vector<std::string> Columns() const;
  // The cells of a loaded row, UTF-8, times in the window's zone.
  const std::vector<std::string>& Fields(int row) const { return rows_[row].fields; }
  // The archive's id of a loaded row.
  std::int64_t Id(int row) const { return rows_[row].id; }
  // Everything the listing holds (every page, not only the loaded ones) as a
  // CSV document.
  archive::Status ListedCsv(std::string& csv) const;
  // The same document piece by piece as the archive yields its rows: the
  // byte order mark with the column names, then one piece a row. A false from
  // `put` stops it there.
  archive::Status ListedCsv(const std::function<bool(const std::string& piece)>& put) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;
  // Orders by the column when it can be ordered by, and loads the first page.
  void sort(int column, Qt::SortOrder order) override;

 private:
  struct Row {
    std::int64_t id = 0;
    std::string order_value;  // the ordering column's value as the archive keeps it
    std::vector<std::string> fields;
    QStringList cells;
  };
  std::vector<std::string> Orders() const;
  archive::Query MakeQuery() const;
  // The next page after the rows loaded, read from the archive.
  archive::Status ReadPage(std::vector<Row>& page, std::int32_t limit) const;

  archive::Archive& archive_;
  Kind kind_;
  QTimeZone zone_;
  std::string match_;
  std::string since_;
  std::string until_;
  int order_column_ = 0;
  bool ascending_ = false;
  std::vector<Row> rows_;
  bool exhausted_ = false;
  archive::Status status_;
};

class ArchiveWindow : public QWidget {
  Q_OBJECT

 public:
  explicit ArchiveWindow(archive::Archive& archive, QWidget* parent = nullptr,
                         QTimeZone zone = QTimeZone::systemTimeZone());

  // Writes what the current tab lists (every matching row) to a CSV file;
  // false, with the reason in the status line, when that fails.
  bool ExportTo(const QString& path);
  // The selected rows of the current tab, one line each, cells separated by
  // tabs (quoted where a cell holds a tab, a line break or a quotation mark).
  QString SelectedRowsText() const;
  // Reads the archive again (after new records) keeping the filter, the
  // order, the selected rows and the row on top (the top itself when the
  // view was there, so that new rows show). Done by itself each time the
  // window is shown again after being hidden.
  void Reload();
  // Reload when the archive was written to since the last reading of it and
  // the window is shown (after each dialogue with the modem).
  void ReloadIfWritten();
  // Moves the window beside the other window, on the other's screen.
  void PlaceBeside(const QWidget& other);
  // Opens a send of the sent tab (a double click or Enter does it): its
  // parts with their text, status and reference or error, and the modem's
  // answers seen while it ran. The box closes itself; null when the row is
  // not loaded.
  QDialog* OpenSend(int row);

  ArchiveTableModel* ReceivedModel() const { return received_; }
  ArchiveTableModel* SentModel() const { return sent_; }
  ArchiveTableModel* RawModel() const { return raw_; }
  ArchiveTableModel* CurrentModel() const;
  QTableView* CurrentView() const;

  QTabWidget* Tabs;
  QTableView* ReceivedView;
  QTableView* SentView;
  QTableView* RawView;
  QLabel* FilterLabel;
  QLineEdit* FilterEdit;
  QLabel* FromLabel;
  QDateEdit* FromEdit;  // the first day listed; its minimum: no bound
  QLabel* ToLabel;
  QDateEdit* ToEdit;  // the last day listed; its minimum: no bound
  QPushButton* ExportButton;
  QPushButton* CopyButton;
  QPushButton* ReloadButton;
  QLabel* StatusLabel;

 protected:
  void showEvent(QShowEvent* event) override;
  // Ctrl+C in a listing copies the selected rows, as the copy button does.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ExportClicked();
  void CopyClicked();
  void ShowStatus();
  void RangeChanged();
  void KeepPlaceAndReload(QTableView* view, ArchiveTableModel* model);

  archive::Archive& archive_;
  QTimeZone zone_;
  std::uint64_t writes_seen_ = 0;
  ArchiveTableModel* received_;
  ArchiveTableModel* sent_;
  ArchiveTableModel* raw_;
  bool shown_before_ = false;
};

}  // namespace vestrel
