#include "messaging/inbox_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/sync.h"
#include "tests/sms/messaging_test_util.h"
#include "tests/support/temp_dir.h"

namespace vestrel {
namespace {

using test::FakePort;
using test::W;
namespace fs = std::filesystem;
using Writes = std::vector<std::string>;

std::string Header(const std::string& number, const std::string& status = "REC UNREAD") {
  return "+CMGR: \"" + status + "\",\"" + number + "\",,\"24/05/01,12:30:45+12\"\r\n";
}
// The modem's whole answer to a read of a stored message, echo included,
// and to the delete after it.
std::string ReadAnswer(int index, const std::string& number, const std::string& body) {
  return "AT+CMGR=" + std::to_string(index) + "\r\r\n" + Header(number) + body +
         "\r\n\r\nOK\r\nAT+CMGD=" + std::to_string(index) + "\r\r\nOK\r\n";
}
std::string EmptyAnswer(int index) {
  return "AT+CMGR=" + std::to_string(index) +
         "\r\r\n+CMS ERROR: 321\r\nAT+CMGD=" + std::to_string(index) + "\r\r\nOK\r\n";
}
std::string CountAnswer(int n, int capacity = 50) {
  const std::string c = std::to_string(n) + "," + std::to_string(capacity);
  return "at+cmgf=1\r\r\nOK\r\nAT+CPMS=\"ME\"\r\r\n+CPMS: " + c + "," + c + "," + c +
         "\r\n\r\nOK\r\n";
}
Writes Pair(int index) {
  return {"AT+CMGR=" + std::to_string(index) + "\r", "AT+CMGD=" + std::to_string(index) + "\r"};
}
Writes Reads(int from, int to) {
  Writes w;
  for (int i = from; i <= to; ++i)
    for (auto& s : Pair(i)) w.push_back(s);
  return w;
}
Writes operator+(Writes a, const Writes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const Writes kStart = {"at+cmgf=1\r", "AT+CPMS=\"ME\"\r"};

std::string ShownLine(const std::string& number, const std::string& text) {
  return W("\r\n№ тел: ") + number + W(" Дата и время отправки: 24/05/01,12:30:45 Текст: ") + text;
}

// Collects what the reader hands to the application's error handler.
class Reports {
 public:
  Reports() {
    previous_ = platform::SetExceptionHandler(
        [this](std::exception_ptr e) { messages_.push_back(platform::ExceptionMessage(e)); });
  }
  ~Reports() { platform::SetExceptionHandler(previous_); }
  std::vector<std::string> Take() {
    platform::CheckSynchronize();
    return messages_;
  }

 private:
  std::vector<std::string> messages_;
  platform::ExceptionHandler previous_;
};

class Inbox : public ::testing::Test {
 protected:
  void Receive(const std::string& chunk) {
    port_.pending += chunk;
    Deliver();
  }
  // What the event thread does once a handler returns: hands over what
  // arrived, the held bytes first.
  void Deliver() {
    while (!port_.pending.empty()) {
      reader_.BComPort1RxChar(static_cast<int>(port_.pending.size()));
      EXPECT_FALSE(fs::exists(fs::symlink_status(StagingPath())));
    }
  }
  // The modem answers each read as the bodies say (none: an empty place) and
  // each delete with OK, as soon as the command is written.
  void AnswerReads(std::map<int, std::pair<std::string, std::string>> messages) {
    port_.on_write = [this, messages](const std::string& bytes) {
      const std::string echo = bytes + "\r\n";
      if (bytes.rfind("AT+CMGR=", 0) == 0) {
        const int index = std::stoi(bytes.substr(8));
        const auto it = messages.find(index);
        port_.pending += it == messages.end() ? echo + "+CMS ERROR: 321\r\n"
                                              : echo + Header(it->second.first) +
                                                    it->second.second + "\r\n\r\nOK\r\n";
      } else if (bytes.rfind("AT+CMGD=", 0) == 0) {
        port_.pending += echo + "OK\r\n";
      }
    };
  }
  std::string StagingPath() const { return (dir_ / "tmp.sms").string(); }

  const test::TempDir temp_{"vestrel-inbox"};
  const fs::path dir_ = temp_.path();
  FakePort port_;
  ShadowPane command_log_;
  ShadowPane modem_log_;
  InboxReader reader_{port_, command_log_, modem_log_, MessagingDurations{0, 0}, StagingPath()};
};

TEST_F(Inbox, ThreeMessagesFromIndexZero) {
  modem_log_.SetText("old");
  reader_.Button4Click();
  EXPECT_EQ(port_.opens, 1);
  EXPECT_EQ(port_.writes, kStart);
  EXPECT_EQ(modem_log_.Text(), "");
  EXPECT_EQ(command_log_.Text(), "AT+CPMS=\"ME\"");

  const std::string count = CountAnswer(3);
  Receive(count);
  EXPECT_EQ(reader_.SmsTotal, 3);
  EXPECT_EQ(reader_.ReadMore, 1);
  EXPECT_EQ(reader_.NextIndex, 3);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));

  const std::string answers = ReadAnswer(0, "+79161234567", "041F04400438043204350442") +
                              ReadAnswer(1, "+79031112233", "It's") +
                              ReadAnswer(2, "+79031112244", "0410") + EmptyAnswer(3);
  Receive(answers);
  EXPECT_EQ(reader_.SmsShown, 3);
  EXPECT_EQ(reader_.ReadMore, 0);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));
  EXPECT_EQ(modem_log_.Text(), answers + count + W("\r\nУ Вас 3 СМС\r\nЧитаем СМС\r\nЧитаем СМС") +
                                   ShownLine("+79161234567", W("Привет")) +
                                   ShownLine("+79031112233", "It\xFCs") +
                                   ShownLine("+79031112244", W("А")));
  std::string commands = "AT+CPMS=\"ME\"";
  for (int i = 0; i <= 3; ++i)
    commands += "\r\nAT+CMGR=" + std::to_string(i) + "\r\nAT+CMGD=" + std::to_string(i);
  EXPECT_EQ(command_log_.Text(), commands);

  // Nothing more is read, whatever arrives; a header is still shown.
  Receive("\r\n+CMTI: \"ME\",0\r\n");
  Receive(Header("+79990000000") + "0042\r\n");
  EXPECT_EQ(reader_.SmsShown, 4);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));
}

TEST_F(Inbox, ThreeMessagesFromIndexOneSplitAcrossChunks) {
  reader_.Button4Click();
  Receive(CountAnswer(3));
  const std::string answers = EmptyAnswer(0) + ReadAnswer(1, "+79161234567", "0031") +
                              ReadAnswer(2, "+79161234567", "0032") +
                              ReadAnswer(3, "+79161234567", "0033");
  // The header of index 2 ends the second chunk: it waits for its body,
  // which comes with the next chunk.
  const std::size_t cut = answers.find("+CMGR:", answers.find("AT+CMGR=2"));
  const std::size_t body = answers.find("\r\n", cut) + 2;
  Receive(answers.substr(0, 40));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 4));  // a chunk without a header reads on
  Receive(answers.substr(40, body - 40));
  EXPECT_EQ(reader_.SmsShown, 1);
  Receive(answers.substr(body));
  EXPECT_EQ(reader_.SmsShown, 3);
  EXPECT_EQ(reader_.ReadMore, 0);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 5));
  const std::string log = modem_log_.Text();
  EXPECT_NE(log.find(ShownLine("+79161234567", "1") + W("\r\nЧитаем СМС") +
                     ShownLine("+79161234567", "2") + ShownLine("+79161234567", "3")),
            std::string::npos);
}

TEST_F(Inbox, TwoMessagesAtFourAndSeven) {
  reader_.Button4Click();
  Receive(CountAnswer(2));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 2));
  Receive(EmptyAnswer(0) + EmptyAnswer(1) + EmptyAnswer(2));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));
  Receive(EmptyAnswer(3));
  Receive(ReadAnswer(4, "+79161234567", "0034"));
  EXPECT_EQ(reader_.SmsShown, 1);
  Receive(EmptyAnswer(5));
  Receive(EmptyAnswer(6));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 7));
  Receive(ReadAnswer(7, "+79161234567", "0037"));
  EXPECT_EQ(reader_.SmsShown, 2);
  EXPECT_EQ(reader_.ReadMore, 0);
  Receive("OK\r\n");
  EXPECT_EQ(port_.writes, kStart + Reads(0, 7));
}

TEST_F(Inbox, CountOfZeroReadsNothing) {
  reader_.Button4Click();
  const std::string count = CountAnswer(0);
  Receive(count);
  EXPECT_EQ(port_.writes, kStart);
  EXPECT_EQ(modem_log_.Text(), count);
  Receive("OK\r");  // a lone CR at the end gets its LF
  EXPECT_EQ(modem_log_.Text(), "OK\r\n" + count);
  Receive("A\r\n");
  Receive("B\n");
  EXPECT_EQ(modem_log_.Text(), "B\nA\r\nOK\r\n" + count);
  EXPECT_EQ(port_.writes, kStart);
}

TEST_F(Inbox, CountVariants) {
  // An indication with a comma in front of the answer, in the same chunk.
  reader_.Button4Click();
  Receive("+CMTI: \"ME\",1\r\n" + CountAnswer(1));
  EXPECT_EQ(reader_.SmsTotal, 1);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 1));

  // Without the space the first digit is lost.
  port_.writes.clear();
  reader_.Button4Click();
  Receive("+CPMS:12,50,12,50,12,50\r\n");
  EXPECT_EQ(reader_.SmsTotal, 2);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 2));

  // A chunk with both answers: its headers are parsed after the first pass,
  // never dropped with the count.
  port_.writes.clear();
  reader_.Button4Click();
  Receive(CountAnswer(1) + ReadAnswer(0, "+79161234567", "0041"));
  EXPECT_EQ(reader_.SmsShown, 1);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 0));
}

TEST_F(Inbox, CountIsTakenOnlyWhileAwaitedAndOnlyFromItsOwnLine) {
  reader_.Button4Click();
  // A count line cut in two waits for its end: "+CPMS: 1,1" | "0,..." is a
  // capacity of 10, not 1.
  Receive("AT+CPMS=\"ME\"\r\r\n+CPMS: 1,1");
  EXPECT_EQ(reader_.SmsTotal, 0);
  EXPECT_EQ(port_.writes, kStart);
  Receive("0,1,10,1,10\r\n\r\nOK\r\n");
  EXPECT_EQ(reader_.SmsTotal, 1);
  EXPECT_EQ(reader_.SmsCapacity, 10);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 1));

  // "+CPMS:" inside a message, once the count is taken, is message text.
  Receive(ReadAnswer(0, "+79161234567", "Hello +CPMS: 30,30 bye") + EmptyAnswer(1));
  EXPECT_EQ(reader_.SmsTotal, 1);
  EXPECT_EQ(reader_.SmsShown, 1);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 1));
  EXPECT_NE(modem_log_.Text().find(ShownLine("+79161234567", "Hello +CPMS: 30,30 bye")),
            std::string::npos);
  // ... and so is one that does not begin a line while a count is awaited.
  port_.writes.clear();
  reader_.Button4Click();
  Receive("\r\nsay +CPMS: 7,50\r\n");
  EXPECT_EQ(reader_.SmsTotal, 0);
  EXPECT_EQ(port_.writes, kStart);
}

TEST_F(Inbox, CountThatDoesNotConvertIsReportedOnce) {
  reader_.Button4Click();
  try {
    Receive("AT+CPMS=\"ME\"\r\r\n+CPMS: 3x,50\r\n");
    ADD_FAILURE() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.Message(), W("Модем сообщил число СМС в непонятном виде: \"3x\""));
  }
  EXPECT_EQ(reader_.SmsTotal, 0);
  // The reading is over: a device repeating the line is only shown.
  Receive("\r\n+CPMS: x,\r\n");
  Receive("+CPMS: 1,50,1,50,1,50\r\n");
  EXPECT_EQ(port_.writes, kStart);
  // Counts and capacities beyond any storage are refused the same way.
  for (const char* answer :
       {"+CPMS: 2147483647,2147483647\r\n", "+CPMS: 1001,1001\r\n", "+CPMS: 3,5000,3,5000\r\n"}) {
    port_.writes.clear();
    reader_.Button4Click();
    EXPECT_THROW(Receive(answer), platform::Exception) << answer;
    EXPECT_EQ(port_.writes, kStart) << answer;
  }
  // The next reading works as usual.
  port_.writes.clear();
  reader_.Button4Click();
  Receive("+CPMS: 1,50,1,50,1,50\r\n");
  EXPECT_EQ(port_.writes, kStart + Reads(0, 1));
  Receive(ReadAnswer(0, "+79161234567", "0041"));
  EXPECT_EQ(reader_.SmsShown, 1);
}

TEST_F(Inbox, ContinuationStopsAtTheCapacity) {
  reader_.Button4Click();
  Receive(CountAnswer(2, 3));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 2));
  Receive(EmptyAnswer(0) + EmptyAnswer(1) + EmptyAnswer(2));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));
  Receive(EmptyAnswer(3));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));
  EXPECT_EQ(reader_.ReadMore, 0);
  const std::string log = modem_log_.Text();
  const std::string stop_line = W("\r\nНайдено СМС: 0 из 2");
  EXPECT_EQ(log.substr(log.size() - stop_line.size()), stop_line);
  // Done: later chunks are only shown.
  Receive("OK\r\n");
  Receive("\r\n+CMTI: \"ME\",9\r\n");
  EXPECT_EQ(modem_log_.Text(), "\r\n+CMTI: \"ME\",9\r\nOK\r\n" + log);
  // A header is still shown and counted, with nothing more read.
  Receive(Header("+79161234567") + "0041\r\n");
  EXPECT_EQ(reader_.SmsShown, 1);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));

  // The count greater than the capacity: the first pass stops there too, and
  // the summary waits until the answers of every read are in.
  port_.writes.clear();
  reader_.Button4Click();
  Receive("+CPMS: 5,2,5,2\r\n");
  EXPECT_EQ(port_.writes, kStart + Reads(0, 2));
  Receive("OK\r\nOK\r\n" + EmptyAnswer(0) + EmptyAnswer(1));
  EXPECT_EQ(modem_log_.Text().find(W("Найдено")), std::string::npos);
  Receive(EmptyAnswer(2));
  EXPECT_NE(modem_log_.Text().find(W("\r\nНайдено СМС: 0 из 5")), std::string::npos);
}

TEST_F(Inbox, SummaryComesAfterTheLastAnswerAndCountsWhatWasShown) {
  // Echo on; two messages counted in a storage of 3, at indexes 1 and 3; the
  // answer to the read of index 1 comes late.
  reader_.Button4Click();
  Receive(CountAnswer(2, 3));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 2));
  Receive(EmptyAnswer(0));
  Receive("AT+CMGR=1\r");
  Receive(EmptyAnswer(2));
  Receive(ReadAnswer(3, "+79031112233", "0033"));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));
  EXPECT_EQ(modem_log_.Text().find(W("Найдено")), std::string::npos);
  const std::string late =
      "\r\n" + Header("+79161234567") + "0031\r\n\r\nOK\r\nAT+CMGD=1\r\r\nOK\r\n";
  Receive(late);
  EXPECT_EQ(reader_.SmsShown, 2);
  EXPECT_EQ(modem_log_.Text().find(W("Найдено")), std::string::npos);  // all were found

  // One of three found: the line counts what was shown.
  reader_.Button4Click();
  Receive(CountAnswer(3, 1));
  Receive(ReadAnswer(0, "+79161234567", "0030") + EmptyAnswer(1));
  const std::string log = modem_log_.Text();
  const std::string stop_line = W("\r\nНайдено СМС: 1 из 3");
  ASSERT_GE(log.size(), stop_line.size());
  EXPECT_EQ(log.substr(log.size() - stop_line.size()), stop_line);
}

TEST_F(Inbox, UnreadableCapacityMeans255) {
  reader_.Button4Click();
  Receive("+CPMS: 1,\r\n");
  int chunks = 0;
  while (reader_.ReadMore == 1 && chunks < 1000) {
    Receive("ERROR\r\n");
    ++chunks;
  }
  EXPECT_EQ(port_.writes.back(), "AT+CMGD=255\r");
  EXPECT_EQ(port_.writes, kStart + Reads(0, 255));
  EXPECT_EQ(chunks, 255);
}

TEST_F(Inbox, ReadSmsDuringContinuationStartsAgain) {
  reader_.Button4Click();
  Receive(CountAnswer(2));
  Receive(EmptyAnswer(0) + EmptyAnswer(1) + EmptyAnswer(2));
  Receive(EmptyAnswer(3));
  EXPECT_EQ(reader_.NextIndex, 4);
  port_.writes.clear();
  reader_.Button4Click();
  EXPECT_EQ(reader_.ReadMore, 0);
  EXPECT_EQ(reader_.SmsTotal, 0);
  Receive("OK\r\n");  // the old continuation has ended
  EXPECT_EQ(port_.writes, kStart);
  Receive(CountAnswer(1));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 1));
}

TEST_F(Inbox, HeadersBeforeTheCountAreCounted) {
  reader_.Button4Click();
  Receive(ReadAnswer(5, "+79161234567", "0041"));
  EXPECT_EQ(reader_.SmsShown, 1);
  EXPECT_EQ(port_.writes, kStart);
  EXPECT_EQ(modem_log_.Text().find(W("Читаем СМС")) != std::string::npos, true);
}

TEST_F(Inbox, StagingFailureParsesFromMemoryAndIsReportedOncePerReading) {
  Reports reports;
  reader_.Button4Click();
  Receive(CountAnswer(2));
  // A folder under the staging name: the file cannot be made.
  fs::create_directory(StagingPath());
  port_.pending += ReadAnswer(0, "+79161234567", "0041");
  reader_.BComPort1RxChar(static_cast<int>(port_.pending.size()));
  port_.pending += ReadAnswer(1, "+79161234567", "0042");
  reader_.BComPort1RxChar(static_cast<int>(port_.pending.size()));
  EXPECT_EQ(reader_.SmsShown, 2);
  EXPECT_NE(modem_log_.Text().find(ShownLine("+79161234567", "A")), std::string::npos);
  EXPECT_NE(modem_log_.Text().find(ShownLine("+79161234567", "B")), std::string::npos);
  const auto told = reports.Take();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find(W("Ошибка создания файла")), std::string::npos);
  EXPECT_TRUE(fs::is_directory(StagingPath()));
  fs::remove(StagingPath());
}

TEST_F(Inbox, PortWriteFailureEndsTheChunk) {
  reader_.Button4Click();
  port_.writes_left = 3;
  port_.pending = CountAnswer(3);
  EXPECT_THROW(reader_.BComPort1RxChar(static_cast<int>(port_.pending.size())), std::runtime_error);
  EXPECT_EQ(port_.writes, (kStart + Writes{"AT+CMGR=0\r", "AT+CMGD=0\r", "AT+CMGR=1\r"}));
  EXPECT_EQ(reader_.SmsTotal, 3);
}

TEST(InboxDefaults, StagesInTheCurrentDirectory) {
  const test::TempDir temp("vestrel-cwd");
  const fs::path& dir = temp.path();
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  FakePort port;
  ShadowPane command_log;
  ShadowPane modem_log;
  InboxReader reader(port, command_log, modem_log, MessagingDurations{0, 0});
  Reports reports;
  port.pending = ReadAnswer(0, "+79161234567", "0041");
  // tmp.sms here: a folder of that name makes the staging fail, proving the name.
  fs::create_directory(dir / "tmp.sms");
  reader.BComPort1RxChar(static_cast<int>(port.pending.size()));
  EXPECT_EQ(reader.SmsShown, 1);
  const auto told = reports.Take();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("\"tmp.sms\""), std::string::npos);
  fs::remove(dir / "tmp.sms");
  port.pending = ReadAnswer(0, "+79161234567", "0041");
  reader.BComPort1RxChar(static_cast<int>(port.pending.size()));
  EXPECT_EQ(reader.SmsShown, 2);
  EXPECT_TRUE(fs::is_empty(dir));
  fs::current_path(before);
}

TEST(InboxTimings, ModemWaitsAreTaken) {
  // Real ModemWait on the named event: a read of one index is two waits.
  FakePort port;
  ShadowPane command_log;
  ShadowPane modem_log;
  InboxReader reader(port, command_log, modem_log, MessagingDurations{30, 0}, "unused.sms");
  const auto start = std::chrono::steady_clock::now();
  reader.ReadAll_SMS(7);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(60));
  EXPECT_EQ(port.writes, Pair(7));
  EXPECT_EQ(command_log.Text(), "AT+CMGR=7\r\nAT+CMGD=7");
}

}  // namespace
}  // namespace vestrel
