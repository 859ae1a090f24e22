#include "messaging/inbox_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/sync.h"
#include "tests/messaging/sms/messaging_test_util.h"
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
// What follows the echo of a read of a stored message.
std::string Stored(const std::string& number, const std::string& body) {
  return Header(number) + body + "\r\n\r\nOK\r\n";
}
// The modem's whole answer to a read of a stored message, echo included,
// and to the delete after it.
std::string ReadAnswer(int index, const std::string& number, const std::string& body) {
  return "AT+CMGR=" + std::to_string(index) + "\r\r\n" + Stored(number, body) +
         "AT+CMGD=" + std::to_string(index) + "\r\r\nOK\r\n";
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
bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
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

// A port whose modem answers arrive on the wire and reach the queue a few
// bytes per look of the reader (drip; 0: all at once), as a slow modem's do.
class WirePort : public FakePort {
 public:
  std::string HoldArrived() override {
    const std::size_t n = drip == 0 ? wire.size() : std::min(drip, wire.size());
    pending += wire.substr(0, n);
    wire.erase(0, n);
    return FakePort::HoldArrived();
  }
  std::string ReadStr(int count) override {
    std::string out = FakePort::ReadStr(count);
    delivered += out;
    return out;
  }
  std::string wire;
  std::size_t drip = 0;
  std::string delivered;  // every byte handed to the reader
};

// Keeps what the reader hands over, and may refuse one answer.
class KeptRecord : public MessageRecord {
 public:
  void ChunkReceived(std::string_view bytes, bool) noexcept override { chunks += bytes; }
  bool AnswerReceived(std::string_view bytes,
                      const std::vector<FoundMessage>& messages) noexcept override {
    if (++answers == refuse_answer) return false;
    kept += bytes;
    for (const FoundMessage& m : messages) bodies.push_back(m.body_line);
    return true;
  }
  void MessageShown(const FoundMessage& found) noexcept override {
    bodies.push_back(found.body_line);
  }
  void SendStarted(const std::string&, const std::string&, std::size_t) noexcept override {}
  void PartWritten(std::size_t, const std::string&) noexcept override {}
  void SendEnded() noexcept override {}

  std::string kept;    // the answers handed over before their deletes
  std::string chunks;  // the other bytes, as chunks
  std::vector<std::string> bodies;
  int answers = 0;
  int refuse_answer = 0;  // the AnswerReceived call (from 1) that fails; 0: none
};

class Inbox : public ::testing::Test {
 protected:
  explicit Inbox(std::uint32_t answer_wait_ms = 50)
      : reader_{port_, command_log_, modem_log_, MessagingDurations{0, 0, answer_wait_ms},
                StagingPath()} {
    reader_.SetRecord(&record_);
    port_.on_write = [this](const std::string& command) { Answer(command); };
  }

  // The modem: a read is answered with reads_[i] after its echo (none: an
  // empty place), a delete with OK. No delete may go out before the record
  // holds the whole answer to its read: else a kill right then loses it.
  void Answer(const std::string& command) {
    const std::string out = echo_ ? command + "\r\n" : "";
    const bool read = command.starts_with("AT+CMGR=");
    if (!read && !command.starts_with("AT+CMGD=")) return;
    const int index = std::stoi(command.substr(8));
    if (read) {
      const auto it = reads_.find(index);
      answered_[index] = out + (it == reads_.end() ? "+CMS ERROR: 321\r\n" : it->second);
      port_.wire += answered_[index];
    } else {
      EXPECT_TRUE(Contains(record_.kept, answered_[index]))
          << "AT+CMGD=" << index << " before its answer was kept";
      port_.wire += out + "OK\r\n";
    }
  }

  void Receive(const std::string& chunk) {
    port_.pending += chunk;
    Deliver();
  }
  // Bytes that arrive and are handed over as one chunk, with what was held.
  void ReceiveOne(const std::string& chunk) {
    port_.pending += chunk;
    Chunk(port_.pending.size());
  }
  // By the time a chunk is handed over, whatever was on its way has arrived.
  void Chunk(std::size_t size) {
    port_.pending += port_.wire;
    port_.wire.clear();
    reader_.BComPort1RxChar(static_cast<int>(size));
  }
  bool Quiet() const { return port_.pending.empty() && port_.wire.empty(); }
  // What the event thread does once a handler returns: hands over what
  // arrived, the held bytes first.
  void Deliver(bool staging_checked = true) {
    while (!Quiet()) {
      Chunk(port_.pending.size() + port_.wire.size());
      EXPECT_FALSE(staging_checked && fs::exists(fs::symlink_status(StagingPath())));
    }
  }
  std::string StagingPath() const { return (dir_ / "tmp.sms").string(); }

  const test::TempDir temp_{"vestrel-inbox"};
  const fs::path dir_ = temp_.path();
  WirePort port_;
  ShadowPane command_log_;
  ShadowPane modem_log_;
  KeptRecord record_;
  std::map<int, std::string> reads_;
  std::map<int, std::string> answered_;
  bool echo_ = true;
  InboxReader reader_;
};

// A modem that answers slowly: a wait for the rest of an answer must not run out.
class SlowInbox : public Inbox {
 protected:
  SlowInbox() : Inbox(5000) {}
};

TEST_F(Inbox, ThreeMessagesFromIndexZero) {
  reads_ = {{0, Stored("+79161234567", "041F04400438043204350442")},
            {1, Stored("+79031112233", "It's")},
            {2, Stored("+79031112244", "0410")}};
  modem_log_.SetText("old");
  reader_.Button4Click();
  EXPECT_EQ(port_.opens, 1);
  EXPECT_EQ(port_.writes, kStart);
  EXPECT_EQ(modem_log_.Text(), "");
  EXPECT_EQ(command_log_.Text(), "AT+CPMS=\"ME\"");

  const std::string count = CountAnswer(3);
  ReceiveOne(count);
  EXPECT_EQ(reader_.SmsTotal, 3);
  EXPECT_EQ(reader_.ReadMore, 1);
  EXPECT_EQ(reader_.NextIndex, 3);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));

  // The answers were taken while the reads went out and come as the next chunk.
  const std::string answers = ReadAnswer(0, "+79161234567", "041F04400438043204350442") +
                              ReadAnswer(1, "+79031112233", "It's") +
                              ReadAnswer(2, "+79031112244", "0410") + EmptyAnswer(3);
  EXPECT_EQ(port_.pending + port_.wire, answers);
  Deliver();
  EXPECT_EQ(reader_.SmsShown, 3);
  EXPECT_EQ(reader_.ReadMore, 0);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));
  EXPECT_EQ(modem_log_.Text(), answers + count + W("\r\nУ Вас 3 СМС\r\nЧитаем СМС\r\nЧитаем СМС") +
                                   ShownLine("+79161234567", W("Привет")) +
                                   ShownLine("+79031112233", "It's") +
                                   ShownLine("+79031112244", W("А")));
  std::string commands = "AT+CPMS=\"ME\"";
  for (int i = 0; i <= 3; ++i)
    commands += "\r\nAT+CMGR=" + std::to_string(i) + "\r\nAT+CMGD=" + std::to_string(i);
  EXPECT_EQ(command_log_.Text(), commands);

  // Nothing more is read, whatever arrives; an answer is still shown.
  Receive("\r\n+CMTI: \"ME\",0\r\n");
  Receive(Stored("+79990000000", "0042"));
  EXPECT_EQ(reader_.SmsShown, 4);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));
}

TEST_F(Inbox, ThreeMessagesFromIndexOneSplitAcrossChunks) {
  reads_ = {{1, Stored("+79161234567", "0031")},
            {2, Stored("+79161234567", "0032")},
            {3, Stored("+79161234567", "0033")}};
  reader_.Button4Click();
  ReceiveOne(CountAnswer(3));
  const std::string answers = EmptyAnswer(0) + ReadAnswer(1, "+79161234567", "0031") +
                              ReadAnswer(2, "+79161234567", "0032") +
                              ReadAnswer(3, "+79161234567", "0033");
  ASSERT_EQ(port_.pending + port_.wire, answers);
  // The header of index 2 ends the second chunk: it waits for its body,
  // which comes with the next chunk.
  const std::size_t cut = answers.find("+CMGR:", answers.find("AT+CMGR=2"));
  const std::size_t body = answers.find("\r\n", cut) + 2;
  Chunk(40);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 4));  // a chunk without a header reads on
  Chunk(body - 40);
  EXPECT_EQ(reader_.SmsShown, 1);
  Chunk(answers.size() - body);
  EXPECT_EQ(reader_.SmsShown, 3);
  EXPECT_EQ(reader_.ReadMore, 0);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 5));
  Deliver();
  EXPECT_EQ(port_.writes, kStart + Reads(0, 5));
  EXPECT_TRUE(Contains(modem_log_.Text(), ShownLine("+79161234567", "1") + W("\r\nЧитаем СМС") +
                                              ShownLine("+79161234567", "2") +
                                              ShownLine("+79161234567", "3")));
}

TEST_F(Inbox, TwoMessagesAtFourAndSeven) {
  reads_ = {{4, Stored("+79161234567", "0034")}, {7, Stored("+79161234567", "0037")}};
  reader_.Button4Click();
  Receive(CountAnswer(2));
  EXPECT_EQ(reader_.SmsShown, 2);
  EXPECT_EQ(reader_.ReadMore, 0);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 7));
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
  reads_ = {{1, Stored("+79161234567", "0031")},
            {2, Stored("+79161234567", "0032")},
            {3, Stored("+79161234567", "0033")}};
  struct Row {
    const char* what;
    std::string chunk;
    std::int32_t total;
    Writes reads;
    std::int32_t shown;
  } rows[] = {
      {"an indication in front of the answer", "+CMTI: \"ME\",1\r\n" + CountAnswer(1), 1,
       Reads(0, 1), 1},
      {"no space: the first digit is lost", "+CPMS:12,50,12,50,12,50\r\n\r\nOK\r\n", 2, Reads(0, 2),
       2},
      // Its headers are parsed after the first pass, never dropped with the count.
      {"an answer in the count's chunk", CountAnswer(1) + ReadAnswer(0, "+79161234567", "0041"), 1,
       Reads(0, 0), 1},
  };
  for (const Row& row : rows) {
    port_.writes.clear();
    reader_.Button4Click();
    Receive(row.chunk);
    EXPECT_EQ(reader_.SmsTotal, row.total) << row.what;
    EXPECT_EQ(reader_.SmsShown, row.shown) << row.what;
    EXPECT_EQ(port_.writes, kStart + row.reads) << row.what;
  }
}

TEST_F(Inbox, CountIsTakenOnlyWhileAwaitedAndOnlyFromItsOwnLine) {
  reads_ = {{0, Stored("+79161234567", "Hello +CPMS: 30,30 bye")}};
  reader_.Button4Click();
  // A count line cut in two waits for its end: "+CPMS: 1,1" | "0,..." is a
  // capacity of 10, not 1.
  Receive("AT+CPMS=\"ME\"\r\r\n+CPMS: 1,1");
  EXPECT_EQ(reader_.SmsTotal, 0);
  EXPECT_EQ(port_.writes, kStart);
  ReceiveOne("0,1,10,1,10\r\n\r\nOK\r\n");
  EXPECT_EQ(reader_.SmsTotal, 1);
  EXPECT_EQ(reader_.SmsCapacity, 10);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 1));

  // "+CPMS:" inside a message, once the count is taken, is message text.
  Deliver();
  EXPECT_EQ(reader_.SmsTotal, 1);
  EXPECT_EQ(reader_.SmsShown, 1);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 1));
  EXPECT_TRUE(Contains(modem_log_.Text(), ShownLine("+79161234567", "Hello +CPMS: 30,30 bye")));
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
  // Negative counts, and counts and capacities beyond any storage, are
  // refused the same way; so is a count line too long to be one.
  const std::string digits(100 * 1024, '7');
  const struct {
    std::string answer;
    std::string shown;
  } refused[] = {
      {"+CPMS: -3,50\r\n", "-3"},
      {"+CPMS: 2147483647,2147483647\r\n", "2147483647"},
      {"+CPMS: 1001,1001\r\n", "1001"},
      {"+CPMS: 3,5000,3,5000\r\n", "3"},
      {"+CPMS: " + digits + ",50\r\n", digits.substr(0, 24) + "..."},
      {"+CPMS: " + digits, ""},
  };
  for (const auto& row : refused) {
    const std::string what = row.answer.substr(0, 40);
    port_.writes.clear();
    reader_.Button4Click();
    try {
      Receive(row.answer);
      ADD_FAILURE() << "no exception: " << what;
    } catch (const platform::Exception& e) {
      EXPECT_EQ(e.Message(), W("Модем сообщил число СМС в непонятном виде: \"") + row.shown + "\"")
          << what;
    }
    EXPECT_EQ(port_.writes, kStart) << what;
    port_.pending.clear();
    port_.held = 0;
  }
  // The next reading works as usual.
  reads_ = {{0, Stored("+79161234567", "0041")}};
  port_.writes.clear();
  reader_.Button4Click();
  Receive("+CPMS: 1,50,1,50,1,50\r\n");
  EXPECT_EQ(port_.writes, kStart + Reads(0, 1));
  EXPECT_EQ(reader_.SmsShown, 1);
}

TEST_F(Inbox, ContinuationStopsAtTheCapacity) {
  reader_.Button4Click();
  Receive(CountAnswer(2, 3));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));
  EXPECT_EQ(reader_.ReadMore, 0);
  const std::string log = modem_log_.Text();
  const std::string stop_line = W("\r\nНайдено СМС: 0 из 2");
  EXPECT_TRUE(log.ends_with(stop_line)) << log;
  // Done: later chunks are only shown.
  Receive("OK\r\n");
  Receive("\r\n+CMTI: \"ME\",9\r\n");
  EXPECT_EQ(modem_log_.Text(), "\r\n+CMTI: \"ME\",9\r\nOK\r\n" + log);
  // An answer is still shown and counted, with nothing more read.
  Receive(Stored("+79161234567", "0041"));
  EXPECT_EQ(reader_.SmsShown, 1);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));

  // The count greater than the capacity: the first pass stops there too, and
  // the summary waits until the answers of every read are in.
  port_.writes.clear();
  reader_.Button4Click();
  ReceiveOne("OK\r\n+CPMS: 5,2,5,2\r\n\r\nOK\r\n");
  EXPECT_EQ(port_.writes, kStart + Reads(0, 2));
  Chunk(port_.pending.size() - EmptyAnswer(2).size());
  EXPECT_FALSE(Contains(modem_log_.Text(), W("Найдено")));
  Deliver();
  EXPECT_TRUE(Contains(modem_log_.Text(), W("\r\nНайдено СМС: 0 из 5")));
}

TEST_F(Inbox, SummaryComesAfterTheLastAnswerAndCountsWhatWasShown) {
  // Two messages counted in a storage of 3, at indexes 1 and 3: all found,
  // no summary, whichever byte the chunks end on.
  reads_ = {{1, Stored("+79161234567", "0031")}, {3, Stored("+79031112233", "0033")}};
  reader_.Button4Click();
  ReceiveOne(CountAnswer(2, 3));
  while (!Quiet()) Chunk(7);
  EXPECT_EQ(port_.writes, kStart + Reads(0, 3));
  EXPECT_EQ(reader_.SmsShown, 2);
  EXPECT_FALSE(Contains(modem_log_.Text(), W("Найдено")));

  // One of three found: the line counts what was shown.
  reads_ = {{0, Stored("+79161234567", "0030")}};
  reader_.Button4Click();
  Receive(CountAnswer(3, 1));
  EXPECT_TRUE(modem_log_.Text().ends_with(W("\r\nНайдено СМС: 1 из 3")));
}

TEST_F(Inbox, UnreadableCapacityMeans255) {
  reader_.Button4Click();
  Receive("+CPMS: 1,\r\n");
  EXPECT_EQ(port_.writes.back(), "AT+CMGD=255\r");
  EXPECT_EQ(port_.writes, kStart + Reads(0, 255));
}

TEST_F(Inbox, ReadSmsDuringContinuationStartsAgain) {
  reader_.Button4Click();
  ReceiveOne(CountAnswer(2));
  ReceiveOne("");
  EXPECT_EQ(reader_.NextIndex, 3);
  EXPECT_EQ(reader_.ReadMore, 1);
  port_.writes.clear();
  reader_.Button4Click();
  EXPECT_EQ(reader_.ReadMore, 0);
  EXPECT_EQ(reader_.SmsTotal, 0);
  Receive("OK\r\n");  // the old continuation's answer has come, and it ends there
  EXPECT_EQ(port_.writes, kStart);
  ReceiveOne(CountAnswer(1));
  EXPECT_EQ(port_.writes, kStart + Reads(0, 1));
}

TEST_F(Inbox, LeftoversOfAnEarlierReadingAreShownButNotCounted) {
  // The phone's only message is at index 1; an answer of an earlier reading
  // comes before the count line, in its chunk or in one of its own.
  const std::string leftover = "\r\n" + Stored("+79990000000", "004F004C0044");
  reads_ = {{1, Stored("+79161234567", "0031")}};
  for (const bool own_chunk : {false, true}) {
    port_.writes.clear();
    reader_.Button4Click();
    if (own_chunk) {
      Receive(leftover);
      Receive(CountAnswer(1));
    } else {
      Receive(leftover + CountAnswer(1));
    }
    const std::string log = modem_log_.Text();
    EXPECT_TRUE(Contains(log, ShownLine("+79990000000", "OLD"))) << own_chunk;
    EXPECT_TRUE(Contains(log, ShownLine("+79161234567", "1"))) << own_chunk;
    EXPECT_EQ(port_.writes, kStart + Reads(0, 1)) << own_chunk;
    EXPECT_FALSE(Contains(log, W("Найдено"))) << own_chunk;
  }
}

TEST_F(Inbox, StagingFailureParsesFromMemoryAndIsReportedOncePerReading) {
  Reports reports;
  reads_ = {{0, Stored("+79161234567", "0041")}, {1, Stored("+79161234567", "0042")}};
  reader_.Button4Click();
  ReceiveOne(CountAnswer(2));
  // A folder under the staging name: the file cannot be made.
  fs::create_directory(StagingPath());
  Chunk(ReadAnswer(0, "+79161234567", "0041").size());
  Deliver(false);
  EXPECT_EQ(reader_.SmsShown, 2);
  EXPECT_TRUE(Contains(modem_log_.Text(), ShownLine("+79161234567", "A")));
  EXPECT_TRUE(Contains(modem_log_.Text(), ShownLine("+79161234567", "B")));
  const auto told = reports.Take();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_TRUE(Contains(told[0], W("Ошибка создания файла")));
  EXPECT_TRUE(fs::is_directory(StagingPath()));
  fs::remove(StagingPath());
}

TEST_F(Inbox, PortWriteFailureEndsTheChunk) {
  reader_.Button4Click();
  port_.writes_left = 3;
  EXPECT_THROW(ReceiveOne(CountAnswer(3)), std::runtime_error);
  EXPECT_EQ(port_.writes, (kStart + Writes{"AT+CMGR=0\r", "AT+CMGD=0\r", "AT+CMGR=1\r"}));
  EXPECT_EQ(reader_.SmsTotal, 3);
}

// Every byte and every message reaches the record once, each answer before
// the delete of its message (checked as each delete is written), however
// slowly the answers come.
TEST_F(SlowInbox, NoDeleteBeforeItsAnswerIsKept) {
  const std::string a = Stored("+79161234567", "041F04400438043204350442");
  const std::string b = Stored("+79031112233", "It's\r\nsecond line");
  const struct {
    const char* what;
    std::map<int, std::string> reads;
    int count;
    std::size_t drip;
    bool echo;
    int last_read;
  } rows[] = {
      {"at once", {{0, a}, {1, b}, {2, a}}, 3, 0, true, 3},
      {"in pieces", {{1, a}, {2, b}, {3, a}}, 3, 9, true, 3},
      {"in pieces, no echo", {{4, b}, {7, a}}, 2, 13, false, 7},
      {"an indication inside",
       {{0, Header("+79161234567") + "+CMTI: \"ME\",9\r\n" + "0041\r\n\r\nOK\r\n"}},
       1,
       5,
       true,
       1},
  };
  for (const auto& row : rows) {
    reads_ = row.reads;
    port_.drip = row.drip;
    echo_ = row.echo;
    port_.writes.clear();
    port_.delivered.clear();
    record_ = KeptRecord{};
    reader_.Button4Click();
    Receive(CountAnswer(row.count));
    EXPECT_EQ(port_.writes, kStart + Reads(0, row.last_read)) << row.what;
    EXPECT_EQ(reader_.SmsShown, row.count) << row.what;
    EXPECT_EQ(record_.kept.size() + record_.chunks.size(), port_.delivered.size()) << row.what;
    EXPECT_EQ(record_.bodies.size(), static_cast<std::size_t>(row.count)) << row.what;
  }
}

// A read whose answer does not come whole, or cannot be kept, stops the
// reading before its delete; the message names the index.
TEST_F(Inbox, ReadingHaltsBeforeTheDelete) {
  const std::string a = Stored("+79161234567", "0041");
  const std::string silent = W("Модем не ответил на чтение СМС №");
  const std::string unkept = W("Ответ на чтение СМС №");
  const struct {
    const char* what;
    std::map<int, std::string> reads;
    bool echo;
    int refuse_answer;
    int count;
    int halted_at;
    std::string message;
    int shown;
  } rows[] = {
      {"no answer in the first pass", {{0, a}, {1, ""}}, false, 0, 3, 1, silent, 1},
      {"only the echo", {{0, a}, {1, ""}}, true, 0, 3, 1, silent, 1},
      {"no final result", {{1, Header("+79161234567") + "0042\r\n"}}, true, 0, 3, 1, silent, 1},
      {"no answer in the continuation", {{0, a}, {2, ""}}, true, 0, 2, 2, silent, 1},
      {"the record refuses", {{0, a}, {1, a}}, true, 2, 2, 1, unkept, 2},
  };
  for (const auto& row : rows) {
    reads_ = row.reads;
    echo_ = row.echo;
    record_ = KeptRecord{};
    record_.refuse_answer = row.refuse_answer;
    port_.writes.clear();
    reader_.Button4Click();
    const std::string index = std::to_string(row.halted_at);
    const std::string stopped = W(": чтение остановлено, СМС оставлены в телефоне");
    const std::string tail = row.message == silent ? stopped : W(" не сохранён") + stopped;
    try {
      Receive(CountAnswer(row.count));
      ADD_FAILURE() << "no halt: " << row.what;
    } catch (const platform::Exception& e) {
      // In the first pass the halt is told once its chunk is parsed.
      EXPECT_EQ(e.Message(), row.message + index + tail) << row.what;
    }
    // Whatever still comes is shown, and nothing more is written.
    Deliver();
    Receive("OK\r\n");
    EXPECT_EQ(port_.writes.back(), "AT+CMGR=" + index + "\r") << row.what;
    EXPECT_EQ(std::count(port_.writes.begin(), port_.writes.end(), "AT+CMGD=" + index + "\r"), 0)
        << row.what;
    EXPECT_EQ(reader_.ReadMore, 0) << row.what;
    EXPECT_EQ(reader_.SmsShown, row.shown) << row.what;
  }
}

// Lines the modem sends on its own may come between any two lines of an
// answer: they are shown as received, never taken for a message's text.
TEST_F(Inbox, UnsolicitedLinesAreNeverTheBody) {
  for (const std::string line :
       {"+CMTI: \"ME\",7", "+CDSI: \"SM\",3", "RING", "+CLIP: \"+79031112233\",145", "^RSSI: 12",
        "^BOOT: 1,0,0,4,0", "+CREG: 1"}) {
    for (const bool before_text : {true, false}) {
      const std::string inside = line + "\r\n";
      reads_ = {{0, Header("+79161234567") + (before_text ? inside : "") +
                        "041F04400438043204350442\r\n" + (before_text ? "" : inside) +
                        "\r\nOK\r\n"}};
      record_ = KeptRecord{};
      reader_.Button4Click();
      Receive(CountAnswer(1));
      const std::string log = modem_log_.Text();
      EXPECT_TRUE(Contains(log, ShownLine("+79161234567", W("Привет")))) << line << before_text;
      EXPECT_TRUE(Contains(log, inside)) << line;
      EXPECT_EQ(reader_.SmsShown, 1) << line;
      EXPECT_EQ(record_.bodies, std::vector<std::string>{"041F04400438043204350442"}) << line;
    }
  }
}

TEST(InboxDefaults, StagesInTheCurrentDirectory) {
  const test::TempDir temp("vestrel-cwd");
  const fs::path& dir = temp.path();
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  FakePort port;
  ShadowPane command_log;
  ShadowPane modem_log;
  InboxReader reader(port, command_log, modem_log, MessagingDurations{0, 0, 50});
  Reports reports;
  port.pending = ReadAnswer(0, "+79161234567", "0041");
  // tmp.sms here: a folder of that name makes the staging fail, proving the name.
  fs::create_directory(dir / "tmp.sms");
  reader.BComPort1RxChar(static_cast<int>(port.pending.size()));
  EXPECT_EQ(reader.SmsShown, 1);
  const auto told = reports.Take();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_TRUE(Contains(told[0], "\"tmp.sms\""));
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
  InboxReader reader(port, command_log, modem_log, MessagingDurations{30, 0, 50}, "unused.sms");
  const auto start = std::chrono::steady_clock::now();
  reader.ReadAll_SMS(7);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(60));
  EXPECT_EQ(port.writes, Pair(7));
  EXPECT_EQ(command_log.Text(), "AT+CMGR=7\r\nAT+CMGD=7");
}

}  // namespace
}  // namespace vestrel
