// vestrel-sms read ended from outside in the middle of its first pass: no
// message the modem has deleted is found nowhere.
#include <set>

#include "tests/cli/cli_fixture.h"

namespace vestrel::test {
namespace {

// The archive in a folder of the test's own for as long as it lives.
class DataHome {
 public:
  DataHome() {
    if (const char* previous = std::getenv("XDG_DATA_HOME")) previous_ = previous;
    ::setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
  }
  ~DataHome() {
    if (previous_)
      ::setenv("XDG_DATA_HOME", previous_->c_str(), 1);
    else
      ::unsetenv("XDG_DATA_HOME");
  }

 private:
  test::TempDir dir_;
  std::optional<std::string> previous_;
};

const std::vector<std::string> kDemoNumbers = {"+79161234567", "+79031112233", "+447700900123"};

class CliReadingSafety : public CliE2e {
 protected:
  std::set<std::string> StillStored() {
    std::set<std::string> numbers;
    for (const auto& m : sim().StoredMessages("ME")) numbers.insert(m.value("number", ""));
    return numbers;
  }
  bool SeenCommand(const std::string& line) {
    return sim().WaitFor(
        [&](const test::Records& records) {
          for (const auto& r : records)
            if (r["type"] == "command" && r["line"] == line) return true;
          return false;
        },
        10s);
  }
};

// Killed, terminated or hung up on right after the delete of the first
// message went out: whatever the modem no longer stores is in the archive;
// a signal it can handle ends the reading as Ctrl-C does, with no delete
// after the command in flight.
TEST_F(CliReadingSafety, EndedFromOutsideAfterADeleteLosesNothing) {
  const struct {
    int signal;
    int exit_code;  // -1: killed
  } rows[] = {{SIGKILL, -1}, {SIGTERM, 143}, {SIGHUP, 129}};
  for (const auto& row : rows) {
    SCOPED_TRACE(strsignal(row.signal));
    const DataHome data;
    sim_.reset();
    StartSim("demo");
    auto child = StartCli({"read"}, {}, "400,300");
    ASSERT_TRUE(SeenCommand("AT+CMGD=1"));
    ::kill(child->pid(), row.signal);
    const Finished f = child->Wait();
    EXPECT_EQ(f.exit_code, row.exit_code) << f.err;

    const auto commands = sim().Commands();
    const auto deleted = std::find(commands.begin(), commands.end(), "AT+CMGD=1");
    ASSERT_NE(deleted, commands.end());
    for (auto later = deleted + 1; later != commands.end(); ++later) {
      EXPECT_TRUE(row.signal == SIGKILL || !later->starts_with("AT+CMGD")) << *later;
    }

    const std::set<std::string> stored = StillStored();
    EXPECT_LT(stored.size(), kDemoNumbers.size());
    const Finished kept = Child(TestingProgram(), {"archive", "--json"}).Wait();
    const Finished raw = Child(TestingProgram(), {"archive", "--raw"}).Wait();
    EXPECT_EQ(kept.exit_code, 0) << kept.err;
    for (const std::string& number : kDemoNumbers) {
      if (stored.contains(number)) continue;
      // Kept as a message and in the bytes of the reading.
      EXPECT_NE(kept.out.find("\"number\":\"" + number + "\""), std::string::npos) << number;
      EXPECT_NE(raw.out.find(number), std::string::npos) << number;
    }
  }
}

// Nowhere to print to and no archive: nothing may be deleted.
TEST_F(CliReadingSafety, ClosedOutputWithoutArchiveDeletesNothing) {
  const DataHome data;
  StartSim("demo");
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Standard output closed, as ">&-" leaves it: nothing open on fd 1.
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 2);
    ::close(null);
    ::close(1);
    const std::string program = TestingProgram().string();
    const std::string port = "--port=" + sim().link();
    ::execl(program.c_str(), program.c_str(), "read", "--no-archive", port.c_str(),
            "--testing-durations=100,300", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 4);
  EXPECT_EQ(StillStored().size(), kDemoNumbers.size());
  for (const auto& command : sim().Commands()) EXPECT_NE(command, "AT+CMGD=1");
}

}  // namespace
}  // namespace vestrel::test
