// SendSMS and ReadSMS through the real main window, its port on a pty and the
// modem simulator at the other end.
#include "tests/e2e/e2e_fixture.h"
#include "tests/support/gammu.h"

namespace vestrel {
namespace {

using namespace e2e;
using test::W;
using namespace std::chrono_literals;

TEST_F(MessagingE2e, ReadsTheDemoInbox) {
  ExpectReading("demo", 3,
                {Message("+79161234567", "26/12/08,10:15:00", "Привет! Встреча завтра в 10:00."),
                 Message("+79031112233", "26/12/08,11:20:30", "Hello from the office"),
                 Message("+447700900123", "26/12/07,18:05:12", "Call me back please")},
                3);
}

TEST_F(MessagingE2e, ReadsAnInboxNumberedFromZero) {
  ExpectReading("base0", 3,
                {Message("+79161234567", "26/12/08,10:15:00", "Первое сообщение"),
                 Message("+79031112233", "26/12/08,11:20:30", "Second message"),
                 Message("+79265554433", "26/12/08,12:00:59", "Third one in 7-bit")},
                3);
}

TEST_F(MessagingE2e, ReadsOnPastEmptyPlaces) {
  ExpectReading("gaps", 2,
                {Message("+79161234567", "26/12/08,09:00:00", "Сообщение номер четыре"),
                 Message("+79031112233", "26/12/08,09:30:00", "Message at seven")},
                7);
}

TEST_F(MessagingE2e, EmptyInboxReadsNothing) {
  StartSim("empty");
  TForm1& form = StartForm({100, 300});
  form.Button4Click(nullptr);
  Settle();
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(sim().Commands(), (std::vector<std::string>{"at+cmgf=1", "AT+CPMS=\"ME\""}));
  EXPECT_EQ(LinesPart(), "");
  EXPECT_NE(Messaging().modem_log.Text().find("+CPMS: 0,50,0,50,0,50"), std::string::npos);
  EXPECT_EQ(Messaging().command_log.Text(), "AT+CPMS=\"ME\"");
}

TEST_F(MessagingE2e, ReadsThroughASlowChattyLine) {
  StartSim("faults");
  TForm1& form = StartForm({150, 300});
  form.Button4Click(nullptr);
  ASSERT_TRUE(ServeUntil([&] { return Inbox().SmsShown >= 3; }));
  Settle();
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_TRUE(sim().StoredMessages("ME").empty());
  const auto commands = sim().Commands();
  test::ExpectReadingCommands(commands, 3);
  EXPECT_EQ(Messaging().command_log.Text(), Joined(commands, 1));
  const std::string lines = LinesPart();
  EXPECT_EQ(WithoutReadingLines(lines),
            W("\r\nУ Вас 3 СМС\r\n") +
                Message("+79161234567", "26/12/08,10:15:00", "Привет! Встреча завтра в 10:00.") +
                "\r\n" + Message("+79031112233", "26/12/08,11:20:30", "Hello from the office") +
                "\r\n" + Message("+447700900123", "26/12/07,18:05:12", "Call me back please"));
  const std::string log = Messaging().modem_log.Text();
  EXPECT_NE(log.find("+CMTI: \"ME\",5"), std::string::npos);
  EXPECT_NE(log.find("+CMS ERROR: 500"), std::string::npos);
}

// A storage answer without its comma: the error reaches the operator and the
// port goes on receiving, so the next ReadSMS reads everything.
TEST_F(MessagingE2e, CountThatDoesNotReadIsReportedAndReceptionGoesOn) {
  nlohmann::json scenario = test::ScenarioJson("demo");
  scenario["faults"]["errors"] = {
      {{"command", "AT+CPMS=\"ME\""}, {"answer", "+CPMS: 3"}, {"times", 1}}};
  StartSimJson(scenario);
  TForm1& form = StartForm({100, 300});
  form.Button4Click(nullptr);
  ASSERT_TRUE(ServeUntil([&] { return !errors_.empty(); }));
  EXPECT_EQ(errors_[0], W("Модем сообщил число СМС в непонятном виде: \"\""));
  EXPECT_EQ(Inbox().SmsTotal, 0);
  Settle();
  EXPECT_EQ(sim().Commands(), (std::vector<std::string>{"at+cmgf=1", "AT+CPMS=\"ME\""}));

  first_chunk_ = counts_.size();
  form.Button4Click(nullptr);
  ASSERT_TRUE(ServeUntil([&] { return Inbox().SmsShown >= 3; }));
  Settle();
  EXPECT_EQ(errors_.size(), 1u);
  EXPECT_TRUE(sim().StoredMessages("ME").empty());
  EXPECT_NE(LinesPart().find(Message("+447700900123", "26/12/07,18:05:12", "Call me back please")),
            std::string::npos);
}

// A 150-letter Russian text: three SMS of 70, 70 and 10 letters.
TEST_F(MessagingE2e, SendsALongRussianText) {
  StartSim("empty");
  TForm1& form = StartForm({100, 200});
  std::string text;
  for (int i = 0; i < 150; ++i) text += static_cast<char>(0xC0 + (i * 7) % 64);
  form.Edit1->setText(QStringLiteral("79161234567"));
  form.Memo3->setPlainText(platform::ToQString(text));
  form.Button1Click(nullptr);
  ASSERT_TRUE(sim().WaitForCount("sms", 3));
  Settle();
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  const auto sms = sim().Sms();
  ASSERT_EQ(sms.size(), 3u);
  std::vector<std::string> expected_log;
  for (int i = 0; i < 3; ++i) {
    const std::string part = text.substr(70 * i, 70);
    const std::string pdu = BuildSubmitPdu("79161234567", part);
    EXPECT_EQ(sms[i]["text"].get<std::string>(), platform::Cp1251ToUtf8(part));
    EXPECT_EQ(sms[i]["number"].get<std::string>(), "79161234567");
    EXPECT_EQ(sms[i]["toa"].get<int>(), 0x91);
    EXPECT_EQ(sms[i]["coding"].get<std::string>(), "ucs2");
    EXPECT_EQ(sms[i]["pdu"].get<std::string>(), pdu);
    expected_log.push_back("AT+CMGF=0");
    expected_log.push_back("AT+CMGS=" + std::to_string(TpduLength(pdu)));
    expected_log.push_back(pdu);
  }
  EXPECT_EQ(Messaging().command_log.Text(), Joined(expected_log));
  const auto commands = sim().Commands();
  EXPECT_EQ(commands.size(), 6u);  // the PDUs are input to AT+CMGS, not commands
  EXPECT_NE(Messaging().modem_log.Text().find("+CMGS: 3"), std::string::npos);
}

// The modem refuses the first of two parts: both are written, with their
// pauses, as always, and one box tells the operator which part was not taken.
TEST_F(MessagingE2e, RefusedPartIsToldInOneBox) {
  StartSimJson(
      {{"faults",
        {{"errors", {{{"command", "AT+CMGS=*"}, {"answer", "+CMS ERROR: 500"}, {"times", 1}}}}}}});
  TForm1& form = StartForm({100, 200});
  form.Edit1->setText(QStringLiteral("79161234567"));
  form.Memo3->setPlainText(QString(100, QLatin1Char('r')));
  form.Button1Click(nullptr);
  Settle();
  EXPECT_EQ(sim().Sms().size(), 1u);
  EXPECT_NE(Messaging().command_log.Text().find("AT+CMGS=154"), std::string::npos);
  EXPECT_NE(Messaging().command_log.Text().find("AT+CMGS=74"), std::string::npos);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], W("СМС не отправлено: часть 1 из 2 — модем ответил +CMS ERROR: 500 "
                          "(неизвестная ошибка)"));
}

// With "Склейка=1" the same text goes out as one message of three linked UCS-2
// parts (67, 67, 16 letters) whose reference is the archive's next send.
TEST_F(MessagingE2e, ConcatenatesWhenTheIniSaysSo) {
  StartSim("empty");
  TForm1& form = StartForm({100, 200}, station::KeyName(station::IniKey::kConcatenate) + "=1\r\n");
  std::string text;
  for (int i = 0; i < 150; ++i) text += static_cast<char>(0xC0 + (i * 7) % 64);
  form.Edit1->setText(QStringLiteral("79161234567"));
  form.Memo3->setPlainText(platform::ToQString(text));
  form.Button1Click(nullptr);
  ASSERT_TRUE(sim().WaitForCount("sms", 3));
  Settle();
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  std::vector<std::string> pdus;
  for (const auto& sms : sim().Sms()) {
    pdus.push_back(sms["pdu"].get<std::string>());
    EXPECT_EQ(sms["coding"], "ucs2");
    EXPECT_EQ(sms["concat"]["reference"], 1);
  }
  const auto linked = test::GammuLink(pdus);
  ASSERT_EQ(linked.size(), 1u);
  EXPECT_EQ(linked[0]["parts"], 3);
  EXPECT_EQ(linked[0]["text"], platform::Cp1251ToUtf8(text));
  ASSERT_EQ(sim().OfType("sms_joined").size(), 1u);
  EXPECT_EQ(sim().OfType("sms_joined")[0]["text"], platform::Cp1251ToUtf8(text));
  EXPECT_EQ(sim().Commands(), (std::vector<std::string>{"AT+CMGF=0", "AT+CMGS=154", "AT+CMGF=0",
                                                        "AT+CMGS=154", "AT+CMGF=0", "AT+CMGS=52"}));
}

TEST_F(MessagingE2e, ReadSmsDuringTheSendersPause) {
  StartSim("demo");
  TForm1& form = StartForm({100, 3000});
  form.Edit1->setText(QStringLiteral(" 79161234567 "));
  form.Memo3->setPlainText(QStringLiteral("Hi"));
  bool pressed_inside = false;
  bool sending = true;
  QTimer::singleShot(600, &form, [&] {
    pressed_inside = sending;
    first_chunk_ = counts_.size();
    form.Button4->click();
  });
  form.Button1Click(nullptr);
  sending = false;
  EXPECT_TRUE(pressed_inside);
  ASSERT_TRUE(ServeUntil([&] { return Inbox().SmsShown >= 3; }));
  Settle();
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_EQ(sim().Sms().size(), 1u);
  EXPECT_TRUE(sim().StoredMessages("ME").empty());
  const auto commands = sim().Commands();
  ASSERT_GE(commands.size(), 12u);
  EXPECT_EQ(commands[0], "AT+CMGF=0");
  EXPECT_EQ(commands[1], "AT+CMGS=18");
  EXPECT_EQ(std::vector<std::string>(commands.begin() + 2, commands.begin() + 12), ReadCommands(3));
  EXPECT_EQ(WithoutReadingLines(LinesPart()),
            W("\r\nУ Вас 3 СМС\r\n") +
                Message("+79161234567", "26/12/08,10:15:00", "Привет! Встреча завтра в 10:00.") +
                "\r\n" + Message("+79031112233", "26/12/08,11:20:30", "Hello from the office") +
                "\r\n" + Message("+447700900123", "26/12/07,18:05:12", "Call me back please"));
}

TEST_F(MessagingE2e, RefusedNumberSendsNothing) {
  StartSim("empty");
  TForm1& form = StartForm({100, 200});
  form.Edit1->setText(QStringLiteral("+79161234567"));
  form.Memo3->setPlainText(QStringLiteral("Hi"));
  form.Button1->click();  // as the operator does: the error goes to the handler
  Settle();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0], W("Номер получателя должен состоять только из цифр (без \"+\")"));
  EXPECT_TRUE(sim().Commands().empty());
  EXPECT_EQ(Messaging().command_log.Text(), "");
}

// The production durations: 1000 ms after every command, 20 s after a part.
TEST_F(MessagingE2e, RealDurations) {
  StartSimJson({{"index_base", 1},
                {"storages",
                 {{{"name", "ME"},
                   {"capacity", 50},
                   {"messages",
                    {{{"index", 1},
                      {"number", "+79161234567"},
                      {"time", "26/12/08,10:15:00+12"},
                      {"text", "Ёлка"},
                      {"coding", "ucs2"}}}}}}}});
  TForm1& form = StartForm(MessagingDurations{});
  form.Edit1->setText(QStringLiteral("79161234567"));
  form.Memo3->setPlainText(QString::fromUtf8("Привет"));
  const auto start = std::chrono::steady_clock::now();
  form.Button1Click(nullptr);
  const auto took = std::chrono::steady_clock::now() - start;
  // Three waits of 1000 ms, then the pause's 2001 sleeps of at least 1 ms.
  EXPECT_GE(took, 5001ms);
  ASSERT_TRUE(sim().WaitForCount("sms", 1));
  EXPECT_EQ(sim().Sms()[0]["text"].get<std::string>(), "Привет");

  form.Button4Click(nullptr);
  ASSERT_TRUE(ServeUntil([&] { return Inbox().SmsShown >= 1; }, 30s));
  Settle();
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_TRUE(sim().StoredMessages("ME").empty());
  const auto commands = sim().Commands();
  EXPECT_EQ(std::vector<std::string>(commands.begin() + 2, commands.end()), ReadCommands(1));
  const std::string log = Messaging().modem_log.Text();
  EXPECT_EQ(log.substr(log.rfind("\r\n") + 2),
            Message("+79161234567", "26/12/08,10:15:00", "Ёлка"));
}

}  // namespace
}  // namespace vestrel
