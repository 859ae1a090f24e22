// The answers of a send: the line parser, how chunks settle the parts, and
// the send itself in the window's way and in a script's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messaging/at_answers.h"
#include "messaging/send_results.h"
#include "messaging/sms_submission.h"
#include "platform/messages.h"
#include "tests/messaging/sms/messaging_test_util.h"

namespace vestrel {
namespace {

using test::FakeField;
using test::FakePort;
using test::W;

TEST(AtAnswers, LinesAndMeanings) {
  struct Case {
    const char* line;
    AnswerKind kind;
    std::optional<int> value;
  };
  const Case cases[] = {
      {"OK", AnswerKind::kOk, {}},
      {" ERROR\r", AnswerKind::kError, {}},
      {"+CMS ERROR: 500", AnswerKind::kCmsError, 500},
      {"+CMS ERROR: unknown error", AnswerKind::kCmsError, {}},
      {"+CME ERROR: 10", AnswerKind::kCmeError, 10},
      {"+CMGS: 17", AnswerKind::kCmgs, 17},
      {"+CMGS: 0,\"26/12/08,10:15:00+12\"", AnswerKind::kCmgs, 0},
      {"+CMGS:", AnswerKind::kOther, {}},
      {"+CMGS: 1x", AnswerKind::kOther, {}},
      {"> ", AnswerKind::kPrompt, {}},
      {"OKAY", AnswerKind::kOther, {}},
      {"AT+CMGS=18", AnswerKind::kOther, {}},
      {"+CMTI: \"ME\",5", AnswerKind::kOther, {}},
  };
  for (const Case& c : cases) {
    const AtAnswer answer = ParseAnswerLine(c.line);
    EXPECT_EQ(answer.kind, c.kind) << c.line;
    EXPECT_EQ(answer.value, c.value) << c.line;
  }
  EXPECT_EQ(CmsErrorMeaning(500), W("неизвестная ошибка"));
  EXPECT_EQ(CmsErrorMeaning(330), W("неизвестен адрес центра СМС"));
  for (int code : {21, 38, 42, 304}) EXPECT_FALSE(CmsErrorMeaning(code).empty()) << code;
  EXPECT_EQ(CmsErrorMeaning(499), "");
}

// Steps: "#k" part k begins, "!" the wait is over, anything else a chunk.
struct Script {
  const char* name;
  std::vector<std::string> steps;
  std::vector<PartStatus> statuses;
  std::vector<std::optional<int>> values;  // reference or error code
};

TEST(SendResults, AnswersSettleTheirParts) {
  using enum PartStatus;
  const Script scripts[] = {
      {"accepted, echoed, cut inside the answer",
       {"#1", "AT+CMGF=0\r\r\nOK\r\nAT+CMGS=18\r\r\n> 00110\x1A\r\n+CM", "GS: 17\r\n\r\nOK\r\n"},
       {kAccepted},
       {17}},
      {"refused by the message service",
       {"#1", "\r\nOK\r\n\r\n+CMS ERROR: 500\r\n"},
       {kRefused},
       {500}},
      {"PDU mode refused, the part taken all the same",
       {"#1", "\r\nERROR\r\n\r\n> ", "\r\n+CMGS: 3\r\n\r\nOK\r\n"},
       {kAccepted},
       {3}},
      {"ERROR to AT+CMGS", {"#1", "\r\nOK\r\n\r\nERROR\r\n"}, {kRefused}, {std::nullopt}},
      {"ERROR after the prompt", {"#1", "\r\n> ", "\r\nERROR\r\n"}, {kRefused}, {std::nullopt}},
      {"the first part's OK late, the second's mode refused",
       {"#1", "\r\nOK\r\n\r\n> \r\n+CMGS: 1\r\n", "#2", "\r\nOK\r\n",
        "\r\nERROR\r\n\r\n> \r\n+CMGS: 2\r\n\r\nOK\r\n"},
       {kAccepted, kAccepted},
       {1, 2}},
      {"silent", {"#1", "\r\nOK\r\n", "!"}, {kUnknown}, {std::nullopt}},
      {"a part begun closes the one before",
       {"#1", "#2", "\r\nOK\r\n\r\n+CMGS: 9\r\n"},
       {kUnknown, kAccepted},
       {std::nullopt, 9}},
      {"nothing counts before the first part",
       {"\r\n+CMS ERROR: 500\r\n", "#1", "\r\n+CMGS: 4\r\n"},
       {kAccepted},
       {4}},
  };
  for (const Script& s : scripts) {
    SCOPED_TRACE(s.name);
    SendResults results;
    std::vector<std::size_t> told;
    results.OnSettled([&](std::size_t part, const PartResult&) { told.push_back(part); });
    results.Start(std::vector<std::string>(s.statuses.size(), "x"));
    for (const std::string& step : s.steps) {
      if (step.size() == 2 && step[0] == '#')
        results.PartBegins(static_cast<std::size_t>(step[1] - '0'));
      else if (step == "!")
        results.ExpireOpen();
      else
        results.Feed(step);
    }
    std::size_t first_failure = 0;
    ASSERT_EQ(results.Count(), s.statuses.size());
    for (std::size_t part = 1; part <= results.Count(); ++part) {
      const PartResult& r = results.Part(part);
      EXPECT_EQ(r.status, s.statuses[part - 1]) << part;
      EXPECT_EQ(r.status == kAccepted ? r.reference : r.error_code, s.values[part - 1]) << part;
      if (r.status != kAccepted && first_failure == 0) first_failure = part;
      EXPECT_EQ(told.size() >= part ? told[part - 1] : 0, part);
    }
    EXPECT_EQ(results.FirstFailure(), first_failure);
  }
}

TEST(SendResults, FailuresAsTheOperatorReadsThem) {
  const auto result = [](PartStatus status, const char* answer, std::optional<int> code) {
    PartResult r;
    r.status = status;
    r.answer = answer;
    r.error_code = code;
    return r;
  };
  EXPECT_EQ(DescribeFailure(result(PartStatus::kRefused, "+CMS ERROR: 500", 500)),
            W("модем ответил +CMS ERROR: 500 (неизвестная ошибка)"));
  // +CME codes are another table: the code alone.
  EXPECT_EQ(DescribeFailure(result(PartStatus::kRefused, "+CME ERROR: 500", 500)),
            W("модем ответил +CME ERROR: 500"));
  EXPECT_EQ(DescribeFailure(result(PartStatus::kRefused, "ERROR", {})), W("модем ответил ERROR"));
  EXPECT_EQ(DescribeFailure(result(PartStatus::kUnknown, "", {})), W("модем не ответил"));
  EXPECT_EQ(DescribeFailure(result(PartStatus::kAccepted, "+CMGS: 1", {})), "");
}

// A modem that answers each PDU with the next of its answers ("" for none);
// the answers reach the send as the dispatcher hands chunks on, in the pause.
struct Modem {
  FakePort port;
  std::vector<std::string> answers;
  std::string due;
  int handled = 0;
  std::size_t pdus = 0;

  void Attach(SmsSubmission& sms) {
    port.on_write = [this](const std::string& bytes) {
      if (bytes.back() != '\x1A') return;
      if (pdus < answers.size() && !answers[pdus].empty())
        due += "\r\n" + answers[pdus] + "\r\n\r\nOK\r\n";
      ++pdus;
    };
    platform::SetProcessMessagesHook([this, &sms] {
      ++handled;
      if (due.empty()) return;
      sms.AnswerTap().ChunkReceived(due, false);
      due.clear();
    });
  }
  ~Modem() { platform::SetProcessMessagesHook({}); }
};

TEST(SmsSubmission, ReadsEachPartsAnswer) {
  struct Case {
    const char* name;
    bool script;
    std::vector<std::string> answers;
    std::size_t pdus_written;
    const char* failure;  // UTF-8; "" for none
  };
  const Case cases[] = {
      {"all taken", true, {"+CMGS: 1", "+CMGS: 2", "+CMGS: 3"}, 3, ""},
      {"window: every part written",
       false,
       {"+CMGS: 1", "+CMS ERROR: 500", "+CMGS: 3"},
       3,
       "СМС не отправлено: часть 2 из 3 — модем ответил +CMS ERROR: 500 (неизвестная ошибка)"},
      {"script: stops at the refused part",
       true,
       {"+CMGS: 1", "+CMS ERROR: 500", "+CMGS: 3"},
       2,
       "СМС не отправлено: часть 2 из 3 — модем ответил +CMS ERROR: 500 (неизвестная ошибка)"},
      {"script: stops at a silent part",
       true,
       {"", "+CMGS: 2", "+CMGS: 3"},
       1,
       "СМС не отправлено: часть 1 из 3 — модем не ответил"},
      {"window: the last part silent",
       false,
       {"+CMGS: 1", "+CMGS: 2", ""},
       3,
       "СМС не отправлено: часть 3 из 3 — модем не ответил"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Modem modem;
    modem.answers = c.answers;
    ShadowPane command_log;
    FakeField number("79161234567");
    FakeField text(std::string(150, 'a'));
    SmsSubmission sms(modem.port, command_log, number, text, MessagingDurations{0, 0});
    sms.StopAtFirstFailure(c.script);
    modem.Attach(sms);
    sms.Button1Click();
    EXPECT_TRUE(sms.Finished());
    EXPECT_EQ(modem.pdus, c.pdus_written);
    EXPECT_EQ(modem.port.writes.size(), 3 * c.pdus_written);
    EXPECT_EQ(sms.FailureText().value_or(""), W(c.failure));
  }
}

// A script's send ends with the last part's answer; the window's waits its pause out.
TEST(SmsSubmission, OnlyAScriptDropsThePauseAfterTheLastAnswer) {
  for (const bool script : {false, true}) {
    Modem modem;
    modem.answers = {"+CMGS: 5"};
    ShadowPane command_log;
    FakeField number("79161234567");
    FakeField text("Hi");
    SmsSubmission sms(modem.port, command_log, number, text, MessagingDurations{0, 300});
    sms.StopAtFirstFailure(script);
    modem.Attach(sms);
    sms.Button1Click();
    ASSERT_EQ(sms.Results().Part(1).reference, 5);
    // The pause handles messages after each of its 31 steps.
    if (script)
      EXPECT_LE(modem.handled, 2);
    else
      EXPECT_GE(modem.handled, 31);
  }
}

}  // namespace
}  // namespace vestrel
