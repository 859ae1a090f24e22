// What the real window reads and sends ends up in the message archive, exactly
// as shown and as written, and survives the program being killed.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "archive/archive.h"
#include "main_window/archive_window.h"
#include "tests/e2e/e2e_fixture.h"

namespace vestrel {
namespace {

using namespace e2e;
using test::W;
using namespace std::chrono_literals;

std::vector<archive::ReceivedRow> Received(const std::filesystem::path& file) {
  archive::Archive a(file);
  std::vector<archive::ReceivedRow> rows;
  EXPECT_TRUE(a.ListReceived({}, rows).ok());
  return rows;
}

class ArchiveE2e : public MessagingE2e {
 protected:
  std::filesystem::path File() const { return folder_.path() / "archive.sqlite"; }
  TForm1& StartArchivingForm(MessagingDurations durations) {
    archive_file_ = File();
    return StartForm(durations);
  }
};

TEST_F(ArchiveE2e, AReadingKeepsEveryShownMessageOnceAndItsBytes) {
  StartSim("demo");
  TForm1& form = StartArchivingForm({100, 300});
  form.Button4Click(nullptr);
  ASSERT_TRUE(ServeUntil([&] { return Inbox().SmsShown >= 3; }));
  Settle();
  EXPECT_TRUE(errors_.empty()) << errors_.front();
  auto rows = Received(File());
  ASSERT_EQ(rows.size(), 3u);
  // Newest first; numbers, times and texts exactly as the pane shows them.
  EXPECT_EQ(rows[2].number, "+79161234567");
  EXPECT_EQ(rows[2].send_time, "26/12/08,10:15:00");
  EXPECT_EQ(rows[2].text, "Привет! Встреча завтра в 10:00.");
  EXPECT_EQ(rows[2].storage_index, 1);
  EXPECT_EQ(rows[2].port, sim().link());
  EXPECT_EQ(rows[1].text, "Hello from the office");
  EXPECT_EQ(rows[0].number, "+447700900123");
  EXPECT_EQ(rows[0].raw_header.rfind("+CMGR: ", 0), 0u);
  // Every byte the modem sent during the reading is kept.
  archive::Archive a(File());
  std::vector<archive::RawRow> raw;
  ASSERT_TRUE(a.ListRawBytes({}, raw).ok());
  std::string kept;
  for (auto it = raw.rbegin(); it != raw.rend(); ++it) kept += it->bytes;
  EXPECT_EQ(kept, sim().Sent());

  // The same messages read again add nothing.
  form_.reset();
  sim_.reset();
  counts_.clear();
  StartSim("demo");
  TForm1& again = StartArchivingForm({100, 300});
  again.Button4Click(nullptr);
  ASSERT_TRUE(ServeUntil([&] { return Inbox().SmsShown >= 3; }));
  Settle();
  EXPECT_EQ(Received(File()).size(), 3u);
}

// The archive window open meanwhile lists a reading and a send as they end,
// without the operator asking.
TEST_F(ArchiveE2e, AReadingAndASendShowInTheOpenArchiveWindow) {
  StartSim("demo");
  TForm1& form = StartArchivingForm({100, 300});
  form.N5Click(nullptr);
  ArchiveWindow& window = *form.ArchiveWindow1;
  ASSERT_TRUE(window.isVisible());
  EXPECT_EQ(window.ReceivedModel()->rowCount(), 0);
  form.Button4Click(nullptr);
  ASSERT_TRUE(ServeUntil([&] { return Inbox().SmsShown >= 3; }));
  Settle();
  EXPECT_EQ(window.ReceivedModel()->rowCount(), 3);
  EXPECT_GT(window.RawModel()->rowCount(), 0);

  form.Edit1->setText(QStringLiteral("79161234567"));
  form.Memo3->setPlainText(QStringLiteral("hello"));
  form.Button1Click(nullptr);
  ASSERT_TRUE(sim().WaitForCount("sms", 1));
  Settle();
  ASSERT_EQ(window.SentModel()->rowCount(), 1);
  EXPECT_EQ(window.SentModel()->Fields(0)[4], "hello");
}

TEST_F(ArchiveE2e, ASendKeepsItsPartsAsWritten) {
  StartSim("empty");
  TForm1& form = StartArchivingForm({100, 300});
  std::string text(100, 'x');
  for (int i = 0; i < 100; ++i) text[i] = static_cast<char>(0xC0 + i % 32);
  form.Edit1->setText(QStringLiteral("79161234567"));
  form.Memo3->setPlainText(platform::ToQString(text));
  form.Button1Click(nullptr);
  ASSERT_TRUE(sim().WaitForCount("sms", 2));
  Settle();
  archive::Archive a(File());
  std::vector<archive::SentRow> sent;
  ASSERT_TRUE(a.ListSent({}, sent).ok());
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].number, "79161234567");
  EXPECT_EQ(sent[0].part_count, 2);
  EXPECT_EQ(sent[0].text, platform::Cp1251ToUtf8(text));
  EXPECT_EQ(sent[0].status, "accepted");
  std::vector<archive::PartRow> parts;
  ASSERT_TRUE(a.ListParts(sent[0].id, parts).ok());
  ASSERT_EQ(parts.size(), 2u);
  const auto sms = sim().Sms();
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(parts[i].part_number, static_cast<int>(i + 1));
    EXPECT_EQ(parts[i].pdu, sms[i]["pdu"].get<std::string>());
    EXPECT_EQ(parts[i].status, "accepted");
    EXPECT_EQ(parts[i].reference, sms[i]["reference"].get<int>());
    EXPECT_EQ(parts[i].text, platform::Cp1251ToUtf8(text.substr(70 * i, 70)));
  }
  std::vector<archive::AnswerRow> answers;
  ASSERT_TRUE(a.ListAnswers(sent[0].id, answers).ok());
  ASSERT_FALSE(answers.empty());
  EXPECT_EQ(answers[0].line.rfind("+CMGS: ", 0), 0u);
}

TEST_F(ArchiveE2e, AnArchiveThatFailsIsToldOnceAndTheDialogueIsUnchanged) {
  // A garbage file is moved aside and a new one started; a folder that cannot
  // be made, and a read-only file (as another user), each give one message.
  StartSim("demo");
  { std::ofstream(File(), std::ios::binary) << std::string(4096, 'g'); }
  TForm1& form = StartArchivingForm({100, 300});
  form.Button4Click(nullptr);
  ASSERT_TRUE(ServeUntil([&] { return Inbox().SmsShown >= 3; }));
  Settle();
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_EQ(errors_[0].rfind(W("Архив СМС недоступен: "), 0), 0u) << errors_[0];
  EXPECT_EQ(sim().Commands(), ReadCommands(3));
  EXPECT_EQ(Received(File()).size(), 3u);
  bool kept_aside = false;
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path()))
    kept_aside |= entry.path().filename().string().rfind("archive.sqlite.corrupt-", 0) == 0;
  EXPECT_TRUE(kept_aside);

  // A file under a folder that is a plain file cannot be made.
  form_.reset();
  sim_.reset();
  counts_.clear();
  errors_.clear();
  std::ofstream(folder_.path() / "blocked") << "x";
  StartSim("demo");
  archive_file_ = folder_.path() / "blocked" / "archive.sqlite";
  TForm1& blocked = StartForm({100, 300});
  blocked.Button4Click(nullptr);
  // Nothing can be kept: the reading stops before the first delete, and the
  // messages stay on the phone.
  ASSERT_TRUE(ServeUntil([&] { return errors_.size() >= 2; }));
  Settle();
  ASSERT_EQ(errors_.size(), 2u);
  EXPECT_EQ(errors_[0],
            W("Ответ на чтение СМС №0 не сохранён: чтение остановлено, СМС оставлены в телефоне"));
  EXPECT_EQ(errors_[1].rfind(W("Архив СМС недоступен: "), 0), 0u);
  const auto commands = ReadCommands(3);
  EXPECT_EQ(sim().Commands(), std::vector<std::string>(commands.begin(), commands.begin() + 3));
  EXPECT_EQ(sim().StoredMessages("ME").size(), 3u);
}

TEST_F(ArchiveE2e, AMessageShownIsKeptThroughAKill) {
  StartSim("demo");
  {
    std::ofstream ini(folder_.path() / station::kIniFileName, std::ios::binary);
    ini << "[MODEM]\r\n"
        << station::KeyName(station::IniKey::kPort) << "=" << sim().link() << "\r\n";
  }
  const std::string child = (test::BinDir() / "archive_reader_child").string();
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::vector<std::string> args = {child, folder_.path().string(), File().string()};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, child.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  char said[8] = {};
  const ssize_t got = ::read(out[0], said, 6);
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(out[0]);
  ASSERT_EQ(got, 6);
  EXPECT_EQ(std::string(said, 6), "shown\n");
  // Read back by SQLite's own command-line tool, as an operator would.
  const std::string query = "sqlite3 '" + File().string() + "' 'SELECT number FROM received;'";
  FILE* p = ::popen(query.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[256] = {};
  std::string numbers;
  while (std::fgets(line, sizeof line, p)) numbers += line;
  EXPECT_EQ(::pclose(p), 0);
  EXPECT_NE(numbers.find("+79161234567"), std::string::npos) << numbers;
}

}  // namespace
}  // namespace vestrel
