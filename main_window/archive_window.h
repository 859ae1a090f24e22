#pragma once
// The archive window: what the readings showed, what was sent and the raw
// bytes of readings, newest first, loaded a page at a time as the operator
// scrolls; a filter over number and text, export of the listing to CSV and
// copy of the selected rows.

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive.h"

class QDialog;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;

namespace vestrel {

// One listing of the archive for a view. Rows come in pages of kPageRows,
// each asked for with the last id of the page before, so a page costs the
// same however much the archive holds.
class ArchiveTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum class Kind { kReceived, kSent, kRaw };
  static constexpr int kPageRows = 200;

  ArchiveTableModel(archive::Archive& archive, Kind kind, QObject* parent = nullptr);

  Kind kind() const { return kind_; }
  // Lists only rows whose number or text holds match (UTF-8, any case) and
  // loads the first page. The raw bytes are listed whatever the match.
  void SetMatch(const std::string& match);
  const std::string& match() const { return match_; }
  // Forgets the loaded rows and loads the first page again.
  void Reload();
  // How the last read of the archive went.
  const archive::Status& status() const { return status_; }

  std::vector<std::string> Columns() const;
  // The cells of a loaded row, UTF-8.
  const std::vector<std::string>& Fields(int row) const { return rows_[row].fields; }
  // The archive's id of a loaded row.
  std::int64_t Id(int row) const { return rows_[row].id; }
  // Everything the listing holds (every page, not only the loaded ones) as a
  // CSV document.
  archive::Status ListedCsv(std::string& csv) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

 private:
  struct Row {
    std::int64_t id = 0;
    std::vector<std::string> fields;
    QStringList cells;
  };
  // The next page after the rows loaded, read from the archive.
  archive::Status ReadPage(std::vector<Row>& page, std::int32_t limit) const;

  archive::Archive& archive_;
  Kind kind_;
  std::string match_;
  std::vector<Row> rows_;
  bool exhausted_ = false;
  archive::Status status_;
};

class ArchiveWindow : public QWidget {
  Q_OBJECT

 public:
  explicit ArchiveWindow(archive::Archive& archive, QWidget* parent = nullptr);

  // Writes what the current tab lists (every matching row) to a CSV file;
  // false, with the reason in the status line, when that fails.
  bool ExportTo(const QString& path);
  // The selected rows of the current tab, one line each, cells separated by
  // tabs (quoted where a cell holds a tab, a line break or a quotation mark).
  QString SelectedRowsText() const;
  // Reads the archive again (after new records) keeping the filter. Done by
  // itself each time the window is shown again after being hidden.
  void Reload();
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
  QPushButton* ExportButton;
  QPushButton* CopyButton;
  QPushButton* ReloadButton;
  QLabel* StatusLabel;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ExportClicked();
  void CopyClicked();
  void ShowStatus();

  archive::Archive& archive_;
  ArchiveTableModel* received_;
  ArchiveTableModel* sent_;
  ArchiveTableModel* raw_;
  bool shown_before_ = false;
};

}  // namespace vestrel
