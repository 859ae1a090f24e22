// Opening the archive window over an archive of 100,000 received messages
// (or as many as asked): from the archive object's creation to the first page
// painted, offscreen; a filter few messages match; an export of everything.
// The archive is filled once, into the temporary folder, and reused.
//
//   bin/vestrel_archive_open_bench [runs [messages]]   (messages: 100000 unless given)
// prints one line per run and
//   RESULT archive_open_ms=<median> rows=<messages stored>
#include <sqlite3.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTableView>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "bench/bench_support.h"
#include "main_window/archive_window.h"
#include "platform/cp1251.h"

namespace {

using vestrel::bench::Median;

int g_messages = 100000;  // the archive's size, from the command line

std::int64_t StoredMessages(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  std::int64_t count = -1;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM received", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
      count = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return count;
}

bool Fill(const std::filesystem::path& file) {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm"})
    std::filesystem::remove(file.string() + suffix, ignored);
  vestrel::archive::Options options;
  options.durable = false;  // a lost tail only means filling again
  vestrel::archive::Archive archive(file, options);
  const std::string body = vestrel::platform::Cp1251FromUtf8(
      "Здравствуйте! Ваш заказ готов к выдаче, пункт выдачи работает до 20:00 №");
  QElapsedTimer timer;
  timer.start();
  std::vector<vestrel::archive::ShownMessage> batch;
  for (int i = 0; i < g_messages; ++i) {
    vestrel::archive::ShownMessage m;
    m.port = "COM11";
    m.storage_index = i % 50;
    m.number = "+7916" + std::to_string(1000000 + i % 5000);
    m.send_time = "26/12/08,10:" + std::to_string(10 + i % 50) + ":00";
    m.text = body + std::to_string(i);
    m.raw_header = "+CMGR: \"REC UNREAD\",\"" + m.number + "\",,\"" + m.send_time + "+12\"";
    m.raw_body = std::string(140, '0');
    batch.push_back(std::move(m));
    if (batch.size() == 10000) {
      const auto status = archive.StoreReceivedMany(batch);
      if (!status.ok()) {
        std::fprintf(stderr, "fill failed: %s\n", status.reason.c_str());
        return false;
      }
      batch.clear();
    }
  }
  std::printf("filled %d messages in %lld ms\n", g_messages,
              static_cast<long long>(timer.elapsed()));
  return true;
}

// Notes the first paint of the view's rows.
class PaintProbe : public QObject {
 public:
  bool painted = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  if (argc > 2) g_messages = std::max(1000, std::atoi(argv[2]));
  const auto file = std::filesystem::temp_directory_path() /
                    ("vestrel-archive-bench-" + std::to_string(g_messages) + ".sqlite");
  if (StoredMessages(file) != g_messages && !Fill(file)) return 1;
  const std::int64_t rows = StoredMessages(file);
  // A file of an older layout is brought up to date before anything is timed.
  if (!vestrel::archive::Archive(file).Open().ok()) return 1;

  std::vector<double> open_ms, filter_ms, export_ms;
  std::error_code ignored;
  for (int run = 0; run < runs; ++run) {
    QElapsedTimer timer;
    timer.start();
    vestrel::archive::Archive archive(file);
    vestrel::ArchiveWindow window(archive);
    PaintProbe probe;
    window.ReceivedView->viewport()->installEventFilter(&probe);
    window.show();
    while (!probe.painted) QApplication::processEvents(QEventLoop::AllEvents, 5);
    const double opened = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    const int shown = window.ReceivedModel()->rowCount();

    // A filter that few messages match reads through the whole archive.
    timer.restart();
    window.FilterEdit->setText(
        QString::fromUtf8("ЗАКАЗ ГОТОВ К ВЫДАЧЕ, ПУНКТ ВЫДАЧИ РАБОТАЕТ ДО 20:00 №99999"));
    const double filtered = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    std::printf(
        "run %d: opened in %.1f ms (%d rows on the first page, status %s); filter %.1f ms, %d "
        "rows\n",
        run + 1, opened, shown, window.ReceivedModel()->status().ok() ? "ok" : "failed", filtered,
        window.ReceivedModel()->rowCount());
    open_ms.push_back(opened);
    filter_ms.push_back(filtered);

    // Everything, to a file.
    window.FilterEdit->clear();
    const auto csv = std::filesystem::temp_directory_path() / "vestrel-archive-bench-export.csv";
    timer.restart();
    const bool exported = window.ExportTo(QString::fromStdString(csv.string()));
    export_ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    std::printf("run %d: export of everything %.0f ms (%s, %lld bytes)\n", run + 1,
                export_ms.back(), exported ? "written" : "failed",
                static_cast<long long>(std::filesystem::file_size(csv, ignored)));
    std::filesystem::remove(csv, ignored);
  }
  std::printf("RESULT archive_open_ms=%.1f rows=%lld\n", Median(open_ms),
              static_cast<long long>(rows));
  std::printf("RESULT archive_filter_all_ms=%.1f rows=%lld\n", Median(filter_ms),
              static_cast<long long>(rows));
  std::printf("RESULT archive_export_all_ms=%.0f rows=%lld\n", Median(export_ms),
              static_cast<long long>(rows));
  return 0;
}
