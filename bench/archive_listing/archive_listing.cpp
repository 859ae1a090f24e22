// vestrel-sms archive over a large archive: how soon the first line of
// `archive --json` reaches a reader that wants only it (as `| head -n 1`) and
// how soon the program ends once that reader has gone; the peak memory of the
// whole `archive --json`; the time of `archive --sent` and `--sent --json`.
// The archive (N received messages, N sends of two parts and an answer each)
// is filled once into the temporary folder and reused.
//
//   bin/vestrel_archive_listing_bench [runs [messages]]   (defaults 3, 100000)
// VESTREL_SMS=path runs another build's vestrel-sms instead.
// Prints RESULT lines with the medians of the runs.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "bench/bench_support.h"
#include "platform/cp1251.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using vestrel::bench::Median;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::int64_t Count(sqlite3* db, const char* table) {
  sqlite3_stmt* stmt = nullptr;
  std::int64_t n = -1;
  const std::string sql = std::string("SELECT count(*) FROM ") + table;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW)
    n = sqlite3_column_int64(stmt, 0);
  sqlite3_finalize(stmt);
  return n;
}

bool Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK) return true;
  std::fprintf(stderr, "fill: %s\n", error ? error : "?");
  sqlite3_free(error);
  return false;
}

// Received messages through the archive; the sends, their parts and answers
// straight into the same layout in one transaction (a send stored the
// program's way costs four transactions).
bool Fill(const fs::path& file, int n) {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(file.string() + suffix, ignored);
  vestrel::archive::Options options;
  options.durable = false;
  vestrel::archive::Archive archive(file, options);
  const std::string body = vestrel::platform::Cp1251FromUtf8(
      "Здравствуйте! Ваш заказ готов к выдаче, пункт выдачи работает до 20:00 №");
  std::vector<vestrel::archive::ShownMessage> batch;
  for (int i = 0; i < n; ++i) {
    vestrel::archive::ShownMessage m;
    m.port = "COM11";
    m.storage_index = i % 50;
    m.number = "+7916" + std::to_string(1000000 + i % 5000);
    m.send_time = "26/12/08,10:" + std::to_string(10 + i % 50) + ":00";
    m.text = body + std::to_string(i);
    m.raw_header = "+CMGR: \"REC UNREAD\",\"" + m.number + "\",,\"" + m.send_time + "+12\"";
    m.raw_body = std::string(140, '0');
    batch.push_back(std::move(m));
    if (batch.size() == 10000 || i + 1 == n) {
      if (!archive.StoreReceivedMany(batch).ok()) return false;
      batch.clear();
    }
  }
  archive.Close();
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return false;
  bool ok =
      Exec(db, "PRAGMA synchronous=OFF; BEGIN") &&
      Exec(db, "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < " +
                   std::to_string(n) +
                   ") INSERT INTO sends (id, started_at, port, number, text, part_count, search)"
                   " SELECT i, '2026-12-08 10:00:00.000', 'COM11', '7916' || (1000000 + i % 5000),"
                   " 'Заказ №' || i || ' готов к выдаче', 2, '' FROM k;"
                   " INSERT INTO send_parts (send_id, part_number, pdu, written_at)"
                   " SELECT id, p.n, '0011000B919761214365F70008AA0C041F04400438', started_at"
                   " FROM sends, (SELECT 1 AS n UNION ALL SELECT 2) AS p;"
                   " INSERT INTO send_answers (send_id, line, seen_at)"
                   " SELECT id, '+CMGS: ' || (id % 256), started_at FROM sends;") &&
      Exec(db, "COMMIT");
  sqlite3_close(db);
  return ok;
}

struct Child {
  pid_t pid = -1;
  int out = -1;  // its standard output, or -1 when it goes to /dev/null
};

Child Start(const std::vector<std::string>& args, bool piped) {
  int fds[2] = {-1, -1};
  if (piped && pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    if (piped) {
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
    } else {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      close(null);
    }
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (piped) close(fds[1]);
  return {pid, piped ? fds[0] : -1};
}

// The exit status (or -1) and the child's peak resident memory in kB.
int Wait(pid_t pid, long* peak_kb = nullptr) {
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return -1;
  if (peak_kb) *peak_kb = usage.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const int n = argc > 2 ? std::max(10, std::atoi(argv[2])) : 100000;
  signal(SIGPIPE, SIG_IGN);
  const fs::path data = fs::temp_directory_path() / ("vestrel-listing-bench-" + std::to_string(n));
  const fs::path file = data / "vestrel" / "archive.sqlite";
  fs::create_directories(file.parent_path());
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  {
    sqlite3* db = nullptr;
    const bool filled =
        sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        Count(db, "received") == n && Count(db, "send_answers") == n;
    sqlite3_close(db);
    if (!filled && !Fill(file, n)) return 1;
  }
  // A file of an older layout is brought up to date before anything is timed.
  if (!vestrel::archive::Archive(file).Open().ok()) return 1;
  // VESTREL_SMS in the environment: another build's program, for comparison.
  const char* other = std::getenv("VESTREL_SMS");
  const std::string sms = other && *other ? other : VESTREL_SMS;
  std::vector<double> first_ms, after_close_ms, json_ms, sent_ms, sent_json_ms;
  std::vector<double> peak_mb;
  bool ok = true;
  for (int run = 0; run < runs; ++run) {
    // The first line, then the reader goes.
    auto start = Clock::now();
    Child head = Start({sms, "archive", "--json"}, true);
    std::FILE* in = fdopen(head.out, "r");
    char line[4096];
    ok = ok && std::fgets(line, sizeof line, in) != nullptr && line[0] == '{';
    first_ms.push_back(MsSince(start));
    start = Clock::now();
    std::fclose(in);
    ok = ok && Wait(head.pid) == 0;
    after_close_ms.push_back(MsSince(start));
    // The whole listing.
    start = Clock::now();
    long peak = 0;
    ok = ok && Wait(Start({sms, "archive", "--json"}, false).pid, &peak) == 0;
    json_ms.push_back(MsSince(start));
    peak_mb.push_back(static_cast<double>(peak) / 1024);
    start = Clock::now();
    ok = ok && Wait(Start({sms, "archive", "--sent"}, false).pid) == 0;
    sent_ms.push_back(MsSince(start));
    start = Clock::now();
    ok = ok && Wait(Start({sms, "archive", "--sent", "--json"}, false).pid) == 0;
    sent_json_ms.push_back(MsSince(start));
    std::printf(
        "run %d: first line %.0f ms, ended %.0f ms after the reader; --json %.0f ms, peak %.1f "
        "MB; --sent %.0f ms; --sent --json %.0f ms\n",
        run + 1, first_ms.back(), after_close_ms.back(), json_ms.back(), peak_mb.back(),
        sent_ms.back(), sent_json_ms.back());
  }
  std::printf("RESULT archive_first_line_ms=%.0f ended_after_reader_ms=%.0f messages=%d\n",
              Median(first_ms), Median(after_close_ms), n);
  std::printf("RESULT archive_json_peak_mb=%.1f archive_json_ms=%.0f\n", Median(peak_mb),
              Median(json_ms));
  std::printf("RESULT archive_sent_ms=%.0f archive_sent_json_ms=%.0f sends=%d exit_ok=%d\n",
              Median(sent_ms), Median(sent_json_ms), n, ok ? 1 : 0);
  return ok ? 0 : 1;
}
