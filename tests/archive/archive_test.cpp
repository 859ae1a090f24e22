// The archive's records and listings: a fresh file and one of the first
// layout, a message read twice, sends with parts and answers, raw bytes, the
// filter with Cyrillic letters of either case (е finding ё), paging in any
// order, the since-date and where the file lives.
#include "archive/archive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "archive/archive_path.h"
#include "archive_test_support.h"

namespace vestrel::archive {
namespace {

using test::Shown;
using test::Sql;
using test::TempDir;

std::vector<std::string> Texts(const std::vector<ReceivedRow>& rows) {
  std::vector<std::string> out;
  for (const auto& row : rows) out.push_back(row.text);
  return out;
}

// A file of the first layout (version 1), written by hand.
void MakeVersion1File(const std::filesystem::path& file) {
  Sql(file, R"(
    CREATE TABLE received (id INTEGER PRIMARY KEY, shown_at TEXT NOT NULL, port TEXT NOT NULL,
      storage_index INTEGER, number TEXT NOT NULL, send_time TEXT NOT NULL, text TEXT NOT NULL,
      raw_header BLOB NOT NULL, raw_body BLOB NOT NULL);
    CREATE UNIQUE INDEX received_identity ON received(number, send_time, text);
    CREATE TABLE sends (id INTEGER PRIMARY KEY, started_at TEXT NOT NULL, port TEXT NOT NULL,
      number TEXT NOT NULL, text TEXT NOT NULL, part_count INTEGER NOT NULL);
    CREATE TABLE send_parts (id INTEGER PRIMARY KEY, send_id INTEGER NOT NULL REFERENCES sends(id),
      part_number INTEGER NOT NULL, pdu TEXT NOT NULL, written_at TEXT NOT NULL);
    CREATE INDEX send_parts_by_send ON send_parts(send_id, part_number);
    CREATE TABLE send_answers (id INTEGER PRIMARY KEY,
      send_id INTEGER NOT NULL REFERENCES sends(id), line BLOB NOT NULL, seen_at TEXT NOT NULL);
    CREATE INDEX send_answers_by_send ON send_answers(send_id);
    INSERT INTO received VALUES (1, '2026-01-02 03:04:05.006', 'COM11', 3, '+79161000001',
      '26/01/02,03:04:00', 'Привет, МИР', X'2B434D4752', X'30343146');
    INSERT INTO received VALUES (2, '2026-01-02 03:05:00.000', 'COM11', NULL, '+79161000002',
      '26/01/02,03:04:30', 'second', X'', X'');
    INSERT INTO sends VALUES (1, '2026-01-03 00:00:00.000', 'COM11', '79160000000', 'Ответ', 1);
    INSERT INTO send_parts VALUES (1, 1, 1, '0011000B', '2026-01-03 00:00:01.000');
    INSERT INTO send_answers VALUES (1, 1, '+CMGS: 7', '2026-01-03 00:00:05.000');
    PRAGMA user_version = 1;)");
}

// The second layout (version 2): the folded search copy and the raw readings.
void MakeVersion2File(const std::filesystem::path& file) {
  MakeVersion1File(file);
  Sql(file, R"(
    ALTER TABLE received ADD COLUMN search TEXT NOT NULL DEFAULT '';
    ALTER TABLE sends ADD COLUMN search TEXT NOT NULL DEFAULT '';
    CREATE TABLE raw_reads (id INTEGER PRIMARY KEY, received_at TEXT NOT NULL,
      port TEXT NOT NULL, bytes BLOB NOT NULL);)");
}

TEST(ArchiveSchema, FreshFileIsPrivateAndAtTheCurrentVersion) {
  TempDir dir;
  const auto file = dir / "new" / "deeper" / "archive.sqlite";
  Archive archive(file);
  const Status status = archive.Open();
  ASSERT_TRUE(status.ok()) << status.reason;
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(::stat(file.parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat((dir / "new").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  // The log beside it, which holds the newest records, is as private.
  ASSERT_TRUE(archive.StoreRawBytes("COM11", "x").ok());
  ASSERT_EQ(::stat((file.string() + "-wal").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  archive.Close();
  EXPECT_EQ(Sql(file, "PRAGMA user_version"),
            std::vector<std::string>{std::to_string(kSchemaVersion)});
  EXPECT_EQ(Sql(file, "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
  EXPECT_EQ(Sql(file,
                "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE '%_text_%'"
                " ORDER BY name"),
            (std::vector<std::string>{"raw_reads", "received", "received_text", "send_answers",
                                      "send_parts", "sends", "sends_text"}));
}

TEST(ArchiveSchema, Version1FileIsCarriedForwardWithItsRecords) {
  TempDir dir;
  const auto file = dir / "archive.sqlite";
  MakeVersion1File(file);
  Archive archive(file);
  ASSERT_TRUE(archive.Open().ok());
  EXPECT_EQ(Sql(file, "PRAGMA user_version"),
            std::vector<std::string>{std::to_string(kSchemaVersion)});

  std::vector<ReceivedRow> rows;
  ASSERT_TRUE(archive.ListReceived({}, rows).ok());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].text, "Привет, МИР");
  EXPECT_EQ(rows[1].storage_index, 3);
  EXPECT_EQ(rows[1].raw_header, "+CMGR");
  EXPECT_FALSE(rows[0].storage_index);
  // The folded copy was made for the old rows too.
  ASSERT_TRUE(archive.ListReceived(test::Matching("мир"), rows).ok());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].number, "+79161000001");
  std::vector<SentRow> sent;
  ASSERT_TRUE(archive.ListSent(test::Matching("ОТВЕТ"), sent).ok());
  ASSERT_EQ(sent.size(), 1u);
  std::vector<AnswerRow> answers;
  ASSERT_TRUE(archive.ListAnswers(sent[0].id, answers).ok());
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].line, "+CMGS: 7");

  // The old records stay one each: the same message shown again adds nothing.
  bool inserted = true;
  ASSERT_TRUE(
      archive.StoreReceived(Shown("+79161000001", "26/01/02,03:04:00", "Привет, МИР"), &inserted)
          .ok());
  EXPECT_FALSE(inserted);
  EXPECT_TRUE(archive.StoreRawBytes("COM11", "abc").ok());
}

// A file of the second layout: sends without results, judged on opening by
// the answers kept with them.
TEST(ArchiveSchema, Version2SendsGetTheirStatusFromTheAnswersKept) {
  TempDir dir;
  const auto file = dir / "archive.sqlite";
  MakeVersion2File(file);
  Sql(file, R"(
    INSERT INTO sends VALUES (2, '2026-01-04 00:00:00.000', 'COM11', '7916', 'two', 2, '');
    INSERT INTO send_answers VALUES (2, 2, '+CMGS: 8', '2026-01-04 00:00:05.000');
    INSERT INTO sends VALUES (3, '2026-01-05 00:00:00.000', 'COM11', '7916', 'three', 2, '');
    INSERT INTO send_answers VALUES (3, 3, '+CMGS: 9', '2026-01-05 00:00:05.000');
    INSERT INTO send_answers VALUES (4, 3, '+CMS ERROR: 500', '2026-01-05 00:00:25.000');
    INSERT INTO sends VALUES (4, '2026-01-06 00:00:00.000', 'COM11', '7916', 'four', 1, '');
    PRAGMA user_version = 2;)");
  Archive archive(file);
  ASSERT_TRUE(archive.Open().ok());
  EXPECT_EQ(Sql(file, "PRAGMA user_version"),
            std::vector<std::string>{std::to_string(kSchemaVersion)});
  std::vector<SentRow> sent;
  ASSERT_TRUE(archive.ListSent({}, sent).ok());
  std::vector<std::string> statuses;
  for (const SentRow& row : sent) statuses.push_back(row.text + " " + row.status);
  EXPECT_EQ(statuses, (std::vector<std::string>{"four unknown", "three refused", "two unknown",
                                                "Ответ accepted"}));
  // The old parts were kept without results.
  std::vector<PartRow> parts;
  ASSERT_TRUE(archive.ListParts(1, parts).ok());
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].status, "");
  EXPECT_FALSE(parts[0].reference);
}

TEST(ArchiveSchema, FileOfANewerProgramIsLeftUntouched) {
  TempDir dir;
  const auto file = dir / "archive.sqlite";
  Sql(file, "CREATE TABLE future (x); PRAGMA user_version = 9;");
  const std::string before = test::ReadFile(file);
  Archive archive(file);
  const Status status = archive.StoreReceived(Shown("+79161000001", "26/01/02,03:04:00", "x"));
  EXPECT_EQ(status.error, ArchiveError::kNewerSchema);
  EXPECT_FALSE(status.stored);
  EXPECT_NE(status.reason.find("более новой версией"), std::string::npos) << status.reason;
  EXPECT_EQ(test::ReadFile(file), before);
}

TEST(ArchiveReceived, MessageReadTwiceIsStoredOnce) {
  TempDir dir;
  Archive archive(dir / "archive.sqlite");
  bool inserted = false;
  ASSERT_TRUE(
      archive.StoreReceived(Shown("+79161000001", "26/12/08,10:15:00", "Тест"), &inserted).stored);
  EXPECT_TRUE(inserted);
  // Found again by a later reading: another index, another port.
  Status again = archive.StoreReceived(
      Shown("+79161000001", "26/12/08,10:15:00", "Тест", 4, "COM3"), &inserted);
  EXPECT_TRUE(again.ok());
  EXPECT_TRUE(again.stored);
  EXPECT_FALSE(inserted);
  // Any of the three differing makes another message.
  ASSERT_TRUE(archive.StoreReceived(Shown("+79161000002", "26/12/08,10:15:00", "Тест")).ok());
  ASSERT_TRUE(archive.StoreReceived(Shown("+79161000001", "26/12/08,10:15:01", "Тест")).ok());
  ASSERT_TRUE(archive.StoreReceived(Shown("+79161000001", "26/12/08,10:15:00", "тест")).ok());
  std::vector<ShownMessage> batch = {Shown("+79161000001", "26/12/08,10:15:00", "Тест"),
                                     Shown("+79161000009", "26/12/08,10:15:00", "new")};
  ASSERT_TRUE(archive.StoreReceivedMany(batch).ok());
  std::vector<ReceivedRow> rows;
  ASSERT_TRUE(archive.ListReceived({}, rows).ok());
  EXPECT_EQ(Texts(rows), (std::vector<std::string>{"new", "тест", "Тест", "Тест", "Тест"}));
  EXPECT_EQ(rows.back().port, "COM11");
  EXPECT_EQ(rows.back().storage_index, 0);
}

TEST(ArchiveReceived, ShownTextsAreKeptAsUtf8AndRawLinesAsBytes) {
  TempDir dir;
  const auto file = dir / "archive.sqlite";
  Archive archive(file);
  archive.SetClock([] {
    return std::chrono::sys_days{std::chrono::December / 8 / 2026} + std::chrono::hours(10) +
           std::chrono::milliseconds(42);
  });
  ShownMessage m = Shown("+79161000001", "26/12/08,10:15:00", "Ёлка ь №5");
  m.raw_body = std::string("04\0\xFF\r", 5);
  m.storage_index.reset();
  ASSERT_TRUE(archive.StoreReceived(m).ok());
  archive.Close();
  EXPECT_EQ(Sql(file,
                "SELECT shown_at, port, storage_index IS NULL, number, send_time, text,"
                " hex(raw_body) FROM received"),
            std::vector<std::string>{"2026-12-08 10:00:00.042|COM11|1|+79161000001|"
                                     "26/12/08,10:15:00|Ёлка ь №5|303400FF0D"});
}

TEST(ArchiveSent, SendKeepsItsPartsAndTheAnswersSeen) {
  TempDir dir;
  Archive archive(dir / "archive.sqlite");
  std::int64_t id = 0;
  ASSERT_TRUE(archive
                  .StoreSendStarted("COM11", "79161234567",
                                    platform::Cp1251FromUtf8("Длинный текст"), 2, id)
                  .ok());
  ASSERT_GT(id, 0);
  ASSERT_TRUE(archive.StorePartWritten(id, 1, "0011000B919761214365F70008").ok());
  ASSERT_TRUE(archive.StoreSendAnswer(id, "+CMGS: 12").ok());
  ASSERT_TRUE(archive.StorePartWritten(id, 2, "0011000B919761214365F70009").ok());
  ASSERT_TRUE(archive.StoreSendAnswer(id, "+CMS ERROR: 500").ok());
  std::int64_t other = 0;
  ASSERT_TRUE(archive.StoreSendStarted("COM3", "79160000000", "b", 1, other).ok());
  EXPECT_GT(other, id);

  std::vector<SentRow> sent;
  ASSERT_TRUE(archive.ListSent({}, sent).ok());
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].id, other);
  EXPECT_EQ(sent[1].text, "Длинный текст");
  EXPECT_EQ(sent[1].part_count, 2);
  EXPECT_EQ(sent[1].port, "COM11");
  std::vector<PartRow> parts;
  ASSERT_TRUE(archive.ListParts(id, parts).ok());
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].part_number, 1);
  EXPECT_EQ(parts[1].pdu, "0011000B919761214365F70009");
  std::vector<AnswerRow> answers;
  ASSERT_TRUE(archive.ListAnswers(id, answers).ok());
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0].line, "+CMGS: 12");
  EXPECT_EQ(answers[1].line, "+CMS ERROR: 500");
  ASSERT_TRUE(archive.ListParts(other, parts).ok());
  EXPECT_TRUE(parts.empty());
}

TEST(ArchiveSent, PartResultsAndTheSendsStatus) {
  TempDir dir;
  Archive archive(dir / "archive.sqlite");
  std::int64_t id = 0;
  ASSERT_TRUE(archive.StoreSendStarted("COM11", "79161234567", "ab", 3, id).ok());
  ASSERT_TRUE(archive.StorePartWritten(id, 1, "01").ok());
  ASSERT_TRUE(archive.StorePartWritten(id, 2, "02").ok());
  std::vector<SentRow> sent;
  ASSERT_TRUE(archive.ListSent({}, sent).ok());
  EXPECT_EQ(sent.at(0).status, "unknown");  // until the answers say more

  ASSERT_TRUE(archive.StorePartResult(id, 1, {SendStatus::kAccepted, "a", 17, {}, ""}).ok());
  ASSERT_TRUE(archive
                  .StorePartResult(id, 2,
                                   {SendStatus::kRefused,
                                    platform::Cp1251FromUtf8("б"),
                                    {},
                                    500,
                                    platform::Cp1251FromUtf8("модем ответил +CMS ERROR: 500")})
                  .ok());
  // The third part was never written: there is nothing to keep its result on.
  ASSERT_TRUE(archive.StorePartResult(id, 3, {SendStatus::kUnknown, "c", {}, {}, ""}).ok());
  ASSERT_TRUE(archive.StoreSendResult(id, SendStatus::kRefused).ok());
  EXPECT_FALSE(archive.StoreSendResult(0, SendStatus::kAccepted).ok());

  ASSERT_TRUE(archive.ListSent({}, sent).ok());
  EXPECT_EQ(sent.at(0).status, "refused");
  std::vector<PartRow> parts;
  ASSERT_TRUE(archive.ListParts(id, parts).ok());
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].status, "accepted");
  EXPECT_EQ(parts[0].reference, 17);
  EXPECT_EQ(parts[0].error, "");
  EXPECT_EQ(parts[1].text, "б");
  EXPECT_EQ(parts[1].status, "refused");
  EXPECT_EQ(parts[1].error_code, 500);
  EXPECT_EQ(parts[1].error, "модем ответил +CMS ERROR: 500");
}

TEST(ArchiveSent, PartsOfASendNotStoredAreRefused) {
  TempDir dir;
  Archive archive(dir / "archive.sqlite");
  EXPECT_FALSE(archive.StorePartWritten(0, 1, "00").ok());
  EXPECT_FALSE(archive.StoreSendAnswer(0, "+CMGS: 1").ok());
  EXPECT_FALSE(archive.IsOpen());
}

TEST(ArchiveRaw, BytesOfReadingsComeBackExactlyNewestFirst) {
  TempDir dir;
  Archive archive(dir / "archive.sqlite");
  auto now = std::chrono::sys_days{std::chrono::December / 7 / 2026} + std::chrono::hours(23);
  archive.SetClock([&] { return now; });
  const std::string first("\r\n+CPMS: 3,50\r\n\0\xC0\x1A", 18);
  ASSERT_TRUE(archive.StoreRawBytes("COM11", first).ok());
  now += std::chrono::hours(2);
  ASSERT_TRUE(archive.StoreRawBytes("COM11", "OK\r\n").ok());
  std::vector<RawRow> raw;
  ASSERT_TRUE(archive.ListRawBytes({}, raw).ok());
  ASSERT_EQ(raw.size(), 2u);
  EXPECT_EQ(raw[0].bytes, "OK\r\n");
  EXPECT_EQ(raw[1].bytes, first);
  EXPECT_EQ(raw[1].received_at, "2026-12-07 23:00:00.000");
  ASSERT_TRUE(archive.ListRawBytes(test::Since("2026-12-08"), raw).ok());
  ASSERT_EQ(raw.size(), 1u);
  EXPECT_EQ(raw[0].received_at, "2026-12-08 01:00:00.000");
}

class ArchiveFilter : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* text :
         {"Привет, ЁЖИК", "пРИВЕТ мир", "Hello WORLD", "Ґанок і Їжак", "ПОДВАЛ", "подвал"}) {
      ASSERT_TRUE(archive.StoreReceived(Shown("+7916" + std::to_string(++n), "t", text)).ok());
      std::int64_t id;
      ASSERT_TRUE(archive
                      .StoreSendStarted("COM1", "7926" + std::to_string(n),
                                        platform::Cp1251FromUtf8(text), 1, id)
                      .ok());
    }
  }
  std::vector<std::string> Matching(const std::string& match) {
    std::vector<ReceivedRow> rows;
    EXPECT_TRUE(archive.ListReceived(test::Matching(match), rows).ok());
    return Texts(rows);
  }

  TempDir dir;
  Archive archive{dir / "archive.sqlite"};
  int n = 0;
};

TEST_F(ArchiveFilter, CyrillicAndLatinMatchWithoutRegardToCase) {
  EXPECT_EQ(Matching("привет"), (std::vector<std::string>{"пРИВЕТ мир", "Привет, ЁЖИК"}));
  EXPECT_EQ(Matching("ПРИВЕТ, ё"), (std::vector<std::string>{"Привет, ЁЖИК"}));
  EXPECT_EQ(Matching("ёжик"), (std::vector<std::string>{"Привет, ЁЖИК"}));
  // People type е for ё: either finds both, in either case.
  EXPECT_EQ(Matching("ежик"), (std::vector<std::string>{"Привет, ЁЖИК"}));
  EXPECT_EQ(Matching("ЕЖ"), (std::vector<std::string>{"Привет, ЁЖИК"}));
  EXPECT_EQ(Matching("hello world"), (std::vector<std::string>{"Hello WORLD"}));
  EXPECT_EQ(Matching("ҐАНОК І ЇЖАК"), (std::vector<std::string>{"Ґанок і Їжак"}));
  EXPECT_EQ(Matching("подВал"), (std::vector<std::string>{"подвал", "ПОДВАЛ"}));
  EXPECT_TRUE(Matching("%").empty());  // no pattern characters
  EXPECT_EQ(Matching("").size(), 6u);
}

TEST_F(ArchiveFilter, NumberMatchesAndSentMessagesFilterAlike) {
  EXPECT_EQ(Matching("+79163"), (std::vector<std::string>{"Hello WORLD"}));
  std::vector<SentRow> sent;
  ASSERT_TRUE(archive.ListSent(test::Matching("ЁЖИК"), sent).ok());
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].number, "79261");
  ASSERT_TRUE(archive.ListSent(test::Matching("79264"), sent).ok());
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].text, "Ґанок і Їжак");
}

TEST(ArchivePaging, PagesFollowEachOtherNewestFirstWithoutGapsOrRepeats) {
  TempDir dir;
  Archive archive(dir / "archive.sqlite");
  std::vector<ShownMessage> all;
  for (int i = 0; i < 25; ++i)
    all.push_back(Shown("+7916", "t", (i % 2 ? "чёт " : "НЕЧЁТ ") + std::to_string(i)));
  ASSERT_TRUE(archive.StoreReceivedMany(all).ok());
  std::vector<std::string> seen;
  Query query = test::Matching("чёт", 4);
  for (;;) {
    std::vector<ReceivedRow> page;
    ASSERT_TRUE(archive.ListReceived(query, page).ok());
    for (const auto& row : page) seen.push_back(row.text);
    if (page.size() < 4) break;
    query.before_id = page.back().id;
  }
  ASSERT_EQ(seen.size(), 25u);
  for (int i = 0; i < 25; ++i) EXPECT_NE(seen[i].find(std::to_string(24 - i)), std::string::npos);
  std::vector<ReceivedRow> odd;
  ASSERT_TRUE(archive.ListReceived(test::Matching("НЕЧЁТ", 100), odd).ok());
  EXPECT_EQ(odd.size(), 13u);
}

TEST(ArchiveSince, DatesAreReadStrictlyAndFilterByUtcTime) {
  EXPECT_EQ(NormalizeSince("2026-12-08"), "2026-12-08 00:00:00.000");
  EXPECT_EQ(NormalizeSince("2026-12-08 10:15"), "2026-12-08 10:15:00.000");
  EXPECT_EQ(NormalizeSince("2026-12-08T10:15:09"), "2026-12-08 10:15:09.000");
  for (const char* bad : {"", "2026-13-01", "2026-12-32", "2026-12-08 24:00", "08.12.2026",
                          "2026-12-08 10", "2026-12-08 10:15:0", "2026-12-08x"})
    EXPECT_FALSE(NormalizeSince(bad)) << bad;

  TempDir dir;
  Archive archive(dir / "archive.sqlite");
  auto now = std::chrono::sys_days{std::chrono::December / 7 / 2026} + std::chrono::minutes(1439);
  archive.SetClock([&] { return now; });
  ASSERT_TRUE(archive.StoreReceived(Shown("+1", "t", "old")).ok());
  now += std::chrono::minutes(1);
  ASSERT_TRUE(archive.StoreReceived(Shown("+2", "t", "new")).ok());
  std::vector<ReceivedRow> rows;
  ASSERT_TRUE(archive.ListReceived(test::Since("2026-12-08"), rows).ok());
  EXPECT_EQ(Texts(rows), std::vector<std::string>{"new"});
  ASSERT_TRUE(archive.ListReceived(test::Since("2026-12-07 23:59"), rows).ok());
  EXPECT_EQ(rows.size(), 2u);
  const Status bad = archive.ListReceived(test::Since("вчера"), rows);
  EXPECT_FALSE(bad.ok());
  EXPECT_NE(bad.reason.find("вчера"), std::string::npos);
}

class ArchiveLocation : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"XDG_DATA_HOME", "HOME"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(ArchiveLocation, XdgDataHomeElseTheHomeFolder) {
  ::setenv("HOME", "/home/operator", 1);
  ::setenv("XDG_DATA_HOME", "/data/op", 1);
  EXPECT_EQ(DefaultArchivePath(), "/data/op/vestrel/archive.sqlite");
  ::setenv("XDG_DATA_HOME", "relative/data", 1);  // not absolute: ignored
  EXPECT_EQ(DefaultArchivePath(), "/home/operator/.local/share/vestrel/archive.sqlite");
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DefaultArchivePath(), "/home/operator/.local/share/vestrel/archive.sqlite");
  ::setenv("XDG_DATA_HOME", "", 1);
  EXPECT_EQ(DefaultArchivePath(), "/home/operator/.local/share/vestrel/archive.sqlite");
}

TEST_F(ArchiveLocation, ConfiguredNameOverridesTheDefault) {
  ::setenv("HOME", "/home/operator", 1);
  ::unsetenv("XDG_DATA_HOME");
  const std::filesystem::path ini_folder = "/opt/vestrel";
  EXPECT_EQ(ResolveArchivePath("", ini_folder), DefaultArchivePath());
  EXPECT_EQ(ResolveArchivePath("  ", ini_folder), DefaultArchivePath());
  EXPECT_EQ(ResolveArchivePath("/srv/sms/архив.sqlite", ini_folder), "/srv/sms/архив.sqlite");
  EXPECT_EQ(ResolveArchivePath("sms.sqlite", ini_folder), "/opt/vestrel/sms.sqlite");
  EXPECT_EQ(ResolveArchivePath("~/sms/a.sqlite ", ini_folder), "/home/operator/sms/a.sqlite");
}

// Ordered listings read a page at a time, each page asked for after the last
// row of the one before, give every row once, in the order of the column and
// then of the id, as sorting all rows would.
TEST(ArchiveOrder, EveryOrderPagesThroughAllRowsAsAFullSortWould) {
  TempDir dir;
  Archive archive(dir / "archive.sqlite");
  // Numbers and texts repeat, so that rows of one value follow their ids;
  // part counts past 9 show numbers ordered as numbers.
  for (int i = 0; i < 14; ++i) {
    ASSERT_TRUE(archive
                    .StoreReceived(Shown("+7916" + std::to_string(i % 3),
                                         "26/12/0" + std::to_string(i % 4) + ",10:00:00",
                                         i % 2 ? "ёлка" : "Арбуз " + std::to_string(i)))
                    .ok());
    std::int64_t id;
    ASSERT_TRUE(archive.StoreSendStarted("COM1", "7926" + std::to_string(i % 5), "t", i, id).ok());
  }
  std::vector<ReceivedRow> all;
  ASSERT_TRUE(archive.ListReceived({}, all).ok());
  std::vector<SentRow> all_sent;
  ASSERT_TRUE(archive.ListSent({}, all_sent).ok());

  const auto received_value = [](const ReceivedRow& row, const std::string& key) {
    return key == "number" ? row.number : key == "send_time" ? row.send_time : row.text;
  };
  const struct {
    std::string key;
    bool ascending;
  } cases[] = {{"shown_at", true}, {"shown_at", false}, {"number", true},
               {"number", false},  {"send_time", true}, {"text", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key + (c.ascending ? " ascending" : " descending"));
    std::vector<ReceivedRow> expected = all;
    std::stable_sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) {
      const auto ka = c.key == "shown_at" ? std::string() : received_value(a, c.key);
      const auto kb = c.key == "shown_at" ? std::string() : received_value(b, c.key);
      if (ka != kb) return c.ascending ? ka < kb : ka > kb;
      return c.ascending ? a.id < b.id : a.id > b.id;
    });
    Query query;
    query.order_by = c.key;
    query.ascending = c.ascending;
    query.limit = 4;
    std::vector<std::int64_t> got;
    for (std::vector<ReceivedRow> page;; query.before_id = page.back().id) {
      if (query.before_id) query.before_value = received_value(page.back(), c.key);
      ASSERT_TRUE(archive.ListReceived(query, page).ok());
      for (const auto& row : page) got.push_back(row.id);
      if (page.size() < 4u) break;
    }
    std::vector<std::int64_t> want;
    for (const auto& row : expected) want.push_back(row.id);
    EXPECT_EQ(got, want);
  }

  Query by_parts;
  by_parts.order_by = "part_count";
  by_parts.ascending = true;
  by_parts.limit = 5;
  by_parts.before_id = all_sent[all_sent.size() - 9].id;  // the row with 8 parts
  by_parts.before_value = "8";
  std::vector<SentRow> sent;
  ASSERT_TRUE(archive.ListSent(by_parts, sent).ok());
  std::vector<std::int32_t> parts;
  for (const auto& row : sent) parts.push_back(row.part_count);
  EXPECT_EQ(parts, (std::vector<std::int32_t>{9, 10, 11, 12, 13}));

  Query unknown;
  unknown.order_by = "raw_header";
  const Status refused = archive.ListReceived(unknown, all);
  EXPECT_EQ(refused.error, ArchiveError::kOther);
  EXPECT_TRUE(all.empty());
}

// A file of the layout before ё was read as е keeps its folded copy with ё:
// opening it brings the copy up to date.
TEST(ArchiveSchema, Version2FileLearnsThatEFindsYo) {
  TempDir dir;
  const auto file = dir / "archive.sqlite";
  MakeVersion2File(file);
  Sql(file, R"(
    INSERT INTO received VALUES (3, '2026-01-04 00:00:00.000', 'COM1', NULL, '+79160000001',
      't', 'Ёлка', X'', X'', '+79160000001' || char(10) || 'ёлка');
    INSERT INTO sends VALUES (2, '2026-01-04 00:00:00.000', 'COM1', '7926', 'ёж', 1,
      '7926' || char(10) || 'ёж');
    PRAGMA user_version = 2;)");
  Archive archive(file);
  std::vector<ReceivedRow> rows;
  ASSERT_TRUE(archive.ListReceived(test::Matching("ЕЛКА"), rows).ok());
  EXPECT_EQ(Texts(rows), std::vector<std::string>{"Ёлка"});
  std::vector<SentRow> sent;
  ASSERT_TRUE(archive.ListSent(test::Matching("еж"), sent).ok());
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(Sql(file, "PRAGMA user_version"),
            std::vector<std::string>{std::to_string(kSchemaVersion)});
}

}  // namespace
}  // namespace vestrel::archive
