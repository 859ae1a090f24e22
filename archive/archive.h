#pragma once
// The message archive: every message a reading showed, every send with its
// parts and the answers seen while it ran, and the raw bytes of readings, kept
// in one SQLite file per user.
//
// No call of Archive throws: each returns a Status. A failure leaves the
// archive closed; the next call tries to open the file again, so an operator
// who frees the disk or unlocks the file needs no restart. An Archive is used
// from one thread at a time; two processes may share the file.
//
// Texts handed in are the program's Windows-1251 bytes; the archive keeps them
// as UTF-8. Texts handed out (rows, reasons) are UTF-8.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace vestrel::archive {

// The layout this code writes. Older files are brought up to it on open.
inline constexpr int kSchemaVersion = 5;

enum class ArchiveError {
  kNone,
  kFolder,       // the folder is missing and cannot be created
  kReadOnly,     // the file or its folder cannot be written
  kBusy,         // another process held the file longer than the busy time-out
  kDiskFull,     // no space left (or the size cap reached)
  kCorrupt,      // the file was damaged: moved aside, a new one started
  kNewerSchema,  // written by a newer program; left untouched
  kIo,           // the system reported an input/output error
  kOther,        // anything else SQLite or the system reported
};

struct Status {
  ArchiveError error = ArchiveError::kNone;
  // The record is in the archive: written now, or found there already. True
  // also after kCorrupt when the record went into the new file.
  bool stored = false;
  // Russian, UTF-8; empty when all went well.
  std::string reason;

  bool ok() const { return error == ArchiveError::kNone; }
  // "Архив СМС недоступен: " + reason, UTF-8. Convert with
  // platform::Cp1251FromUtf8 where the program's own texts are wanted.
  std::string OperatorMessage() const;
};

inline constexpr char kUnavailablePrefix[] = "Архив СМС недоступен: ";

// A message as a reading showed it. Texts in Windows-1251, as the modem log has them.
struct ShownMessage {
  std::string port;
  std::optional<std::int32_t> storage_index;  // the index it was read from, when known
  std::string number;                         // exactly as shown
  std::string send_time;                      // exactly as shown
  std::string text;                           // the decoded text as shown
  std::string raw_header;                     // the "+CMGR:" line as received
  std::string raw_body;                       // the body line as received
};

struct Options {
  // How long a write waits for another process that holds the file.
  std::chrono::milliseconds busy_timeout{3000};
  // A cap on the file's size in database pages (0: none); reaching it is
  // reported like a full disk.
  std::int64_t max_pages = 0;
  // False only for bulk filling where a lost tail does not matter (benchmarks):
  // commits then skip the flush to disk.
  bool durable = true;
};

// Rows handed out by the queries; times are UTC "YYYY-MM-DD HH:MM:SS.mmm".
struct ReceivedRow {
  std::int64_t id = 0;
  std::string shown_at;
  std::string port;
  std::optional<std::int32_t> storage_index;
  std::string number;
  std::string send_time;
  std::string text;
  std::string raw_header;  // bytes as received
  std::string raw_body;    // bytes as received
};

// What became of a send or one of its parts. A send is accepted when the
// modem took every part, refused when it refused one; unknown otherwise (no
// answer in time, a send cut short, or not finished yet).
enum class SendStatus { kUnknown, kAccepted, kRefused };
// "accepted", "refused", "unknown": as stored and as --json gives it.
const char* SendStatusName(SendStatus status);

// A part's result as the send saw it.
struct PartOutcome {
  SendStatus status = SendStatus::kUnknown;
  std::string text;  // the part's text, Windows-1251
  std::optional<std::int64_t> reference;
  std::optional<std::int32_t> error_code;
  std::string error;  // why it was not accepted, for people, Windows-1251
};

struct SentRow {
  std::int64_t id = 0;
  std::string started_at;
  std::string port;
  std::string number;
  std::string text;
  std::int32_t part_count = 0;
  std::string status;  // SendStatusName
};

struct PartRow {
  std::int32_t part_number = 0;  // from 1
  std::string pdu;
  std::string written_at;
  // Empty for parts of sends kept before results were (the status too).
  std::string text;
  std::string status;
  std::optional<std::int64_t> reference;
  std::optional<std::int32_t> error_code;
  std::string error;
};

struct AnswerRow {
  std::string line;  // bytes as seen
  std::string seen_at;
};

struct RawRow {
  std::int64_t id = 0;
  std::string received_at;
  std::string port;
  std::string bytes;
};

// What a listing shows: newest first unless an order is asked for.
struct Query {
  // Matched in the number or the text, UTF-8, without regard to case
  // (Latin and Cyrillic letters) and with ё read as е; empty: everything.
  std::string match;
  // Only records from this UTC time on: "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]"
  // (see NormalizeSince); empty: no limit.
  std::string since;
  // Only records before this UTC time (not at it), in the same forms; a date
  // alone takes in its whole day. Empty: no limit.
  std::string until;
  // Only records whose number is this one, both compared without + ( ) -
  // and blanks; empty: any. Raw bytes have no number: they are not filtered.
  std::string number;
  // The column the rows are ordered by, one of the listing's (kReceivedOrders,
  // kSentOrders, kRawOrders); empty: the order of arrival. Rows of one value
  // follow their ids in the same direction.
  std::string order_by;
  bool ascending = false;
  // Keyset paging: only rows after the last row of the page before, given by
  // its id and, with order_by, by its value in that column.
  std::optional<std::int64_t> before_id;
  std::optional<std::string> before_value;
  // At most this many rows; 0: all.
  std::int32_t limit = 0;
};

// The columns each listing can be ordered by.
inline constexpr const char* kReceivedOrders[] = {"shown_at", "port", "number", "send_time",
                                                  "text"};
inline constexpr const char* kSentOrders[] = {"started_at", "port",   "number",
                                              "part_count", "status", "text"};
inline constexpr const char* kRawOrders[] = {"received_at", "port"};

// The since-filter in the stored time layout, or nothing when the text is not
// a date ("2026-12-08", "2026-12-08 10:15", "2026-12-08T10:15:00").
std::optional<std::string> NormalizeSince(std::string_view text);

// Lower case of UTF-8 text for matching: ASCII, Latin-1, Greek and the
// Cyrillic blocks. Invalid bytes are kept as they are.
std::string FoldCase(std::string_view utf8);
// The form the filter compares: FoldCase, and ё as е, since people type е for
// both ("елка" finds "Ёлка").
std::string SearchFold(std::string_view utf8);

// The columns a listing's filter reads: the time, the folded text the match
// looks in and the number (null: none); the table and the full-text index of
// its folded text, where there is one.
struct ListColumns {
  const char* time = nullptr;
  const char* search = nullptr;
  const char* number = nullptr;
  const char* table = nullptr;
  const char* text_index = nullptr;
  std::span<const char* const> orders;  // the columns it may be ordered by
};

// What a purge removed, or would remove.
struct PurgeCounts {
  std::int64_t received = 0;
  std::int64_t sends = 0;  // with their parts and answers
  std::int64_t raw = 0;
};

class Archive {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  explicit Archive(std::filesystem::path file, Options options = {});
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  const std::filesystem::path& file() const { return file_; }
  // Times of new records come from here (the system clock unless replaced).
  void SetClock(Clock clock) { clock_ = std::move(clock); }

  // Opens (creating the folder and the file when missing) and brings the
  // layout up to date. The store calls do this themselves when needed.
  Status Open() noexcept;
  bool IsOpen() const { return db_ != nullptr; }
  void Close() noexcept;

  // A message a reading showed. The same number, send time and text stored
  // before leaves the archive as it was; stored is true then too and
  // inserted false.
  Status StoreReceived(const ShownMessage& message, bool* inserted = nullptr) noexcept;
  // Many at once, in one transaction (imports, benchmarks).
  Status StoreReceivedMany(std::span<const ShownMessage> messages) noexcept;

  // Bytes received while a reading runs, as they came.
  Status StoreRawBytes(std::string_view port, std::string_view bytes) noexcept;

  // A send starting: number and whole text in Windows-1251, the part count.
  // send_id receives the record's id for the calls below (0 when not stored).
  Status StoreSendStarted(std::string_view port, std::string_view number, std::string_view text,
                          std::int32_t part_count, std::int64_t& send_id) noexcept;
  // The reference that links the parts of the next concatenated message: the
  // next send's id, modulo 256, so that it differs between sends kept here.
  Status NextConcatenationReference(std::uint8_t& reference) noexcept;
  // A part's PDU written to the port; part numbers count from 1. With a
  // send_id of 0 (the start was not stored) nothing is written and a failure
  // returned.
  Status StorePartWritten(std::int64_t send_id, std::int32_t part_number,
                          std::string_view pdu) noexcept;
  // An answer line ("+CMGS: n", "+CMS ERROR: n") seen while the send ran, as
  // seen; it is not matched to a part.
  Status StoreSendAnswer(std::int64_t send_id, std::string_view line) noexcept;
  // The modem's answer to a part already written (a part never written is
  // left out), and the result of the whole send.
  Status StorePartResult(std::int64_t send_id, std::int32_t part_number,
                         const PartOutcome& outcome) noexcept;
  Status StoreSendResult(std::int64_t send_id, SendStatus status) noexcept;

  // How many writes this object has committed: a view over it lists again
  // only when this has changed.
  std::uint64_t Writes() const { return writes_; }

  Status ListReceived(const Query& query, std::vector<ReceivedRow>& rows) noexcept;
  Status ListSent(const Query& query, std::vector<SentRow>& rows) noexcept;
  Status ListParts(std::int64_t send_id, std::vector<PartRow>& rows) noexcept;
  Status ListAnswers(std::int64_t send_id, std::vector<AnswerRow>& rows) noexcept;
  // Raw bytes of readings, matched as Windows-1251 text.
  Status ListRawBytes(const Query& query, std::vector<RawRow>& rows) noexcept;

  // The same listings row by row, as the query yields them, so that a long
  // listing is never held whole: `each` gets every row at once, and its false
  // ends the listing there (that is no failure).
  template <typename Row>
  using Each = std::function<bool(Row& row)>;
  Status ListReceived(const Query& query, const Each<ReceivedRow>& each) noexcept;
  Status ListSent(const Query& query, const Each<SentRow>& each) noexcept;
  Status ListRawBytes(const Query& query, const Each<RawRow>& each) noexcept;
  // Sends with their parts and answers, by three queries for the whole
  // listing rather than two more for every send.
  struct SentDetail {
    SentRow send;
    std::vector<PartRow> parts;
    std::vector<AnswerRow> answers;
  };
  Status ListSentWithDetails(const Query& query, const Each<SentDetail>& each) noexcept;

  // Removes the received messages, sends (with their parts and answers) and
  // raw readings older than `before` (a date as NormalizeSince takes it; a
  // date alone means that day's start), in one transaction. With apply false
  // nothing is removed and counts says what would be.
  Status Purge(std::string_view before, bool apply, PurgeCounts& counts) noexcept;

 private:
  Status OpenIfNeeded();
  Status OpenFile();
  Status ReadVersion(std::int64_t& version);
  Status UseWriteAheadLog();
  Status Migrate();
  Status Fail(int code, const char* context);
  Status MoveAsideAndReopen();
  Status Exec(const char* sql);
  std::string Now() const;
  template <typename Body>
  Status Guarded(Body&& body) noexcept;
  template <typename Body>
  Status Write(Body&& body);
  // One listing: the rows that `select` gives, with the query's filter on
  // the columns and its order (one of the columns' orders) appended, or with
  // key bound to ?1 when there is no query.
  template <typename Row, typename Fill>
  Status List(std::string select, const Query* query, const ListColumns& columns, std::int64_t key,
              const Each<Row>& each, Fill fill) noexcept;

  std::filesystem::path file_;
  Options options_;
  Clock clock_;
  sqlite3* db_ = nullptr;
  std::uint64_t writes_ = 0;
};

}  // namespace vestrel::archive
