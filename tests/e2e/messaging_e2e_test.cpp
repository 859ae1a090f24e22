// SendSMS and ReadSMS through the real main window, its port on a pty and the
// modem simulator at the other end.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "main_window/form_messaging.h"
#include "main_window/main_form.h"
#include "messaging/sms_submission.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/qt_glue.h"
#include "tests/sms/messaging_test_util.h"
#include "tests/support/modem_sim.h"
#include "tests/support/qt_environment.h"

namespace vestrel {
namespace {

using test::W;
using namespace std::chrono_literals;

// Handles events until pred holds or the time is up.
bool ServeUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}
void Serve(std::chrono::milliseconds time) {
  ServeUntil([] { return false; }, time);
}

std::string Message(const std::string& number, const std::string& time, const char* text_utf8) {
  return W("№ тел: ") + number + W(" Дата и время отправки: ") + time + W(" Текст: ") +
         W(text_utf8);
}

std::vector<std::string> ReadCommands(int last_index) {
  std::vector<std::string> c = {"at+cmgf=1", "AT+CPMS=\"ME\""};
  for (int i = 0; i <= last_index; ++i) {
    c.push_back("AT+CMGR=" + std::to_string(i));
    c.push_back("AT+CMGD=" + std::to_string(i));
  }
  return c;
}

std::string Joined(const std::vector<std::string>& lines, std::size_t from = 0,
                   const std::string& separator = "\r\n") {
  std::string out;
  for (std::size_t i = from; i < lines.size(); ++i) out += (i > from ? separator : "") + lines[i];
  return out;
}

class MessagingE2e : public test::ModemSimTest {
 protected:
  void SetUp() override {
    // The window stages received chunks in "tmp.sms" of the current directory;
    // tests run side by side, so each works in a folder of its own.
    previous_directory_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
    previous_handler_ = platform::SetExceptionHandler(
        [this](std::exception_ptr e) { errors_.push_back(platform::ExceptionMessage(e)); });
  }
  void TearDown() override {
    form_.reset();
    platform::SetExceptionHandler(previous_handler_);
    std::filesystem::current_path(previous_directory_);
    test::ModemSimTest::TearDown();
  }

  // The window with its port on the simulator's line; every chunk's size is
  // recorded on its way to the window's handler.
  TForm1& StartForm(MessagingDurations durations) {
    {
      std::ofstream ini(folder_.path() / TForm1::kIniFileName, std::ios::binary);
      ini << "[MODEM]\r\n" << TForm1::IniPortKey() << "=" << sim().link() << "\r\n";
    }
    TForm1::Options options;
    options.folder = folder_.path();
    options.durations = durations;
    form_ = std::make_unique<TForm1>(options);
    EXPECT_TRUE(form_->BComPort1->Connected());
    form_->BComPort1->OnRxChar = [this](TBComPort* sender, int count) {
      counts_.push_back(count);
      form_->BComPort1RxChar(sender, count);
    };
    return *form_;
  }

  FormMessaging& Messaging() { return *form_->Messaging; }
  InboxReader& Inbox() { return form_->Messaging->inbox; }

  // Waits until everything the simulator sent has been handled.
  bool AllHandled() {
    std::size_t handled = 0;
    for (int c : counts_) handled += static_cast<std::size_t>(c);
    return handled == sim().Sent().size();
  }
  void Settle() {
    Serve(300ms);
    ASSERT_TRUE(ServeUntil([this] { return AllHandled(); }));
  }

  // The modem log is the chunks, newest first, and then the readable lines.
  // Checks the chunk part against what the simulator sent and returns the rest.
  std::string LinesPart() {
    const std::string sent = sim().Sent();
    std::vector<std::string> chunks;
    std::size_t at = 0;
    for (std::size_t i = 0; i < counts_.size(); ++i) {
      const int c = counts_[i];
      if (i < first_chunk_) {  // before the pane was emptied
        at += static_cast<std::size_t>(c);
        continue;
      }
      std::string chunk = sent.substr(at, static_cast<std::size_t>(c));
      at += static_cast<std::size_t>(c);
      if (!chunk.empty() && chunk.back() == '\r') chunk += '\n';
      chunks.push_back(chunk);
    }
    std::string top;
    for (auto it = chunks.rbegin(); it != chunks.rend(); ++it) top += *it;
    const std::string log = Messaging().modem_log.Text();
    EXPECT_EQ(log.substr(0, top.size()), top);
    // The pane shows the same text.
    EXPECT_EQ(platform::FromQString(form_->Memo2->toPlainText()).size() <= log.size(), true);
    return log.size() >= top.size() ? log.substr(top.size()) : std::string();
  }

  // The lines part without its "Читаем СМС" lines, which come once per
  // staged chunk.
  static std::string WithoutReadingLines(std::string lines) {
    const std::string reading = W("\r\nЧитаем СМС");
    for (std::size_t p; (p = lines.find(reading)) != std::string::npos;)
      lines.erase(p, reading.size());
    return lines;
  }

  void ExpectReading(const std::string& scenario, int total,
                     const std::vector<std::string>& messages, int last_index) {
    StartSim(scenario);
    TForm1& form = StartForm({100, 300});
    form.Button4Click(nullptr);
    ASSERT_TRUE(ServeUntil([&] { return Inbox().SmsShown >= total; }));
    Settle();
    EXPECT_TRUE(errors_.empty()) << errors_.front();
    EXPECT_TRUE(sim().StoredMessages("ME").empty());
    EXPECT_EQ(sim().Commands(), ReadCommands(last_index));
    // The widget shows the command log's lines.
    EXPECT_EQ(platform::FromQString(form.Memo1->toPlainText()),
              Joined(ReadCommands(last_index), 1, "\n"));
    EXPECT_EQ(Messaging().command_log.Text(), Joined(ReadCommands(last_index), 1));
    const std::string lines = LinesPart();
    EXPECT_EQ(lines.rfind(W("\r\nУ Вас ") + std::to_string(total) + W(" СМС\r\nЧитаем СМС"), 0), 0u)
        << platform::Cp1251ToUtf8(lines);
    std::string expected = W("\r\nУ Вас ") + std::to_string(total) + W(" СМС");
    for (const auto& m : messages) expected += "\r\n" + m;
    EXPECT_EQ(WithoutReadingLines(lines), expected) << platform::Cp1251ToUtf8(lines);
  }

  test::TempDir folder_;
  std::filesystem::path previous_directory_;
  std::unique_ptr<TForm1> form_;
  std::vector<int> counts_;
  std::size_t first_chunk_ = 0;  // the first chunk after ReadSMS emptied the pane
  std::vector<std::string> errors_;
  platform::ExceptionHandler previous_handler_;
};

TEST_F(MessagingE2e, ReadsTheDemoInbox) {
  ExpectReading("demo", 3,
                {Message("+79161234567", "26/12/08,10:15:00", "Привет! Встреча завтра в 10:00."),
                 Message("+79031112233", "26/12/08,11:20:30", "Hello from the office"),
                 Message("+44770090012", "26/12/07,18:05:12", "Call me back please")},
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
  // The first pass is fixed; each later chunk may have read one more index.
  const auto commands = sim().Commands();
  ASSERT_GE(commands.size(), ReadCommands(3).size());
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 10), ReadCommands(3));
  int last = 3;
  for (std::size_t i = 10; i + 1 < commands.size(); i += 2) {
    ++last;
    EXPECT_EQ(commands[i], "AT+CMGR=" + std::to_string(last));
    EXPECT_EQ(commands[i + 1], "AT+CMGD=" + std::to_string(last));
  }
  EXPECT_EQ(commands.size() % 2, 0u);
  EXPECT_EQ(Messaging().command_log.Text(), Joined(commands, 1));
  const std::string lines = LinesPart();
  EXPECT_EQ(WithoutReadingLines(lines),
            W("\r\nУ Вас 3 СМС\r\n") +
                Message("+79161234567", "26/12/08,10:15:00", "Привет! Встреча завтра в 10:00.") +
                "\r\n" + Message("+79031112233", "26/12/08,11:20:30", "Hello from the office") +
                "\r\n" + Message("+44770090012", "26/12/07,18:05:12", "Call me back please"));
  const std::string log = Messaging().modem_log.Text();
  EXPECT_NE(log.find("+CMTI: \"ME\",5"), std::string::npos);
  EXPECT_NE(log.find("+CMS ERROR: 500"), std::string::npos);
}

// A storage answer without its comma: the error reaches the operator and the
// port goes on receiving, so the next ReadSMS reads everything.
TEST_F(MessagingE2e, CountThatDoesNotReadIsReportedAndReceptionGoesOn) {
  std::ifstream demo(test::ScenarioPath("demo"));
  nlohmann::json scenario = nlohmann::json::parse(demo);
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
  EXPECT_NE(LinesPart().find(Message("+44770090012", "26/12/07,18:05:12", "Call me back please")),
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
                "\r\n" + Message("+44770090012", "26/12/07,18:05:12", "Call me back please"));
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
