// A hostile SMS, a cut answer, a planted file, a device that lies about its
// count, and a close in the middle of a dialogue: the real window on a pty to
// the modem simulator never loses a message that reached the port.
#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/e2e_fixture.h"

namespace vestrel {
namespace {

using namespace e2e;
using test::W;
using namespace std::chrono_literals;

nlohmann::json Stored(int index, const std::string& number, const std::string& time) {
  return {{"index", index}, {"status", "REC UNREAD"}, {"number", number}, {"time", time + "+12"}};
}

// Messages from index 0 of a memory of the given capacity.
nlohmann::json Inbox0(const nlohmann::json& messages, int capacity = 50) {
  return {{"index_base", 0},
          {"storages", {{{"name", "ME"}, {"capacity", capacity}, {"messages", messages}}}}};
}

class HostileE2e : public MessagingE2e {
 protected:
  // Reads with short waits until count messages are shown and all is handled.
  void ReadUntilShown(int count) {
    form_->Button4Click(nullptr);
    ASSERT_TRUE(ServeUntil([&] { return Inbox().SmsShown >= count; }));
    Settle();
  }
  std::vector<std::string> ShownLines() {
    std::vector<std::string> lines;
    const std::string marker = W("№ тел: ");
    const std::string log = Messaging().modem_log.Text();
    for (std::size_t at = log.find(marker); at != std::string::npos;
         at = log.find(marker, at + 1)) {
      const std::size_t end = log.find("\r\n", at);
      lines.push_back(log.substr(at, end == std::string::npos ? std::string::npos : end - at));
    }
    return lines;
  }
};

TEST_F(HostileE2e, TextInsideAnSmsNeitherRestartsTheReadingNorAddsASender) {
  const std::string spoof = "+CMGR: \"REC READ\",\"+79990000000\",,\"26/12/08,10:15:00+12\"";
  nlohmann::json m0 = Stored(0, "+79161000000", "26/12/08,10:15:00");
  m0["raw"] = "Hello +CPMS: 30,30 bye";
  nlohmann::json m1 = Stored(1, "+79161000001", "26/12/08,10:15:00");
  m1["raw"] = "Two lines\r\n" + spoof;
  nlohmann::json m2 = Stored(2, "+79161000002", "26/12/08,10:15:00");
  m2["raw"] = "+CPMS: 30,30";
  // A new-message indication between a header and its body is no body.
  nlohmann::json m3 = Stored(3, "+79161000003", "26/12/08,10:15:00");
  m3["raw"] = "+CMTI: \"ME\",7\r\nIt's here";
  StartSimJson(Inbox0({m0, m1, m2, m3}, 40));
  StartForm({100, 300});
  ReadUntilShown(4);
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_EQ(sim().Commands(), ReadCommands(4));
  EXPECT_EQ(Inbox().SmsTotal, 4);
  // Every line of a text is its own, a header-like one included.
  EXPECT_EQ(ShownLines(),
            (std::vector<std::string>{
                Message("+79161000000", "26/12/08,10:15:00", "Hello +CPMS: 30,30 bye"),
                Message("+79161000001", "26/12/08,10:15:00", ("Two lines\n" + spoof).c_str()),
                Message("+79161000002", "26/12/08,10:15:00", "+CPMS: 30,30"),
                Message("+79161000003", "26/12/08,10:15:00", "It's here")}));
  EXPECT_TRUE(sim().StoredMessages("ME").empty());
}

TEST_F(HostileE2e, AnswersCutIntoPiecesShowEveryMessageWhole) {
  // Twenty messages of 70 Cyrillic letters, the answers in pieces of 97 bytes.
  nlohmann::json messages = nlohmann::json::array();
  std::vector<std::string> expected;
  for (int i = 0; i < 20; ++i) {
    std::string text;
    for (int c = 0; c < 70; ++c) text += static_cast<char>(0xC0 + (i + c) % 32);
    const std::string number = "+791610000" + std::to_string(10 + i);
    nlohmann::json m = Stored(i, number, "26/12/08,10:15:00");
    m["text"] = platform::Cp1251ToUtf8(text);
    m["coding"] = "ucs2";
    messages.push_back(m);
    expected.push_back(W("№ тел: ") + number +
                       W(" Дата и время отправки: 26/12/08,10:15:00 Текст: ") + text);
  }
  nlohmann::json scenario = Inbox0(messages, 40);
  scenario["faults"]["split"] = {{"bytes", 97}, {"delay_ms", 2}};
  StartSimJson(scenario);
  StartForm({20, 300});
  ReadUntilShown(20);
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_EQ(ShownLines(), expected);
  EXPECT_TRUE(sim().StoredMessages("ME").empty());
}

TEST_F(HostileE2e, PlantedStagingFilesAreNeverWrittenThrough) {
  StartSim("base0");
  StartForm({100, 300});
  const std::vector<std::string> demo = {
      Message("+79161234567", "26/12/08,10:15:00", "Первое сообщение"),
      Message("+79031112233", "26/12/08,11:20:30", "Second message"),
      Message("+79265554433", "26/12/08,12:00:59", "Third one in 7-bit")};
  const auto staging = folder_.path() / "tmp.sms";

  // A folder under the name: one message, every message shown from memory.
  std::filesystem::create_directory(staging);
  ReadUntilShown(3);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_NE(errors_[0].find(W("Ошибка создания файла \"tmp.sms\"")), std::string::npos);
  EXPECT_EQ(ShownLines(), demo);
  EXPECT_TRUE(sim().StoredMessages("ME").empty());
  std::filesystem::remove(staging);
}

TEST_F(HostileE2e, AHardLinkOrAPipeUnderTheStagingNameIsReplaced) {
  nlohmann::json m = Stored(0, "+79161000000", "26/12/08,10:15:00");
  m["text"] = "One";
  StartSimJson(Inbox0(nlohmann::json::array({m})));
  StartForm({100, 300});
  const auto staging = folder_.path() / "tmp.sms";
  const auto other = folder_.path() / "other.txt";
  { std::ofstream(other) << "keep"; }
  std::filesystem::permissions(other, std::filesystem::perms(0644));
  std::filesystem::create_hard_link(other, staging);
  ReadUntilShown(1);
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  std::ifstream kept(other);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), {}), "keep");
  struct stat st {};
  ASSERT_EQ(::stat(other.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(staging)));

  // A pipe would block the window for good in an open for writing.
  form_.reset();
  sim_.reset();
  counts_.clear();
  nlohmann::json m2 = Stored(0, "+79161000001", "26/12/08,10:15:00");
  m2["text"] = "Two";
  StartSimJson(Inbox0(nlohmann::json::array({m2})));
  StartForm({100, 300});
  ASSERT_EQ(::mkfifo(staging.c_str(), 0644), 0);
  ReadUntilShown(1);
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  EXPECT_EQ(ShownLines(),
            (std::vector<std::string>{Message("+79161000001", "26/12/08,10:15:00", "Two")}));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(staging)));
}

TEST_F(HostileE2e, ACountBeyondAnyStorageIsRefused) {
  nlohmann::json scenario = Inbox0(nlohmann::json::array());
  scenario["faults"]["errors"] = {
      {{"command", "AT+CPMS=\"ME\""},
       {"answer", "+CPMS: 2147483647,2147483647,2147483647,2147483647,2147483647,2147483647"},
       {"times", 1}}};
  StartSimJson(scenario);
  TForm1& form = StartForm({100, 300});
  form.Button4Click(nullptr);
  ASSERT_TRUE(ServeUntil([&] { return !errors_.empty(); }));
  Settle();
  EXPECT_EQ(errors_[0], W("Модем сообщил число СМС в непонятном виде: \"2147483647\""));
  EXPECT_EQ(sim().Commands(), (std::vector<std::string>{"at+cmgf=1", "AT+CPMS=\"ME\""}));
}

TEST_F(HostileE2e, ACloseDuringAReadingEndsItAtTheNextCommand) {
  // Two hundred counted: the first pass alone would take 400 waits.
  nlohmann::json scenario = Inbox0(nlohmann::json::array(), 255);
  scenario["faults"]["errors"] = {
      {{"command", "AT+CPMS=\"ME\""}, {"answer", "+CPMS: 200,255,200,255,200,255"}, {"times", 1}}};
  StartSimJson(scenario);
  TForm1& form = StartForm({100, 300});
  form.show();
  QTimer::singleShot(1500, &form, [&] { form.close(); });
  form.Button4Click(nullptr);
  ASSERT_TRUE(ServeUntil([&] { return !form.isVisible(); }, 10s));
  const std::size_t written = sim().Commands().size();
  Serve(500ms);
  EXPECT_EQ(sim().Commands().size(), written);  // nothing more is written
  EXPECT_LT(written, 40u);
  EXPECT_TRUE(errors_.empty()) << errors_.front();
}

TEST_F(HostileE2e, ACloseDuringASendEndsItAfterThePartBeingWritten) {
  StartSim("empty");
  TForm1& form = StartForm({100, 2000});
  form.show();
  std::string text(6 * 70, 'x');
  form.Edit1->setText(QStringLiteral("79161234567"));
  form.Memo3->setPlainText(platform::ToQString(text));
  // Inside the pause after the first part.
  QTimer::singleShot(800, &form, [&] { form.close(); });
  const auto start = std::chrono::steady_clock::now();
  form.Button1Click(nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  ASSERT_TRUE(ServeUntil([&] { return !form.isVisible(); }, 5s));
  Settle();
  EXPECT_EQ(sim().Sms().size(), 1u);
  EXPECT_EQ(sim().Commands(),
            (std::vector<std::string>{"AT+CMGF=0",
                                      "AT+CMGS=" + std::to_string(TpduLength(BuildSubmitPdu(
                                                       "79161234567", text.substr(0, 70))))}));
  EXPECT_TRUE(errors_.empty()) << errors_.front();
}

}  // namespace
}  // namespace vestrel
