#include "archive/archive.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>
#include <utility>

#include "archive/archive_files.h"
#include "platform/cp1251.h"
#include "platform/utf8.h"

namespace vestrel::archive {
namespace {

using platform::Cp1251ToUtf8;

// Each step brings the layout from version i to i + 1; a new file runs them
// all, an older file those it lacks. Steps are never changed once written:
// a new layout is a new step.
constexpr const char* kMigrations[] = {
    // 0 -> 1: received messages (a message read twice is kept once), sends,
    // their parts and the answers seen while they ran.
    R"(CREATE TABLE received (
         id INTEGER PRIMARY KEY,
         shown_at TEXT NOT NULL,
         port TEXT NOT NULL,
         storage_index INTEGER,
         number TEXT NOT NULL,
         send_time TEXT NOT NULL,
         text TEXT NOT NULL,
         raw_header BLOB NOT NULL,
         raw_body BLOB NOT NULL);
       CREATE UNIQUE INDEX received_identity ON received(number, send_time, text);
       CREATE TABLE sends (
         id INTEGER PRIMARY KEY,
         started_at TEXT NOT NULL,
         port TEXT NOT NULL,
         number TEXT NOT NULL,
         text TEXT NOT NULL,
         part_count INTEGER NOT NULL);
       CREATE TABLE send_parts (
         id INTEGER PRIMARY KEY,
         send_id INTEGER NOT NULL REFERENCES sends(id),
         part_number INTEGER NOT NULL,
         pdu TEXT NOT NULL,
         written_at TEXT NOT NULL);
       CREATE INDEX send_parts_by_send ON send_parts(send_id, part_number);
       CREATE TABLE send_answers (
         id INTEGER PRIMARY KEY,
         send_id INTEGER NOT NULL REFERENCES sends(id),
         line BLOB NOT NULL,
         seen_at TEXT NOT NULL);
       CREATE INDEX send_answers_by_send ON send_answers(send_id);)",
    // 1 -> 2: a case-folded copy of number and text for the filter (SQLite's
    // own lower() and LIKE fold ASCII only), and the raw bytes of readings.
    R"(ALTER TABLE received ADD COLUMN search TEXT NOT NULL DEFAULT '';
       UPDATE received SET search = vestrel_fold(number || char(10) || text);
       ALTER TABLE sends ADD COLUMN search TEXT NOT NULL DEFAULT '';
       UPDATE sends SET search = vestrel_fold(number || char(10) || text);
       CREATE TABLE raw_reads (
         id INTEGER PRIMARY KEY,
         received_at TEXT NOT NULL,
         port TEXT NOT NULL,
         bytes BLOB NOT NULL);)",
    // 2 -> 3: ё is read as е in the folded copy, so the filter finds either.
    R"(UPDATE received SET search = vestrel_fold(number || char(10) || text);
       UPDATE sends SET search = vestrel_fold(number || char(10) || text);)",
    // 3 -> 4: an index of the folded text's three-letter pieces, so that a
    // match finds its rows without reading every record (a million of them
    // take seconds to read); kept up to date by the triggers.
    R"(CREATE VIRTUAL TABLE received_text USING fts5(search, content='received',
         content_rowid='id', tokenize='trigram');
       INSERT INTO received_text(received_text) VALUES ('rebuild');
       CREATE TRIGGER received_text_insert AFTER INSERT ON received BEGIN
         INSERT INTO received_text(rowid, search) VALUES (new.id, new.search); END;
       CREATE TRIGGER received_text_delete AFTER DELETE ON received BEGIN
         INSERT INTO received_text(received_text, rowid, search)
           VALUES ('delete', old.id, old.search); END;
       CREATE TRIGGER received_text_update AFTER UPDATE OF search ON received BEGIN
         INSERT INTO received_text(received_text, rowid, search)
           VALUES ('delete', old.id, old.search);
         INSERT INTO received_text(rowid, search) VALUES (new.id, new.search); END;
       CREATE VIRTUAL TABLE sends_text USING fts5(search, content='sends',
         content_rowid='id', tokenize='trigram');
       INSERT INTO sends_text(sends_text) VALUES ('rebuild');
       CREATE TRIGGER sends_text_insert AFTER INSERT ON sends BEGIN
         INSERT INTO sends_text(rowid, search) VALUES (new.id, new.search); END;
       CREATE TRIGGER sends_text_delete AFTER DELETE ON sends BEGIN
         INSERT INTO sends_text(sends_text, rowid, search)
           VALUES ('delete', old.id, old.search); END;
       CREATE TRIGGER sends_text_update AFTER UPDATE OF search ON sends BEGIN
         INSERT INTO sends_text(sends_text, rowid, search)
           VALUES ('delete', old.id, old.search);
         INSERT INTO sends_text(rowid, search) VALUES (new.id, new.search); END;)",
    // 4 -> 5: what the modem answered to each part and to the send. Sends
    // kept before are judged by the answers seen while they ran (which were
    // not matched to parts): refused with any +CMS ERROR, accepted with a
    // +CMGS for every part, unknown otherwise.
    R"(ALTER TABLE sends ADD COLUMN status TEXT NOT NULL DEFAULT 'unknown';
       UPDATE sends SET status = CASE
         WHEN EXISTS (SELECT 1 FROM send_answers a WHERE a.send_id = sends.id
                      AND CAST(a.line AS TEXT) LIKE '+CMS ERROR:%') THEN 'refused'
         WHEN (SELECT count(*) FROM send_answers a WHERE a.send_id = sends.id
               AND CAST(a.line AS TEXT) LIKE '+CMGS:%') >= part_count THEN 'accepted'
         ELSE 'unknown' END;
       ALTER TABLE send_parts ADD COLUMN text TEXT;
       ALTER TABLE send_parts ADD COLUMN status TEXT;
       ALTER TABLE send_parts ADD COLUMN reference INTEGER;
       ALTER TABLE send_parts ADD COLUMN error_code INTEGER;
       ALTER TABLE send_parts ADD COLUMN error TEXT;)",
};
static_assert(std::size(kMigrations) == kSchemaVersion);

std::string Quoted(const std::filesystem::path& path) {
  return "«" + platform::PathToUtf8(path) + "»";
}

std::string SearchKey(std::string_view number_utf8, std::string_view text_utf8) {
  std::string key(number_utf8);
  key += '\n';
  key += text_utf8;
  return SearchFold(key);
}

// vestrel_fold(text) for SQL, as the migrations fill the folded column. Called
// from SQLite's C code, so nothing may be thrown out of it.
void FoldFunction(sqlite3_context* context, int, sqlite3_value** values) noexcept {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
  if (!text) {
    sqlite3_result_null(context);
    return;
  }
  try {
    const std::string folded = SearchFold(
        std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(values[0]))));
    sqlite3_result_text(context, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
  } catch (...) {
    sqlite3_result_error_nomem(context);
  }
}

// vestrel_fold_1251(bytes): received bytes as Windows-1251 text, folded as the
// filter folds, so that a match finds words in the raw readings too.
void Fold1251Function(sqlite3_context* context, int, sqlite3_value** values) noexcept {
  const auto* bytes = static_cast<const char*>(sqlite3_value_blob(values[0]));
  const auto size = static_cast<std::size_t>(sqlite3_value_bytes(values[0]));
  try {
    const std::string folded = SearchFold(Cp1251ToUtf8(std::string_view(bytes ? bytes : "", size)));
    sqlite3_result_text(context, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
  } catch (...) {
    sqlite3_result_error_nomem(context);
  }
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(std::int64_t z, int& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

std::string FormatUtc(std::chrono::system_clock::time_point at) {
  using namespace std::chrono;
  const std::int64_t ms = duration_cast<milliseconds>(at.time_since_epoch()).count();
  std::int64_t days = ms / 86400000;
  std::int64_t rest = ms % 86400000;
  if (rest < 0) rest += 86400000, days -= 1;
  int y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02u-%02u %02d:%02d:%02d.%03d", y, m, d,
                static_cast<int>(rest / 3600000), static_cast<int>(rest / 60000 % 60),
                static_cast<int>(rest / 1000 % 60), static_cast<int>(rest % 1000));
  return out;
}

std::string CompactStamp(std::chrono::system_clock::time_point at) {
  std::string s = FormatUtc(at);  // YYYY-MM-DD HH:MM:SS.mmm
  return s.substr(0, 4) + s.substr(5, 2) + s.substr(8, 2) + "-" + s.substr(11, 2) +
         s.substr(14, 2) + s.substr(17, 2);
}

bool IsCorruption(int code) {
  return (code & 0xFF) == SQLITE_CORRUPT || (code & 0xFF) == SQLITE_NOTADB;
}

// One prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql) {
    code_ = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  int code() const { return code_; }
  // Ready for the next row's values.
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  void Text(int i, std::string_view text) {
    sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void Blob(int i, std::string_view bytes) {
    sqlite3_bind_blob(stmt_, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  }
  void Int(int i, std::int64_t value) { sqlite3_bind_int64(stmt_, i, value); }
  void Null(int i) { sqlite3_bind_null(stmt_, i); }

  // SQLITE_ROW, SQLITE_DONE or an error; an earlier prepare error is returned again.
  int Step() {
    if (code_ != SQLITE_OK) return code_;
    const int code = sqlite3_step(stmt_);
    if (code != SQLITE_ROW && code != SQLITE_DONE) code_ = code;
    return code;
  }
  std::string ColumnText(int i) const {
    const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, i));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)))
             : std::string();
  }
  std::int64_t ColumnInt(int i) const { return sqlite3_column_int64(stmt_, i); }
  bool ColumnNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int code_ = SQLITE_OK;
};

}  // namespace

const char* SendStatusName(SendStatus status) {
  switch (status) {
    case SendStatus::kAccepted:
      return "accepted";
    case SendStatus::kRefused:
      return "refused";
    case SendStatus::kUnknown:
      break;
  }
  return "unknown";
}

std::string Status::OperatorMessage() const {
  return kUnavailablePrefix + reason;
}

Archive::Archive(std::filesystem::path file, Options options)
    : file_(std::move(file)),
      options_(options),
      clock_([] { return std::chrono::system_clock::now(); }) {}

Archive::~Archive() {
  Close();
}

void Archive::Close() noexcept {
  if (!db_) return;
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

std::string Archive::Now() const {
  return FormatUtc(clock_());
}

template <typename Body>
Status Archive::Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::exception& e) {
    Close();
    return {ArchiveError::kOther, false, std::string("внутренняя ошибка: ") + e.what()};
  } catch (...) {
    Close();
    return {ArchiveError::kOther, false, "внутренняя ошибка"};
  }
}

Status Archive::Open() noexcept {
  return Guarded([&] { return OpenIfNeeded(); });
}

Status Archive::OpenIfNeeded() {
  if (db_) return {};
  // While another copy creates the file or turns on its log, SQLite may say
  // "busy" at once rather than wait (waiting could deadlock two readers that
  // both want to write); the whole opening is tried again then.
  const auto deadline = std::chrono::steady_clock::now() + options_.busy_timeout;
  Status status = OpenFile();
  while (status.error == ArchiveError::kBusy && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    status = OpenFile();
  }
  if (status.ok() || status.error != ArchiveError::kCorrupt || db_) return status;
  return MoveAsideAndReopen();
}

Status Archive::OpenFile() {
  const files::Prepared prepared = files::PrepareFile(file_);
  switch (prepared.problem) {
    case files::Problem::kNone:
      break;
    case files::Problem::kFolderNotCreatable:
      return {ArchiveError::kFolder, false,
              "папка " + Quoted(prepared.where) + " не существует и не может быть создана"};
    case files::Problem::kFolderReadOnly:
      return {ArchiveError::kReadOnly, false,
              "в папке " + Quoted(prepared.where) + " нельзя создать файл"};
    case files::Problem::kFileReadOnly:
      return {ArchiveError::kReadOnly, false,
              "файл " + Quoted(prepared.where) + " доступен только для чтения"};
    case files::Problem::kNoSpace:
      return {ArchiveError::kDiskFull, false, "на диске нет места для файла " + Quoted(file_)};
    case files::Problem::kLink:
      return {ArchiveError::kOther, false,
              Quoted(prepared.where) + " — ссылка, а архив не открывается через ссылки"};
    case files::Problem::kOther:
      return {ArchiveError::kOther, false,
              "файл " + Quoted(prepared.where) + " не открывается (" + prepared.detail + ")"};
  }

  const int opened =
      sqlite3_open_v2(platform::PathToUtf8(file_).c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
  if (opened != SQLITE_OK) return Fail(opened, "open");
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, static_cast<int>(options_.busy_timeout.count()));
  if (sqlite3_db_readonly(db_, "main") == 1) {
    Close();
    return {ArchiveError::kReadOnly, false,
            "файл " + Quoted(file_) + " доступен только для чтения"};
  }
  sqlite3_create_function(db_, "vestrel_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                          FoldFunction, nullptr, nullptr);
  sqlite3_create_function(db_, "vestrel_fold_1251", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                          Fold1251Function, nullptr, nullptr);
  // A file of a newer program is refused before anything in it changes (the
  // journal mode is written into the file's header).
  std::int64_t version = 0;
  if (Status s = ReadVersion(version); !s.ok()) return s;
  if (version > kSchemaVersion) {
    Close();
    return {ArchiveError::kNewerSchema, false,
            "файл " + Quoted(file_) + " записан более новой версией программы (версия схемы " +
                std::to_string(version) + "); он оставлен как есть"};
  }
  // Write-ahead log: the window and the other copy of the program read while
  // a reading writes. With synchronous=FULL the log is flushed at every
  // commit, so a committed record survives a crash or a power cut; SQLite
  // folds the log back into the file every 1000 pages and when the last
  // connection closes.
  if (Status s = UseWriteAheadLog(); !s.ok()) return s;
  if (Status s = Exec(options_.durable ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
      !s.ok())
    return s;
  if (options_.max_pages > 0) {
    const std::string cap = "PRAGMA max_page_count=" + std::to_string(options_.max_pages);
    if (Status s = Exec(cap.c_str()); !s.ok()) return s;
  }
  return Migrate();
}

Status Archive::UseWriteAheadLog() {
  {
    Statement mode(db_, "PRAGMA journal_mode");
    const int code = mode.Step();
    if (code != SQLITE_ROW) return Fail(code, "journal_mode");
    if (mode.ColumnText(0) == "wal") return {};
  }
  return Exec("PRAGMA journal_mode=WAL");
}

Status Archive::Exec(const char* sql) {
  const int code = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) return Fail(code, sql);
  return {};
}

Status Archive::ReadVersion(std::int64_t& version) {
  Statement read(db_, "PRAGMA user_version");
  const int code = read.Step();
  if (code != SQLITE_ROW) return Fail(code, "user_version");
  version = read.ColumnInt(0);
  return {};
}

Status Archive::Migrate() {
  std::int64_t current = 0;
  if (Status s = ReadVersion(current); !s.ok()) return s;
  if (current >= kSchemaVersion) return {};
  // Another copy may be migrating the same file: the version is read again
  // under the write lock.
  if (Status s = Exec("BEGIN IMMEDIATE"); !s.ok()) return s;
  int code;
  {
    Statement read(db_, "PRAGMA user_version");
    code = read.Step();
    if (code == SQLITE_ROW) {
      current = read.ColumnInt(0);
      code = SQLITE_OK;
    }
  }
  for (std::int64_t step = current; code == SQLITE_OK && step < kSchemaVersion; ++step)
    code = sqlite3_exec(db_, kMigrations[step], nullptr, nullptr, nullptr);
  if (code == SQLITE_OK && current < kSchemaVersion) {
    const std::string set = "PRAGMA user_version=" + std::to_string(kSchemaVersion);
    code = sqlite3_exec(db_, set.c_str(), nullptr, nullptr, nullptr);
  }
  if (code == SQLITE_OK) code = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return Fail(code, "migrate");
  }
  return {};
}

Status Archive::Fail(int code, const char* /*context*/) {
  const int primary = code & 0xFF;
  const int system_error = db_ ? sqlite3_system_errno(db_) : 0;
  const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
  Close();
  if (IsCorruption(code))
    return {ArchiveError::kCorrupt, false, "файл " + Quoted(file_) + " повреждён"};
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    const auto seconds = (options_.busy_timeout.count() + 999) / 1000;
    return {ArchiveError::kBusy, false,
            "файл " + Quoted(file_) + " занят другой копией программы дольше " +
                std::to_string(seconds) + " с"};
  }
  if (primary == SQLITE_FULL || system_error == ENOSPC || system_error == EDQUOT)
    return {ArchiveError::kDiskFull, false, "на диске нет места для файла " + Quoted(file_)};
  if (primary == SQLITE_READONLY || primary == SQLITE_PERM || system_error == EROFS ||
      system_error == EACCES || system_error == EPERM)
    return {ArchiveError::kReadOnly, false,
            "файл " + Quoted(file_) + " или его папка доступны только для чтения"};
  if (primary == SQLITE_IOERR)
    return {ArchiveError::kIo, false,
            "ошибка ввода-вывода в файле " + Quoted(file_) + " (" + message + ")"};
  return {ArchiveError::kOther, false,
          "ошибка SQLite в файле " + Quoted(file_) + " (" + message + ")"};
}

// The damaged file keeps its bytes under a new name beside the old one,
// together with its write-ahead log, which may hold the newest records.
Status Archive::MoveAsideAndReopen() {
  Close();
  const std::string stamp = CompactStamp(std::chrono::system_clock::now());
  std::filesystem::path aside;
  for (int n = 1;; ++n) {
    aside = file_;
    aside += ".corrupt-" + stamp + (n > 1 ? "-" + std::to_string(n) : "");
    std::error_code exists_error;
    if (!std::filesystem::exists(aside, exists_error) || n > 99) break;
  }
  std::error_code error;
  std::filesystem::rename(file_, aside, error);
  if (error)
    return {ArchiveError::kCorrupt, false,
            "файл " + Quoted(file_) + " повреждён и не переименовывается (" + error.message() +
                "); архив не ведётся"};
  for (const char* suffix : {"-wal", "-shm"}) {
    std::filesystem::path from = file_, to = aside;
    from += suffix;
    to += suffix;
    std::error_code ignored;
    if (std::filesystem::exists(from, ignored)) std::filesystem::rename(from, to, ignored);
  }
  Status status{ArchiveError::kCorrupt, false,
                "файл " + Quoted(file_) + " был повреждён; он сохранён как " + Quoted(aside) +
                    ", начат новый архив"};
  Status reopened = OpenFile();
  if (!reopened.ok()) status.reason += "; " + reopened.reason;
  return status;
}

// Runs body (which returns an SQLite code) as one write transaction on an
// open archive. A damaged file is moved aside once and the body run again on
// the new file.
template <typename Body>
Status Archive::Write(Body&& body) {
  Status opened = OpenIfNeeded();
  const bool recovered = opened.error == ArchiveError::kCorrupt;
  if (!db_) return opened;
  const auto attempt = [&]() -> int {
    int code = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (code == SQLITE_OK) code = body();
    if (code == SQLITE_OK) code = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK && !sqlite3_get_autocommit(db_))
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return code;
  };
  int code = attempt();
  if (IsCorruption(code) && !recovered) {
    Fail(code, "write");
    Status moved = MoveAsideAndReopen();
    if (!db_) return moved;
    code = attempt();
    if (code != SQLITE_OK) {
      Status failed = Fail(code, "write");
      failed.error = ArchiveError::kCorrupt;
      failed.reason = moved.reason + "; " + failed.reason;
      return failed;
    }
    ++writes_;
    moved.stored = true;
    return moved;
  }
  if (code != SQLITE_OK) return Fail(code, "write");
  ++writes_;
  if (recovered) {
    opened.stored = true;
    return opened;
  }
  return {ArchiveError::kNone, true, {}};
}

namespace {

int InsertReceived(sqlite3* db, Statement& insert, const ShownMessage& m, const std::string& now,
                   bool* inserted) {
  (void)db;
  const std::string number = Cp1251ToUtf8(m.number);
  const std::string text = Cp1251ToUtf8(m.text);
  insert.Text(1, now);
  insert.Text(2, Cp1251ToUtf8(m.port));
  if (m.storage_index)
    insert.Int(3, *m.storage_index);
  else
    insert.Null(3);
  insert.Text(4, number);
  insert.Text(5, Cp1251ToUtf8(m.send_time));
  insert.Text(6, text);
  insert.Blob(7, m.raw_header);
  insert.Blob(8, m.raw_body);
  insert.Text(9, SearchKey(number, text));
  const int code = insert.Step();
  if (code != SQLITE_DONE) return code;
  if (inserted) *inserted = sqlite3_changes(db) > 0;
  return SQLITE_OK;
}

}  // namespace

constexpr std::string_view kInsertReceived =
    "INSERT OR IGNORE INTO received (shown_at, port, storage_index, number, send_time, text,"
    " raw_header, raw_body, search) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)";

Status Archive::StoreReceived(const ShownMessage& message, bool* inserted) noexcept {
  if (inserted) *inserted = false;
  return Guarded([&] {
    return Write([&] {
      Statement insert(db_, kInsertReceived);
      return InsertReceived(db_, insert, message, Now(), inserted);
    });
  });
}

Status Archive::StoreReceivedMany(std::span<const ShownMessage> messages) noexcept {
  return Guarded([&] {
    return Write([&] {
      Statement insert(db_, kInsertReceived);
      const std::string now = Now();
      for (const ShownMessage& message : messages) {
        insert.Reset();
        if (int code = InsertReceived(db_, insert, message, now, nullptr); code != SQLITE_OK)
          return code;
      }
      return SQLITE_OK;
    });
  });
}

Status Archive::StoreRawBytes(std::string_view port, std::string_view bytes) noexcept {
  return Guarded([&] {
    return Write([&] {
      Statement insert(db_, "INSERT INTO raw_reads (received_at, port, bytes) VALUES (?1, ?2, ?3)");
      insert.Text(1, Now());
      insert.Text(2, Cp1251ToUtf8(port));
      insert.Blob(3, bytes);
      const int code = insert.Step();
      return code == SQLITE_DONE ? SQLITE_OK : code;
    });
  });
}

Status Archive::StoreSendStarted(std::string_view port, std::string_view number,
                                 std::string_view text, std::int32_t part_count,
                                 std::int64_t& send_id) noexcept {
  send_id = 0;
  std::int64_t id = 0;
  Status status = Guarded([&] {
    return Write([&] {
      const std::string number_utf8 = Cp1251ToUtf8(number);
      const std::string text_utf8 = Cp1251ToUtf8(text);
      Statement insert(db_,
                       "INSERT INTO sends (started_at, port, number, text, part_count, search)"
                       " VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
      insert.Text(1, Now());
      insert.Text(2, Cp1251ToUtf8(port));
      insert.Text(3, number_utf8);
      insert.Text(4, text_utf8);
      insert.Int(5, part_count);
      insert.Text(6, SearchKey(number_utf8, text_utf8));
      const int code = insert.Step();
      if (code != SQLITE_DONE) return code;
      id = sqlite3_last_insert_rowid(db_);
      return SQLITE_OK;
    });
  });
  if (status.stored) send_id = id;
  return status;
}

Status Archive::NextConcatenationReference(std::uint8_t& reference) noexcept {
  return Guarded([&]() -> Status {
    if (Status s = OpenIfNeeded(); !s.ok()) return s;
    Statement next(db_, "SELECT coalesce(max(id), 0) + 1 FROM sends");
    const int code = next.Step();
    if (code != SQLITE_ROW) return Fail(code, "next send");
    reference = static_cast<std::uint8_t>(next.ColumnInt(0) & 0xFF);
    return {};
  });
}

namespace {

Status NoSend() {
  return {ArchiveError::kOther, false, "начало отправки не записано, её части не сохраняются"};
}

}  // namespace

Status Archive::StorePartWritten(std::int64_t send_id, std::int32_t part_number,
                                 std::string_view pdu) noexcept {
  if (send_id <= 0) return NoSend();
  return Guarded([&] {
    return Write([&] {
      Statement insert(db_,
                       "INSERT INTO send_parts (send_id, part_number, pdu, written_at)"
                       " VALUES (?1, ?2, ?3, ?4)");
      insert.Int(1, send_id);
      insert.Int(2, part_number);
      insert.Text(3, pdu);
      insert.Text(4, Now());
      const int code = insert.Step();
      return code == SQLITE_DONE ? SQLITE_OK : code;
    });
  });
}

Status Archive::StoreSendAnswer(std::int64_t send_id, std::string_view line) noexcept {
  if (send_id <= 0) return NoSend();
  return Guarded([&] {
    return Write([&] {
      Statement insert(db_,
                       "INSERT INTO send_answers (send_id, line, seen_at) VALUES (?1, ?2, ?3)");
      insert.Int(1, send_id);
      insert.Blob(2, line);
      insert.Text(3, Now());
      const int code = insert.Step();
      return code == SQLITE_DONE ? SQLITE_OK : code;
    });
  });
}

Status Archive::StorePartResult(std::int64_t send_id, std::int32_t part_number,
                                const PartOutcome& outcome) noexcept {
  if (send_id <= 0) return NoSend();
  return Guarded([&] {
    return Write([&] {
      Statement update(db_,
                       "UPDATE send_parts SET text = ?1, status = ?2, reference = ?3,"
                       " error_code = ?4, error = ?5 WHERE send_id = ?6 AND part_number = ?7");
      update.Text(1, Cp1251ToUtf8(outcome.text));
      update.Text(2, SendStatusName(outcome.status));
      if (outcome.reference)
        update.Int(3, *outcome.reference);
      else
        update.Null(3);
      if (outcome.error_code)
        update.Int(4, *outcome.error_code);
      else
        update.Null(4);
      if (outcome.error.empty())
        update.Null(5);
      else
        update.Text(5, Cp1251ToUtf8(outcome.error));
      update.Int(6, send_id);
      update.Int(7, part_number);
      const int code = update.Step();
      return code == SQLITE_DONE ? SQLITE_OK : code;
    });
  });
}

Status Archive::StoreSendResult(std::int64_t send_id, SendStatus status) noexcept {
  if (send_id <= 0) return NoSend();
  return Guarded([&] {
    return Write([&] {
      Statement update(db_, "UPDATE sends SET status = ?1 WHERE id = ?2");
      update.Text(1, SendStatusName(status));
      update.Int(2, send_id);
      const int code = update.Step();
      return code == SQLITE_DONE ? SQLITE_OK : code;
    });
  });
}

namespace {

// The WHERE, ORDER BY and LIMIT of a listing; its texts are bound from
// parameter 1 on, the paging id after them.
struct Filter {
  std::string sql;
  std::vector<std::string> texts;
  std::optional<std::int64_t> before_id;
  std::int32_t limit = 0;
};

// The number as compared: without + ( ) - and blanks.
constexpr char kBareNumber[] =
    "replace(replace(replace(replace(replace(number, '+', ''), ' ', ''), '-', ''), '(', ''),"
    " ')', '')";

std::string BareNumber(std::string_view number) {
  std::string bare;
  for (char c : number)
    if (c != '+' && c != ' ' && c != '-' && c != '(' && c != ')') bare += c;
  return bare;
}

// The number of characters of UTF-8 text (of bytes, where it is not UTF-8).
std::size_t Characters(std::string_view utf8) {
  const auto code_points = platform::Utf8ToCodePoints(utf8);
  return code_points ? code_points->size() : utf8.size();
}

// An FTS5 string: the text in double quotes, a quote doubled.
std::string Phrase(std::string_view text) {
  std::string phrase = "\"";
  for (char c : text) phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
  return phrase + "\"";
}

// Empty when the query can be listed, else what is wrong with it.
std::string BuildFilter(const Query& query, const ListColumns& columns, Filter& filter) {
  std::vector<std::string> clauses;
  const auto parameter = [&](std::string value) {
    filter.texts.push_back(std::move(value));
    return "?" + std::to_string(filter.texts.size());
  };
  const std::string folded = SearchFold(query.match);
  // The index answers for three characters or more; the text is still
  // compared, so the index only narrows.
  const bool indexed = columns.search && columns.text_index && Characters(folded) >= 3;
  std::string id = "id";
  if (indexed) {
    const std::string index = columns.text_index;
    const std::string table = columns.table;
    filter.sql = " JOIN " + index + " ON " + index + ".rowid = " + table + ".id";
    clauses.push_back(index + " MATCH " + parameter(Phrase(folded)));
    clauses.push_back("instr(" + table + "." + columns.search + ", " + parameter(folded) + ") > 0");
    id = index + ".rowid";
  } else if (columns.search && !query.match.empty()) {
    clauses.push_back("instr(" + std::string(columns.search) + ", " + parameter(folded) + ") > 0");
  }
  if (columns.number && !query.number.empty())
    clauses.push_back(std::string(kBareNumber) + " = " + parameter(BareNumber(query.number)));
  if (!query.since.empty()) {
    const auto since = NormalizeSince(query.since);
    if (!since) return "дата «" + query.since + "» не понята";
    clauses.push_back(std::string(columns.time) + " >= " + parameter(*since));
  }
  if (!query.until.empty()) {
    const auto until = NormalizeSince(query.until);
    if (!until) return "дата «" + query.until + "» не понята";
    // A date alone takes in its whole day.
    const std::string bound = query.until.size() == 10 ? "strftime('%Y-%m-%d %H:%M:%f', " +
                                                             parameter(*until) + ", '+1 day')"
                                                       : parameter(*until);
    clauses.push_back(std::string(columns.time) + " < " + bound);
  }
  if (!query.order_by.empty() && std::find(columns.orders.begin(), columns.orders.end(),
                                           query.order_by) == columns.orders.end())
    return "порядок по столбцу «" + query.order_by + "» не предусмотрен";
  // Records are numbered as they come: the record's time orders as its id,
  // which needs no index of its own.
  const bool by_id = query.order_by.empty() || query.order_by == columns.time;
  const std::string column = by_id ? id : query.order_by;
  const char* after = query.ascending ? " > " : " < ";
  const char* direction = query.ascending ? " ASC" : " DESC";
  if (query.before_id) {
    // The id's parameter comes after all the texts.
    const std::string key = "?" + std::to_string(filter.texts.size() + (by_id ? 1 : 2));
    if (by_id) {
      clauses.push_back(id + after + key);
    } else {
      const std::string value = parameter(query.before_value.value_or(std::string()));
      clauses.push_back("(" + column + after + value + " OR (" + column + " = " + value + " AND " +
                        id + after + key + "))");
    }
  }
  for (std::size_t i = 0; i < clauses.size(); ++i)
    filter.sql += (i == 0 ? " WHERE " : " AND ") + clauses[i];
  filter.sql += " ORDER BY " + column + direction;
  if (!by_id) filter.sql += ", " + id + direction;
  if (query.limit > 0) filter.sql += " LIMIT " + std::to_string(query.limit);
  filter.before_id = query.before_id;
  return {};
}

// A listing that went well; a damaged file replaced on the way is still told.
Status Listed(Status opened) {
  opened.stored = true;
  return opened;
}

void Bind(Statement& statement, const Filter& filter) {
  int i = 1;
  for (const std::string& text : filter.texts) statement.Text(i++, text);
  if (filter.before_id) statement.Int(i, *filter.before_id);
}

}  // namespace

namespace {

template <typename Row, typename Fill>
void ListRows(sqlite3* db, const std::string& sql, const Filter* filter, std::int64_t key,
              const std::function<bool(Row&)>& each, Fill fill, int& code) {
  Statement select(db, sql);
  if (filter)
    Bind(select, *filter);
  else
    select.Int(1, key);
  while ((code = select.Step()) == SQLITE_ROW) {
    Row row;
    fill(select, row);
    if (!each(row)) break;
  }
  if (code == SQLITE_DONE || code == SQLITE_ROW) code = SQLITE_OK;
}

template <typename Row>
std::function<bool(Row&)> Into(std::vector<Row>& rows) {
  rows.clear();
  return [&rows](Row& row) {
    rows.push_back(std::move(row));
    return true;
  };
}

void FillReceived(const Statement& s, ReceivedRow& row) {
  row.id = s.ColumnInt(0);
  row.shown_at = s.ColumnText(1);
  row.port = s.ColumnText(2);
  if (!s.ColumnNull(3)) row.storage_index = static_cast<std::int32_t>(s.ColumnInt(3));
  row.number = s.ColumnText(4);
  row.send_time = s.ColumnText(5);
  row.text = s.ColumnText(6);
  row.raw_header = s.ColumnText(7);
  row.raw_body = s.ColumnText(8);
}

void FillSent(const Statement& s, SentRow& row) {
  row.id = s.ColumnInt(0);
  row.started_at = s.ColumnText(1);
  row.port = s.ColumnText(2);
  row.number = s.ColumnText(3);
  row.text = s.ColumnText(4);
  row.part_count = static_cast<std::int32_t>(s.ColumnInt(5));
  row.status = s.ColumnText(6);
}

// A part's columns, from the statement's column first on.
constexpr char kPartColumns[] =
    "part_number, pdu, written_at, text, status, reference, error_code, error";
void FillPart(const Statement& s, int first, PartRow& row) {
  row.part_number = static_cast<std::int32_t>(s.ColumnInt(first));
  row.pdu = s.ColumnText(first + 1);
  row.written_at = s.ColumnText(first + 2);
  row.text = s.ColumnText(first + 3);
  row.status = s.ColumnText(first + 4);
  if (!s.ColumnNull(first + 5)) row.reference = s.ColumnInt(first + 5);
  if (!s.ColumnNull(first + 6)) row.error_code = static_cast<std::int32_t>(s.ColumnInt(first + 6));
  row.error = s.ColumnText(first + 7);
}

void FillRaw(const Statement& s, RawRow& row) {
  row.id = s.ColumnInt(0);
  row.received_at = s.ColumnText(1);
  row.port = s.ColumnText(2);
  row.bytes = s.ColumnText(3);
}

constexpr char kSelectReceived[] =
    "SELECT id, shown_at, port, storage_index, number, send_time, text, raw_header,"
    " raw_body FROM received";
constexpr char kSelectSent[] =
    "SELECT id, started_at, port, number, text, part_count, status FROM sends";
constexpr char kSelectRaw[] = "SELECT id, received_at, port, bytes FROM raw_reads";
constexpr ListColumns kReceivedColumns{"shown_at", "search",        "number",
                                       "received", "received_text", kReceivedOrders};
constexpr ListColumns kSentColumns{"started_at", "search",     "number",
                                   "sends",      "sends_text", kSentOrders};
// Raw bytes carry no number; their text is matched as Windows-1251.
constexpr ListColumns kRawColumns{
    "received_at", "vestrel_fold_1251(bytes)", nullptr, nullptr, nullptr, kRawOrders};

}  // namespace

template <typename Row, typename Fill>
Status Archive::List(std::string select, const Query* query, const ListColumns& columns,
                     std::int64_t key, const Each<Row>& each, Fill fill) noexcept {
  return Guarded([&]() -> Status {
    Filter filter;
    if (query) {
      if (std::string wrong = BuildFilter(*query, columns, filter); !wrong.empty())
        return {ArchiveError::kOther, false, wrong};
      select += filter.sql;
    }
    Status opened = OpenIfNeeded();
    if (!db_) return opened;
    int code = SQLITE_OK;
    ListRows(db_, select, query ? &filter : nullptr, key, each, fill, code);
    if (code != SQLITE_OK) return Fail(code, "list");
    return Listed(opened);
  });
}

Status Archive::ListReceived(const Query& query, std::vector<ReceivedRow>& rows) noexcept {
  return ListReceived(query, Into(rows));
}

Status Archive::ListReceived(const Query& query, const Each<ReceivedRow>& each) noexcept {
  return List(kSelectReceived, &query, kReceivedColumns, 0, each, FillReceived);
}

Status Archive::ListSent(const Query& query, std::vector<SentRow>& rows) noexcept {
  return ListSent(query, Into(rows));
}

Status Archive::ListSent(const Query& query, const Each<SentRow>& each) noexcept {
  return List(kSelectSent, &query, kSentColumns, 0, each, FillSent);
}

// The parts and answers of every send come newest send first, as the sends
// do, and are taken off in step with them.
Status Archive::ListSentWithDetails(const Query& query, const Each<SentDetail>& each) noexcept {
  return Guarded([&]() -> Status {
    Filter filter;
    if (std::string wrong = BuildFilter(query, kSentColumns, filter); !wrong.empty())
      return {ArchiveError::kOther, false, wrong};
    Status opened = OpenIfNeeded();
    if (!db_) return opened;
    Statement sends(db_, kSelectSent + filter.sql);
    Bind(sends, filter);
    Statement parts(db_, std::string("SELECT send_id, ") + kPartColumns +
                             " FROM send_parts ORDER BY send_id DESC, part_number, id");
    Statement answers(db_,
                      "SELECT send_id, line, seen_at FROM send_answers ORDER BY send_id DESC, id");
    int part = parts.Step(), answer = answers.Step(), code;
    while ((code = sends.Step()) == SQLITE_ROW) {
      SentDetail detail;
      FillSent(sends, detail.send);
      const std::int64_t id = detail.send.id;
      for (; part == SQLITE_ROW && parts.ColumnInt(0) >= id; part = parts.Step()) {
        if (parts.ColumnInt(0) == id) {
          detail.parts.emplace_back();
          FillPart(parts, 1, detail.parts.back());
        }
      }
      for (; answer == SQLITE_ROW && answers.ColumnInt(0) >= id; answer = answers.Step()) {
        if (answers.ColumnInt(0) == id)
          detail.answers.push_back({answers.ColumnText(1), answers.ColumnText(2)});
      }
      if (!each(detail)) break;
    }
    for (int result : {code, part, answer}) {
      if (result != SQLITE_ROW && result != SQLITE_DONE) return Fail(result, "list");
    }
    return Listed(opened);
  });
}

Status Archive::Purge(std::string_view before, bool apply, PurgeCounts& counts) noexcept {
  counts = {};
  const auto bound = NormalizeSince(before);
  if (!bound) return {ArchiveError::kOther, false, "дата «" + std::string(before) + "» не понята"};
  return Guarded([&]() -> Status {
    const auto count = [&]() -> int {
      const std::pair<const char*, std::int64_t*> counted[] = {
          {"SELECT count(*) FROM received WHERE shown_at < ?1", &counts.received},
          {"SELECT count(*) FROM sends WHERE started_at < ?1", &counts.sends},
          {"SELECT count(*) FROM raw_reads WHERE received_at < ?1", &counts.raw}};
      for (const auto& [sql, n] : counted) {
        Statement select(db_, sql);
        select.Text(1, *bound);
        const int code = select.Step();
        if (code != SQLITE_ROW) return code;
        *n = select.ColumnInt(0);
      }
      return SQLITE_OK;
    };
    if (!apply) {
      Status opened = OpenIfNeeded();
      if (!db_) return opened;
      const int code = count();
      return code == SQLITE_OK ? Listed(opened) : Fail(code, "count");
    }
    return Write([&]() -> int {
      int code = count();
      for (const char* sql :
           {"DELETE FROM send_parts WHERE send_id IN (SELECT id FROM sends WHERE started_at < ?1)",
            "DELETE FROM send_answers WHERE send_id IN"
            " (SELECT id FROM sends WHERE started_at < ?1)",
            "DELETE FROM sends WHERE started_at < ?1", "DELETE FROM received WHERE shown_at < ?1",
            "DELETE FROM raw_reads WHERE received_at < ?1"}) {
        if (code != SQLITE_OK) break;
        Statement remove(db_, sql);
        remove.Text(1, *bound);
        code = remove.Step();
        if (code == SQLITE_DONE) code = SQLITE_OK;
      }
      return code;
    });
  });
}

Status Archive::ListParts(std::int64_t send_id, std::vector<PartRow>& rows) noexcept {
  return List(std::string("SELECT ") + kPartColumns +
                  " FROM send_parts WHERE send_id = ?1 ORDER BY part_number, id",
              nullptr, {}, send_id, Into(rows),
              [](const Statement& s, PartRow& row) { FillPart(s, 0, row); });
}

Status Archive::ListAnswers(std::int64_t send_id, std::vector<AnswerRow>& rows) noexcept {
  return List("SELECT line, seen_at FROM send_answers WHERE send_id = ?1 ORDER BY id", nullptr, {},
              send_id, Into(rows), [](const Statement& s, AnswerRow& row) {
                row.line = s.ColumnText(0);
                row.seen_at = s.ColumnText(1);
              });
}

Status Archive::ListRawBytes(const Query& query, std::vector<RawRow>& rows) noexcept {
  return ListRawBytes(query, Into(rows));
}

Status Archive::ListRawBytes(const Query& query, const Each<RawRow>& each) noexcept {
  return List(kSelectRaw, &query, kRawColumns, 0, each, FillRaw);
}

}  // namespace vestrel::archive
