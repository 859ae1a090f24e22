// Each answer's parser, {answer, expected} rows.

#include "messaging/at_answers.h"

#include <gtest/gtest.h>

namespace vestrel {
namespace {

TEST(AtAnswers, StorageAnswer) {
  const struct {
    std::string answer;
    std::optional<std::int32_t> count;
    std::int32_t capacity;
  } rows[] = {
      {"+CPMS: 3,50,3,50,3,50", 3, 50},
      {"\r\n+CPMS: 12,50,12,50\r\n\r\nOK\r\n", 12, 50},
      {"+CPMS:12,50", 2, 50},  // the byte after the colon is skipped unread
      {"+CPMS: 3", std::nullopt, kDefaultSmsCapacity},
      {"+CMTI: \"ME\",5\r\n+CPMS: 3,50", 3, 50},  // a comma before the mark is not its
      {"+CPMS: -1,50", -1, 50},
      {"+CPMS: 2,x", 2, kDefaultSmsCapacity},
      {"OK", std::nullopt, kDefaultSmsCapacity},
  };
  for (const auto& row : rows) {
    const StorageAnswer answer = ParseStorageAnswer(row.answer);
    EXPECT_EQ(answer.count, row.count) << row.answer;
    EXPECT_EQ(answer.capacity, row.capacity) << row.answer;
  }
}

TEST(AtAnswers, ReadHeaderInTextAndPduMode) {
  const std::pair<std::string, std::vector<std::string>> text_rows[] = {
      {"+CMGR: \"REC UNREAD\",\"+79161234567\",,\"26/12/08,10:15:00+12\"",
       {"REC UNREAD", "+79161234567", "", "26/12/08,10:15:00+12"}},
      {"+CMGR: \"REC READ\",\"+7916\",\"Ivan, boss\",\"26/12/08,10:15:00+12\"",
       {"REC READ", "+7916", "Ivan, boss", "26/12/08,10:15:00+12"}},
      {"+CMGR: \"STO SENT\",\"+79161234567\",", {"STO SENT", "+79161234567", ""}},
  };
  for (const auto& [answer, fields] : text_rows) EXPECT_EQ(HeaderFields(answer), fields) << answer;

  const struct {
    std::string answer;
    std::optional<int> stat;
    std::string alpha;
    int length;
  } pdu_rows[] = {
      {"+CMGR: 1,,45", 1, "", 45},
      {"+CMGR: 0,\"Name\",23\r", 0, "Name", 23},
      {"+CMGR: 4,,23", std::nullopt, "", 0},
      {"+CMGR: 0,,0", std::nullopt, "", 0},
      {"+CMGR: 0,,177", std::nullopt, "", 0},
      {"+CMGR: \"REC READ\",\"+7916\",,\"26/12/08,10:15:00+12\"", std::nullopt, "", 0},
      {"+CMGL: 1,0,,23", std::nullopt, "", 0},
  };
  for (const auto& row : pdu_rows) {
    const auto header = ParseCmgrPduHeader(row.answer);
    ASSERT_EQ(header.has_value(), row.stat.has_value()) << row.answer;
    if (!header) continue;
    EXPECT_EQ(header->stat, *row.stat);
    EXPECT_EQ(header->alpha, row.alpha);
    EXPECT_EQ(header->length, row.length);
  }
}

TEST(AtAnswers, ResultCodesAndLinesSentUnasked) {
  const struct {
    std::string answer;
    AnswerKind kind;
    std::optional<int> value;
    bool final_result;
    bool unsolicited;
  } rows[] = {
      {"OK", AnswerKind::kOk, std::nullopt, true, false},
      {"ERROR", AnswerKind::kError, std::nullopt, true, false},
      {"+CMS ERROR: 500", AnswerKind::kCmsError, 500, true, false},
      {"+CME ERROR: 10", AnswerKind::kCmeError, 10, true, false},
      {"+CMS ERROR: unknown error", AnswerKind::kCmsError, std::nullopt, true, false},
      {"+CMGS: 17", AnswerKind::kCmgs, 17, false, false},
      {"+CMGS: 17,\"26/12/08\"", AnswerKind::kCmgs, 17, false, false},
      {"+CMGS:", AnswerKind::kOther, std::nullopt, false, false},
      {"> ", AnswerKind::kPrompt, std::nullopt, false, false},
      {"+CMTI: \"SM\",3", AnswerKind::kOther, std::nullopt, false, true},
      {"RING", AnswerKind::kOther, std::nullopt, false, true},
      {"^RSSI:17", AnswerKind::kOther, std::nullopt, false, true},
      {"OK then", AnswerKind::kOther, std::nullopt, false, false},
  };
  for (const auto& row : rows) {
    const AtAnswer answer = ParseAnswerLine(row.answer);
    EXPECT_EQ(answer.kind, row.kind) << row.answer;
    EXPECT_EQ(answer.value, row.value) << row.answer;
    EXPECT_EQ(IsFinalResult(row.answer), row.final_result) << row.answer;
    EXPECT_EQ(IsUnsolicitedResult(row.answer), row.unsolicited) << row.answer;
  }
}

}  // namespace
}  // namespace vestrel
