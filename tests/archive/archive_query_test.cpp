// The listings row by row and the narrower queries: until a date, one
// number, a match in raw bytes, a stop half way, sends with their parts and
// answers in one pass, and removing what is older than a date.
#include <gtest/gtest.h>

#include "archive/archive.h"
#include "archive_test_support.h"

namespace vestrel::archive {
namespace {

using test::Shown;
using test::TempDir;

// Three days, one record of each kind a day: day 1 at 23:59, days 2 and 3 at 00:00.
class ArchiveQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    archive.SetClock([this] { return now; });
    const char* numbers[] = {"+7 (916) 100-00-01", "+79161000002", "79161000001"};
    for (int day = 0; day < 3; ++day) {
      now = std::chrono::sys_days{std::chrono::December / (7 + day) / 2026} +
            std::chrono::minutes(day == 0 ? 1439 : 0);
      ASSERT_TRUE(
          archive.StoreReceived(Shown(numbers[day], "t", "day " + std::to_string(day))).ok());
      std::int64_t id = 0;
      ASSERT_TRUE(archive.StoreSendStarted("COM11", std::to_string(day), "s", 2, id).ok());
      for (int part = 1; part <= 2; ++part)
        ASSERT_TRUE(archive.StorePartWritten(id, part, "pdu" + std::to_string(day)).ok());
      ASSERT_TRUE(archive.StoreSendAnswer(id, "+CMGS: " + std::to_string(day)).ok());
      ASSERT_TRUE(archive.StoreRawBytes("COM11", day == 1 ? W("\r\nПРИВЕТ\r\n") : "OK").ok());
    }
  }
  static std::string W(const char* utf8) { return platform::Cp1251FromUtf8(utf8); }
  std::vector<std::string> Received(const Query& query) {
    std::vector<ReceivedRow> rows;
    EXPECT_TRUE(archive.ListReceived(query, rows).ok());
    std::vector<std::string> texts;
    for (const auto& row : rows) texts.push_back(row.text);
    return texts;
  }

  TempDir dir;
  Archive archive{dir / "archive.sqlite"};
  std::chrono::system_clock::time_point now;
};

TEST_F(ArchiveQuery, UntilNumberAndLimitNarrowTheListing) {
  struct Case {
    Query query;
    std::vector<std::string> texts;
  };
  const auto query = [](std::string until, std::string number, int limit = 0) {
    Query q;
    q.until = std::move(until);
    q.number = std::move(number);
    q.limit = limit;
    return q;
  };
  const Case cases[] = {
      {query("2026-12-07", ""), {"day 0"}},  // a date alone takes in its day
      {query("2026-12-08 00:00", ""), {"day 0"}},
      {query("2026-12-08 00:00:01", ""), {"day 1", "day 0"}},
      {query("", "79161000001"), {"day 2", "day 0"}},  // + ( ) - and blanks are not compared
      {query("", "+7 916 100-00-02"), {"day 1"}},
      {query("", "7916100000"), {}},  // exact, not a part
      {query("2026-12-08", "79161000001"), {"day 0"}},
      {query("", "", 2), {"day 2", "day 1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query.until + " / " + c.query.number);
    EXPECT_EQ(Received(c.query), c.texts);
  }
  std::vector<ReceivedRow> rows;
  EXPECT_NE(archive.ListReceived(query("8 декабря", ""), rows).reason.find("8 декабря"),
            std::string::npos);
}

TEST_F(ArchiveQuery, RawBytesMatchAsWindows1251TextAndListingsStopWhenAsked) {
  std::vector<RawRow> raw;
  Query match;
  match.match = "привет";
  ASSERT_TRUE(archive.ListRawBytes(match, raw).ok());
  ASSERT_EQ(raw.size(), 1u);
  EXPECT_EQ(raw[0].bytes, W("\r\nПРИВЕТ\r\n"));

  int seen = 0;
  EXPECT_TRUE(
      archive.ListReceived({}, Archive::Each<ReceivedRow>([&](ReceivedRow&) { return ++seen < 2; }))
          .ok());
  EXPECT_EQ(seen, 2);
}

// One pass over sends, parts and answers gives what asking per send gives.
TEST_F(ArchiveQuery, SendsWithDetailsEqualTheirPartsAndAnswersAskedOneByOne) {
  Query two;
  two.limit = 2;
  std::vector<std::int64_t> ids;
  ASSERT_TRUE(archive
                  .ListSentWithDetails(
                      two,
                      [&](Archive::SentDetail& sent) -> bool {
                        std::vector<PartRow> parts;
                        std::vector<AnswerRow> answers;
                        EXPECT_TRUE(archive.ListParts(sent.send.id, parts).ok());
                        EXPECT_TRUE(archive.ListAnswers(sent.send.id, answers).ok());
                        EXPECT_EQ(sent.parts.size(), 2u);
                        for (std::size_t i = 0; i < parts.size() && i < sent.parts.size(); ++i)
                          EXPECT_EQ(sent.parts[i].pdu, parts[i].pdu);
                        EXPECT_EQ(sent.answers.size(), 1u);
                        if (!sent.answers.empty()) {
                          EXPECT_EQ(sent.answers[0].line, answers.at(0).line);
                        }
                        ids.push_back(sent.send.id);
                        return true;
                      })
                  .ok());
  EXPECT_EQ(ids, (std::vector<std::int64_t>{3, 2}));
}

TEST_F(ArchiveQuery, PurgeSaysWhatWouldGoThenRemovesOnlyThat) {
  PurgeCounts counts;
  ASSERT_TRUE(archive.Purge("2026-12-08", false, counts).ok());
  EXPECT_EQ(counts.received + counts.sends + counts.raw, 3);
  EXPECT_EQ(Received({}).size(), 3u);
  ASSERT_TRUE(archive.Purge("2026-12-09", true, counts).ok());
  EXPECT_EQ(counts.received, 2);
  EXPECT_EQ(counts.sends, 2);
  EXPECT_EQ(counts.raw, 2);
  EXPECT_EQ(Received({}), std::vector<std::string>{"day 2"});
  Query day;  // found through the text index, which let the removed rows go
  day.match = "DAY";
  EXPECT_EQ(Received(day), std::vector<std::string>{"day 2"});
  std::vector<SentRow> sent;
  ASSERT_TRUE(archive.ListSent({}, sent).ok());
  ASSERT_EQ(sent.size(), 1u);
  std::vector<PartRow> parts;
  ASSERT_TRUE(archive.ListParts(1, parts).ok());
  EXPECT_TRUE(parts.empty());  // the removed send's parts went with it
  EXPECT_FALSE(archive.Purge("вчера", true, counts).ok());
}

}  // namespace
}  // namespace vestrel::archive
