// vestrel-sms watch as a child process: against a modem the test scripts on
// a pty (announcements when the test wants them) and against the simulator.

#include <poll.h>
#include <stdlib.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <mutex>

#include "cli/exec_runner.h"
#include "cli/options.h"
#include "cli/send_socket.h"
#include "cli/watch.h"
#include "cli/watch_record.h"
#include "tests/cli/cli_fixture.h"

namespace vestrel::test {
namespace {

namespace fs = std::filesystem;

// A modem on a pty that answers the reading from its own memory and
// announces a stored message when the test says so.
class ScriptedModem {
 public:
  explicit ScriptedModem(const fs::path& link) : link_(link) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master_);
    ::unlockpt(master_);
    fs::create_symlink(::ptsname(master_), link_);
    if (::pipe(stop_) != 0) ADD_FAILURE() << "pipe";
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedModem() {
    [[maybe_unused]] const ssize_t n = ::write(stop_[1], "q", 1);
    thread_.join();
    ::close(master_);
    ::close(stop_[0]);
    ::close(stop_[1]);
  }
  void Store(int index, const std::string& text) {
    std::lock_guard lock(mutex_);
    memory_[index] = text;
  }
  void Announce(int index) { Write("\r\n+CMTI: \"ME\"," + std::to_string(index) + "\r\n"); }
  std::vector<std::string> Commands() {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  bool Holds(int index) {
    std::lock_guard lock(mutex_);
    return memory_.count(index) != 0;
  }

 private:
  void Write(const std::string& bytes) {
    [[maybe_unused]] const ssize_t n = ::write(master_, bytes.data(), bytes.size());
  }
  std::string Answer(const std::string& command) {
    std::lock_guard lock(mutex_);
    commands_.push_back(command);
    if (command.rfind("AT+CPMS", 0) == 0) {
      const std::string n = std::to_string(memory_.size());
      return "\r\n+CPMS: " + n + ",50," + n + ",50," + n + ",50\r\n\r\nOK\r\n";
    }
    if (command.rfind("AT+CMGR=", 0) == 0) {
      const auto found = memory_.find(std::stoi(command.substr(8)));
      if (found == memory_.end()) return "\r\n+CMS ERROR: 321\r\n";
      return "\r\n+CMGR: \"REC UNREAD\",\"+79161234567\",,\"26/12/08,10:15:00+12\"\r\n" +
             found->second + "\r\n\r\nOK\r\n";
    }
    if (command.rfind("AT+CMGD=", 0) == 0) memory_.erase(std::stoi(command.substr(8)));
    return "\r\nOK\r\n";
  }
  void Run() {
    std::string line;
    for (;;) {
      pollfd p[2] = {{master_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      ::poll(p, 2, -1);
      if (p[1].revents) return;
      char buffer[256];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) {  // no client on the slave yet
        std::this_thread::sleep_for(20ms);
        continue;
      }
      for (ssize_t i = 0; i < n; ++i) {
        if (buffer[i] != '\r') {
          line += buffer[i];
          continue;
        }
        Write(line + "\r" + Answer(line));
        line.clear();
      }
    }
  }

  fs::path link_;
  int master_ = -1;
  int stop_[2] = {-1, -1};
  std::mutex mutex_;
  std::map<int, std::string> memory_;
  std::vector<std::string> commands_;
  std::thread thread_;
};

bool Eventually(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return pred();
}

class CliWatch : public ::testing::Test {
 protected:
  Environment Env() const {
    return {{"XDG_DATA_HOME", (temp_.path() / "data").string()},
            {"XDG_RUNTIME_DIR", runtime_.path().string()}};
  }
  std::unique_ptr<Child> StartWatch(const fs::path& port, std::vector<std::string> args) {
    args.insert(args.begin(), "watch");
    args.push_back("--port=" + port.string());
    args.push_back("--testing-durations=100,300");
    return std::make_unique<Child>(TestingProgram(), args, "", "", std::nullopt, Env());
  }
  Finished Stop(Child& watch) {
    ::kill(watch.pid(), SIGTERM);
    return watch.Wait();
  }
  fs::path Exec() const { return temp_.path() / "exec.log"; }
  // Writes what the command got: its variables, then its input.
  std::string ExecCommand() const {
    return "sh -c 'echo \"$VESTREL_NUMBER|$VESTREL_TEXT|$VESTREL_SENT_AT|$VESTREL_PORT\" >> " +
           Exec().string() + "; cat >> " + Exec().string() + "; echo failing >&2; exit 3'";
  }

  test::TempDir temp_;
  test::TempDir runtime_;
};

// Announced by +CMTI: printed, kept in the archive and handed to the command
// within seconds; SIGTERM then ends the watch with 0.
TEST_F(CliWatch, AnnouncedMessageIsPrintedKeptAndHandedOn) {
  const fs::path port = temp_.path() / "modem";
  ScriptedModem modem(port);
  auto watch = StartWatch(port, {"--interval=0", "--exec", ExecCommand()});
  ASSERT_TRUE(Eventually([&] { return modem.Commands().size() >= 2; }, 5s));
  std::this_thread::sleep_for(300ms);
  modem.Store(1, "Code 4711");
  modem.Announce(1);
  ASSERT_TRUE(Eventually([&] { return ReadFile(Exec()).find("4711\"") != std::string::npos; }, 8s))
      << ReadFile(Exec());
  EXPECT_FALSE(modem.Holds(1));
  const Finished f = Stop(*watch);
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(f.out, Message("+79161234567", "26/12/08,10:15:00", "Code 4711") + "\n");
  EXPECT_NE(f.err.find("exec: message from +79161234567: exit status 3"), std::string::npos);
  EXPECT_NE(f.err.find("exec stderr: failing"), std::string::npos) << f.err;
  const auto lines = Lines(ReadFile(Exec()));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "+79161234567|Code 4711|2026-12-08T10:15:00+03:00|" + port.string());
  const auto json = nlohmann::json::parse(lines[1]);
  EXPECT_EQ(json["text"], "Code 4711");
  const Finished kept =
      Child(TestingProgram(), {"archive", "--json"}, "", "", std::nullopt, Env()).Wait();
  EXPECT_NE(kept.out.find("Code 4711"), std::string::npos) << kept.err;
}

// Without an announcement the next interval reads it; a command that hangs
// is ended at its time limit and holds nothing up.
TEST_F(CliWatch, IntervalReadsWithoutAnnouncement) {
  const fs::path port = temp_.path() / "modem";
  ScriptedModem modem(port);
  auto watch = StartWatch(port, {"--interval=2", "--exec=sleep 100", "--exec-timeout=1", "--json"});
  ASSERT_TRUE(Eventually([&] { return modem.Commands().size() >= 2; }, 5s));
  modem.Store(1, "first");
  ASSERT_TRUE(Eventually([&] { return !modem.Holds(1); }, 6s));
  modem.Store(1, "second");
  ASSERT_TRUE(Eventually([&] { return !modem.Holds(1); }, 6s));
  const Finished f = Stop(*watch);
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(Lines(f.out).size(), 2u) << f.out;
  EXPECT_NE(f.err.find("exec: message from +79161234567: did not end in time: killed"),
            std::string::npos)
      << f.err;
}

// send while a watcher holds the port goes out through it; a modem that hangs
// up and comes back on a new pty under the same name 5 s later is read again.
TEST_F(CliWatch, SendsThroughTheWatcherAndReopensAModemThatCameBack) {
  const fs::path port = temp_.path() / "modem";
  auto first = std::make_unique<test::ModemSim>(test::ScenarioPath("empty"));
  fs::create_symlink(first->link(), port);
  auto watch = StartWatch(port, {"--interval=0"});
  ASSERT_TRUE(first->WaitFor([](const test::Records& r) { return r.size() > 2; }, 5s));
  std::this_thread::sleep_for(500ms);
  Finished sent =
      Child(TestingProgram(), {"send", "79161234567", "Привет", "--port=" + port.string()}, "", "",
            std::nullopt, Env())
          .Wait();
  EXPECT_EQ(sent.exit_code, 0) << sent.err;
  EXPECT_EQ(sent.out, "sent 1 part: reference 1\n");
  ASSERT_EQ(first->Sms().size(), 1u);
  EXPECT_EQ(first->Sms()[0]["text"], "Привет");

  first->Stop();
  std::this_thread::sleep_for(5s);
  test::ModemSim second(test::ScenarioPath("demo"));
  fs::remove(port);
  fs::create_symlink(second.link(), port);
  EXPECT_TRUE(
      second.WaitFor([&](const test::Records&) { return second.StoredMessages().empty(); }, 20s));
  const Finished f = Stop(*watch);
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(Lines(f.out).size(), 3u) << f.out;
  EXPECT_NE(f.err.find("is open again"), std::string::npos) << f.err;
}

// SIGHUP reopens the --log file after a rotation and the watch goes on.
TEST_F(CliWatch, HangupSignalReopensTheLog) {
  const fs::path port = temp_.path() / "modem";
  const fs::path log = temp_.path() / "watch.log";
  ScriptedModem modem(port);
  auto watch = StartWatch(port, {"--interval=0", "--log=" + log.string()});
  ASSERT_TRUE(Eventually([&] { return modem.Commands().size() >= 2; }, 5s));
  fs::rename(log, temp_.path() / "watch.log.1");
  ::kill(watch->pid(), SIGHUP);
  ASSERT_TRUE(Eventually([&] { return fs::exists(log); }, 5s));
  modem.Store(1, "after the rotation");
  modem.Announce(1);
  ASSERT_TRUE(Eventually([&] { return !modem.Holds(1); }, 5s));
  const Finished f = Stop(*watch);
  EXPECT_EQ(f.exit_code, 0) << f.err;
  const std::string rotated = ReadFile(temp_.path() / "watch.log.1");
  const std::string fresh = ReadFile(log);
  EXPECT_NE(rotated.find("AT+CPMS"), std::string::npos);
  EXPECT_NE(fresh.find("the log file was reopened"), std::string::npos) << fresh;
  EXPECT_NE(fresh.find("after the rotation"), std::string::npos) << fresh;
  EXPECT_EQ(fs::status(log).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

// send --report asks for a status report (TP-SRR); the report the modem
// routes later marks the send delivered in the archive.
TEST_F(CliWatch, StatusReportMarksTheSendDelivered) {
  auto sim = test::ModemSim::FromJson(
      {{"storages", {{{"name", "ME"}, {"capacity", 50}}}},
       {"faults",
        {{"unsolicited",
          {{{"before", "AT+CPMS*"},
            {"line", R"(+CDS: 6,1,"+79161234567",145,"26/12/10,14:03:05+12",)"
                     R"("26/12/10,14:03:09+12",0)"},
            {"times", 10}}}}}}});
  auto watch = StartWatch(sim->link(), {"--interval=3"});
  ASSERT_TRUE(sim->WaitFor([](const test::Records& r) { return r.size() > 2; }, 5s));
  const Finished sent =
      Child(TestingProgram(), {"send", "79161234567", "x", "--report", "--port=" + sim->link()}, "",
            "", std::nullopt, Env())
          .Wait();
  EXPECT_EQ(sent.exit_code, 0) << sent.err;
  ASSERT_EQ(sim->Sms().size(), 1u);
  const std::string pdu = sim->Sms()[0]["pdu"];
  EXPECT_EQ(std::stoi(pdu.substr(pdu.size() % 2 == 0 && pdu.rfind("00", 0) == 0 ? 2 : 0, 2),
                      nullptr, 16) &
                0x20,
            0x20)
      << pdu;
  // The next reading meets the report.
  EXPECT_TRUE(Eventually(
      [&] {
        const Finished listed =
            Child(TestingProgram(), {"archive", "--sent", "--json"}, "", "", std::nullopt, Env())
                .Wait();
        return listed.out.find(R"("delivery":"delivered")") != std::string::npos;
      },
      10s));
  const Finished f = Stop(*watch);
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_NE(f.err.find("status report: reference 1 to +79161234567: delivered"), std::string::npos)
      << f.err;
}

TEST(CliWatchParts, CommandWordsAnnouncementsAndBackOff) {
  const struct {
    std::string command;
    std::vector<std::string> words;
  } commands[] = {
      {"/bin/on-sms", {"/bin/on-sms"}},
      {"  mail  -s 'SMS  in' root ", {"mail", "-s", "SMS  in", "root"}},
      {R"(sh -c "echo \"$X\" \\ done")", {"sh", "-c", R"(echo "$X" \ done)"}},
      {R"(a\ b c'd'"e")", {"a b", "cde"}},
  };
  for (const auto& c : commands) EXPECT_EQ(cli::SplitCommand(c.command), c.words) << c.command;
  for (const char* bad : {"", "   ", "echo 'open", "echo \"open"})
    EXPECT_THROW(cli::SplitCommand(bad), cli::UsageError) << bad;

  const struct {
    std::string line;
    bool announces;
  } lines[] = {{"+CMTI: \"ME\",3\r", true},
               {"+CDSI: \"SM\",1", true},
               {"+CMTI:", false},
               {"OK\r", false},
               {" +CMTI: \"ME\",3", false}};
  for (const auto& l : lines) EXPECT_EQ(cli::AnnouncesMessage(l.line), l.announces) << l.line;

  const int delays[] = {1, 2, 4, 8, 16, 30, 30};
  for (int attempt = 0; attempt < 7; ++attempt)
    EXPECT_EQ(cli::ReopenDelay(attempt).count(), delays[attempt]);
}

TEST(CliWatchParts, SocketMessagesRoundTripAndRefuseGarbage) {
  const cli::SendRequest request{"+7 916 123", "текст,\n:5", true, false};
  const auto back = cli::DecodeRequest(cli::EncodeRequest(request));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->number, request.number);
  EXPECT_EQ(back->text, request.text);
  EXPECT_TRUE(back->json);
  EXPECT_FALSE(back->separate);
  const auto reply = cli::DecodeReply(cli::EncodeReply({8, "out\n", "err\n"}));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->exit_code, 8);
  EXPECT_EQ(reply->err, "err\n");
  for (const char* bad : {"", "4:send,1:1,0:,", "4:send,1:1,0:,1:x,", "9:send,1:1,0:,0:,",
                          "4:sent,1:1,0:,0:,", "4:send,1:1,0:,0:,junk"})
    EXPECT_FALSE(cli::DecodeRequest(bad)) << bad;
  for (const char* bad : {"3:256,0:,0:,", "2:-1,0:,0:,", "1:0,0:,"})
    EXPECT_FALSE(cli::DecodeReply(bad)) << bad;
  EXPECT_NE(cli::SocketFileName("/dev/ttyUSB0"), cli::SocketFileName("/dev/ttyUSB1"));
}

}  // namespace
}  // namespace vestrel::test
