#include "messaging/inbox_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/exceptions.h"
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
// The modem's whole answer to a read of a stored message, echo included.
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

class Inbox : public ::testing::Test {
 protected:
  void Receive(const std::string& chunk) {
    port_.pending += chunk;
    reader_.BComPort1RxChar(static_cast<int>(chunk.size()));
    EXPECT_FALSE(fs::exists(fs::symlink_status(StagingPath())));
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
  // The header of index 2 ends the second chunk: shown with an empty text,
  // and its body in the next chunk is not a message.
  const std::size_t cut = answers.find("+CMGR:", answers.find("AT+CMGR=2"));
  const std::size_t body = answers.find("\r\n", cut) + 2;
  Receive(answers.substr(0, 40));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 4));  // a chunk without a header reads on
  Receive(answers.substr(40, body - 40));
  EXPECT_EQ(reader_.SmsShown, 2);
  Receive(answers.substr(body));
  EXPECT_EQ(reader_.SmsShown, 3);
  EXPECT_EQ(reader_.ReadMore, 0);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 5));
  const std::string log = modem_log_.Text();
  EXPECT_NE(log.find(ShownLine("+79161234567", "1")), std::string::npos);
  EXPECT_NE(log.find(ShownLine("+79161234567", "") + W("\r\nЧитаем СМС") +
                     ShownLine("+79161234567", "3")),
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

  // A chunk with both answers: its headers are not parsed.
  port_.writes.clear();
  reader_.Button4Click();
  Receive(CountAnswer(1) + ReadAnswer(0, "+79161234567", "0041"));
  EXPECT_EQ(reader_.SmsShown, 0);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 1));
}

TEST_F(Inbox, CountThatDoesNotConvertIsReportedAndReceptionGoesOn) {
  reader_.Button4Click();
  // The answer cut in front of its comma.
  try {
    Receive("AT+CPMS=\"ME\"\r\r\n+CPMS: 3");
    ADD_FAILURE() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.Message(), W("Модем сообщил число СМС в непонятном виде: \"\""));
  }
  EXPECT_EQ(reader_.SmsTotal, 0);
  EXPECT_EQ(modem_log_.Text(), "AT+CPMS=\"ME\"\r\r\n+CPMS: 3");
  EXPECT_EQ(port_.writes, kStart);
  try {
    Receive("+CPMS: 3x,50\r\n");
    ADD_FAILURE() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.Message(), W("Модем сообщил число СМС в непонятном виде: \"3x\""));
  }
  // The next chunks are handled as usual.
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

  // The count greater than the capacity: the first pass stops there too.
  port_.writes.clear();
  reader_.Button4Click();
  Receive("+CPMS: 5,2,5,2\r\n");
  EXPECT_EQ(port_.writes, kStart + Reads(0, 2));
  EXPECT_NE(modem_log_.Text().find(W("Найдено СМС: 0 из 5")), std::string::npos);
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

TEST_F(Inbox, StagingFailureIsReportedAndCleanedUp) {
  reader_.Button4Click();
  Receive(CountAnswer(1));
  const fs::path target = dir_ / "elsewhere";
  fs::create_symlink(target, StagingPath());
  port_.pending += ReadAnswer(0, "+79161234567", "0041");
  EXPECT_THROW(reader_.BComPort1RxChar(static_cast<int>(port_.pending.size())),
               platform::Exception);
  EXPECT_FALSE(fs::exists(fs::symlink_status(StagingPath())));
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(reader_.SmsShown, 0);
  // Reception goes on: the next chunk is staged and read as usual.
  Receive(ReadAnswer(1, "+79161234567", "0042"));
  EXPECT_EQ(reader_.SmsShown, 1);
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
  port.pending = ReadAnswer(0, "+79161234567", "0041");
  // tmp.sms here: a symbolic link makes the staging fail, proving the name.
  fs::create_symlink(dir / "x", dir / "tmp.sms");
  EXPECT_THROW(reader.BComPort1RxChar(static_cast<int>(port.pending.size())), platform::Exception);
  port.pending = ReadAnswer(0, "+79161234567", "0041");
  reader.BComPort1RxChar(static_cast<int>(port.pending.size()));
  EXPECT_EQ(reader.SmsShown, 1);
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
