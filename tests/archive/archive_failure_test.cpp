// The archive when things go wrong, and with company: a folder that cannot be
// made, a read-only file, a file locked by another copy, a full disk, a damaged
// file; a process killed right after a store; two processes writing at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

#include "archive/archive.h"
#include "archive_test_support.h"

namespace vestrel::archive {
namespace {

using test::ReadFile;
using test::Shown;
using test::Sql;
using test::TempDir;

// archive.sqlite.corrupt-YYYYMMDD-HHMMSS
bool IsAsideName(const std::string& name) {
  const std::string prefix = "archive.sqlite.corrupt-";
  if (!name.starts_with(prefix) || name.size() != prefix.size() + 15) return false;
  for (std::size_t i = prefix.size(); i < name.size(); ++i)
    if (i - prefix.size() == 8 ? name[i] != '-'
                               : !std::isdigit(static_cast<unsigned char>(name[i])))
      return false;
  return true;
}

bool Holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs fn in a child process, as an unprivileged user when the test runs as
// root (root writes read-only files); its result is the child's exit code.
int InChild(const std::function<int()>& fn, bool unprivileged = false) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
      ::_exit(90);
    ::_exit(fn());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// What the sqlite3 command-line tool prints for a query.
std::string SqliteTool(const std::filesystem::path& file, const std::string& sql) {
  const std::string command = "sqlite3 '" + file.string() + "' \"" + sql + "\"";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return "popen failed";
  std::string out;
  char buffer[512];
  while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, got);
  ::pclose(pipe);
  return out;
}

TEST(ArchiveFailure, FolderThatCannotBeMadeIsReportedAndNothingIsCreated) {
  TempDir dir;
  // A file stands where a folder on the way should be.
  test::WriteFile(dir / "data", "not a folder");
  Archive blocked(dir / "data" / "vestrel" / "archive.sqlite");
  Status status = blocked.StoreReceived(Shown("+1", "t", "x"));
  EXPECT_EQ(status.error, ArchiveError::kFolder);
  EXPECT_FALSE(status.stored);
  EXPECT_TRUE(Holds(status.reason, "не может быть создана")) << status.reason;
  EXPECT_TRUE(status.OperatorMessage().starts_with("Архив СМС недоступен: папка «"));
  EXPECT_EQ(ReadFile(dir / "data"), "not a folder");

  // A file system that takes no folders, whoever asks.
  Archive nowhere("/proc/self/fdinfo/vestrel/archive.sqlite");
  status = nowhere.StoreRawBytes("COM1", "x");
  EXPECT_EQ(status.error, ArchiveError::kFolder) << status.reason;
  EXPECT_FALSE(nowhere.IsOpen());
}

TEST(ArchiveFailure, ReadOnlyFileIsReportedAndLeftAsItWas) {
  TempDir dir;
  ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534) == 0 || ::geteuid() != 0, true);
  const auto file = dir / "archive.sqlite";
  const int code = InChild(
      [&] {
        {
          Archive archive(file);
          if (!archive.StoreReceived(Shown("+1", "t", "kept")).ok()) return 1;
        }
        if (::chmod(file.c_str(), 0400) != 0) return 2;
        const std::string before = ReadFile(file);
        Archive archive(file);
        const Status status = archive.StoreReceived(Shown("+2", "t", "new"));
        if (status.error != ArchiveError::kReadOnly || status.stored) return 3;
        if (!Holds(status.reason, "доступен только для чтения")) return 4;
        if (ReadFile(file) != before) return 5;
        // Writable again: the next store opens the file anew, without a restart.
        if (::chmod(file.c_str(), 0600) != 0) return 6;
        if (!archive.StoreReceived(Shown("+2", "t", "new")).ok()) return 7;
        return 0;
      },
      /*unprivileged=*/true);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Sql(file, "SELECT text FROM received ORDER BY id"),
            (std::vector<std::string>{"kept", "new"}));
}

TEST(ArchiveFailure, FolderThatTakesNoNewFileIsReported) {
  TempDir dir;
  ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534) == 0 || ::geteuid() != 0, true);
  const int code = InChild(
      [&] {
        const auto folder = dir / "locked";
        if (::mkdir(folder.c_str(), 0700) != 0) return 1;
        {
          Archive archive(folder / "archive.sqlite");
          if (!archive.StoreReceived(Shown("+1", "t", "kept")).ok()) return 2;
        }
        if (::chmod(folder.c_str(), 0500) != 0) return 3;
        // A new file cannot be made there...
        Archive fresh(folder / "other.sqlite");
        Status status = fresh.StoreReceived(Shown("+2", "t", "new"));
        if (status.error != ArchiveError::kReadOnly || !Holds(status.reason, "нельзя создать файл"))
          return 4;
        // ...nor the write-ahead log beside an existing, writable file.
        Archive existing(folder / "archive.sqlite");
        status = existing.StoreReceived(Shown("+2", "t", "new"));
        if (status.ok() || status.stored) return 5;
        if (status.error != ArchiveError::kReadOnly) {
          std::fprintf(stderr, "error %d: %s\n", static_cast<int>(status.error),
                       status.reason.c_str());
          return 6;
        }
        return ::chmod(folder.c_str(), 0700) == 0 ? 0 : 7;
      },
      /*unprivileged=*/true);
  EXPECT_EQ(code, 0);
}

TEST(ArchiveFailure, LockHeldLongerThanTheBusyTimeOutIsReported) {
  TempDir dir;
  const auto file = dir / "archive.sqlite";
  Archive archive(file, test::WithBusyTimeout(std::chrono::milliseconds(200)));
  ASSERT_TRUE(archive.Open().ok());

  // Another copy of the program in the middle of a long write.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(other, "BEGIN IMMEDIATE; INSERT INTO raw_reads VALUES (NULL, 'x', 'p', X'00')",
                   nullptr, nullptr, nullptr),
      SQLITE_OK);
  const Status status = archive.StoreReceived(Shown("+1", "t", "x"));
  EXPECT_EQ(status.error, ArchiveError::kBusy);
  EXPECT_FALSE(status.stored);
  EXPECT_TRUE(Holds(status.reason, "занят другой копией программы дольше 1 с")) << status.reason;
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  EXPECT_TRUE(archive.StoreReceived(Shown("+1", "t", "x")).ok());
  EXPECT_EQ(Sql(file, "SELECT count(*) FROM raw_reads"), std::vector<std::string>{"1"});
}

TEST(ArchiveFailure, FullDiskIsReportedAndEarlierRecordsStay) {
  TempDir dir;
  const auto file = dir / "archive.sqlite";
  Options capped;
  capped.max_pages = 12;
  Archive archive(file, capped);
  Status status;
  int stored = 0;
  for (int i = 0; i < 1000 && (status = archive.StoreRawBytes("COM1", std::string(900, 'x'))).ok();
       ++i)
    ++stored;
  EXPECT_EQ(status.error, ArchiveError::kDiskFull);
  EXPECT_TRUE(Holds(status.reason, "на диске нет места")) << status.reason;
  EXPECT_GT(stored, 0);
  archive.Close();
  EXPECT_EQ(Sql(file, "SELECT count(*) FROM raw_reads"),
            std::vector<std::string>{std::to_string(stored)});
}

TEST(ArchiveFailure, DamagedFileIsMovedAsideKeptAndANewOneStarted) {
  TempDir dir;
  const auto file = dir / "archive.sqlite";
  std::string garbage;
  for (int i = 0; i < 300; ++i)
    garbage += "this is not a database, line " + std::to_string(i) + "\n";
  test::WriteFile(file, garbage);

  Archive archive(file);
  const Status status = archive.StoreReceived(Shown("+79161000001", "t", "после сбоя"));
  EXPECT_EQ(status.error, ArchiveError::kCorrupt);
  EXPECT_TRUE(status.stored);
  EXPECT_TRUE(Holds(status.reason, "начат новый архив")) << status.reason;

  std::vector<std::filesystem::path> aside;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    if (entry.path().filename().string().starts_with("archive.sqlite.corrupt-"))
      aside.push_back(entry.path());
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_TRUE(IsAsideName(aside[0].filename().string())) << aside[0];
  EXPECT_TRUE(Holds(status.reason, aside[0].filename().string())) << status.reason;
  EXPECT_EQ(ReadFile(aside[0]), garbage);

  // The new file works and holds the record; the next store reports nothing.
  EXPECT_TRUE(archive.StoreReceived(Shown("+79161000002", "t", "дальше")).ok());
  archive.Close();
  EXPECT_EQ(Sql(file, "SELECT text FROM received ORDER BY id"),
            (std::vector<std::string>{"после сбоя", "дальше"}));
}

TEST(ArchiveDurability, RecordSurvivesAKillRightAfterTheStore) {
  TempDir dir;
  const auto file = dir / "archive.sqlite";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(ready[0]);
    Archive archive(file);
    const bool ok =
        archive.StoreRawBytes("COM11", "\r\n+CMGR: \"REC UNREAD\"\r\n").ok() &&
        archive.StoreReceived(Shown("+79161000001", "26/12/08,10:15:00", "Срочно")).ok();
    const char report = ok ? 'y' : 'n';
    [[maybe_unused]] auto written = ::write(ready[1], &report, 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char report = 0;
  ASSERT_EQ(::read(ready[0], &report, 1), 1);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(ready[0]);
  ASSERT_EQ(report, 'y');
  ASSERT_TRUE(WIFSIGNALED(status));

  EXPECT_EQ(SqliteTool(file,
                       "SELECT number, send_time, text FROM received;"
                       " SELECT hex(bytes) FROM raw_reads;"),
            "+79161000001|26/12/08,10:15:00|Срочно\n"
            "0D0A2B434D47523A202252454320554E52454144220D0A\n");
  Archive archive(file);
  std::vector<ReceivedRow> rows;
  ASSERT_TRUE(archive.ListReceived({}, rows).ok());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].text, "Срочно");
}

TEST(ArchiveSharing, TwoProcessesWritingAtOnceLoseNothing) {
  TempDir dir;
  const auto file = dir / "shared" / "archive.sqlite";  // neither finds it made
  constexpr int kMessages = 150;
  constexpr int kSends = 40;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::vector<pid_t> children;
  for (int who = 0; who < 2; ++who) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(go[1]);
      char c;
      [[maybe_unused]] auto got = ::read(go[0], &c, 1);  // released together at EOF
      Archive archive(file, test::WithBusyTimeout(std::chrono::milliseconds(5000)));
      const std::string port = "COM" + std::to_string(who + 1);
      for (int i = 0; i < kMessages; ++i) {
        const auto m =
            Shown("+7916" + std::to_string(who), std::to_string(i), "сообщение", i, port);
        if (const Status s = archive.StoreReceived(m); !s.ok()) {
          std::fprintf(stderr, "child %d, message %d: %s\n", who, i, s.reason.c_str());
          ::_exit(10);
        }
        if (i < kSends) {
          std::int64_t id = 0;
          if (!archive.StoreSendStarted(port, "7926", "x", 2, id).ok()) ::_exit(11);
          if (!archive.StorePartWritten(id, 1, "00").ok()) ::_exit(12);
          if (!archive.StoreSendAnswer(id, "+CMGS: 1").ok()) ::_exit(13);
          if (!archive.StorePartWritten(id, 2, "01").ok()) ::_exit(14);
        }
        if (!archive.StoreRawBytes(port, "OK\r\n").ok()) ::_exit(15);
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }
  ::close(go[0]);
  ::close(go[1]);
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  }
  EXPECT_EQ(
      Sql(file, "SELECT port, count(*), count(DISTINCT send_time) FROM received GROUP BY port"),
      (std::vector<std::string>{"COM1|150|150", "COM2|150|150"}));
  EXPECT_EQ(Sql(file, "SELECT count(*) FROM raw_reads"), std::vector<std::string>{"300"});
  // Every part and answer sits beside its own send.
  EXPECT_EQ(Sql(file,
                "SELECT s.port, count(DISTINCT s.id), count(p.id) FROM sends s"
                " JOIN send_parts p ON p.send_id = s.id GROUP BY s.port"),
            (std::vector<std::string>{"COM1|40|80", "COM2|40|80"}));
  EXPECT_EQ(Sql(file, "SELECT count(*) FROM send_answers a JOIN sends s ON a.send_id = s.id"),
            std::vector<std::string>{"80"});
  EXPECT_EQ(Sql(file, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  EXPECT_EQ(Sql(file, "PRAGMA user_version"), std::vector<std::string>{"3"});
}

}  // namespace
}  // namespace vestrel::archive
