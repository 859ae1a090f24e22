// vestrel-sms as a child process against the modem simulator on a pty.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/golden.h"
#include "tests/support/modem_sim.h"

namespace vestrel::test {

using namespace std::chrono_literals;

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Finished {
  int exit_code = -1;  // -1: killed by a signal
  std::string out;
  std::string err;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

// One run of the program: standard input from a file, standard output and
// standard error into files, so that nothing blocks on a pipe. The user's own
// settings of whoever runs the tests stay out: no VESTREL_PORT, and a
// configuration folder of the run's own, unless env sets them.
class Child {
 public:
  // error_device: a terminal to take standard error instead of a file.
  // run_as: a user id to run under instead of this process's (needs root).
  Child(const std::filesystem::path& program, const std::vector<std::string>& args,
        const std::string& input = {}, const std::string& error_device = {},
        std::optional<uid_t> run_as = std::nullopt, const Environment& env = {}) {
    in_ = dir_.path() / "in";
    out_ = dir_.path() / "out";
    err_ = dir_.path() / "err";
    std::ofstream(in_, std::ios::binary) << input;
    std::vector<std::string> argv_strings = {program.string()};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_strings) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The environment is made before the fork: the child only calls exec.
    Environment wanted = env;
    if (std::none_of(env.begin(), env.end(),
                     [](const auto& e) { return e.first == "XDG_CONFIG_HOME"; }))
      wanted.push_back({"XDG_CONFIG_HOME", (dir_.path() / "config").string()});
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('='));
      const bool replaced =
          name == "VESTREL_PORT" ||
          std::any_of(wanted.begin(), wanted.end(), [&](const auto& w) { return w.first == name; });
      if (!replaced) env_strings.push_back(entry);
    }
    for (const auto& [name, value] : wanted) env_strings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : env_strings) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      const int in = ::open(in_.c_str(), O_RDONLY);
      const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = error_device.empty()
                          ? ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)
                          : ::open(error_device.c_str(), O_WRONLY | O_NOCTTY);
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::dup2(err, 2);
      if (run_as &&
          (::setgroups(0, nullptr) != 0 || ::setgid(*run_as) != 0 || ::setuid(*run_as) != 0))
        ::_exit(126);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
  }
  ~Child() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  pid_t pid() const { return pid_; }
  void Interrupt() { ::kill(pid_, SIGINT); }

  Finished Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    Finished f;
    f.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    f.out = ReadFile(out_);
    f.err = ReadFile(err_);
    return f;
  }

 private:
  test::TempDir dir_;
  std::filesystem::path in_, out_, err_;
  pid_t pid_ = -1;
};

inline std::filesystem::path TestingProgram() {
  return test::BinDir() / "vestrel-sms-testing";
}
inline std::filesystem::path InstalledProgram() {
  return test::BinDir() / "vestrel-sms";
}

// The window's modem-log line of a message, in UTF-8.
inline std::string Message(const std::string& number, const std::string& time,
                           const std::string& text) {
  return "№ тел: " + number + " Дата и время отправки: " + time + " Текст: " + text;
}

class CliE2e : public test::ModemSimTest {
 protected:
  // Runs the testing build with short waits against the simulator.
  Finished RunCli(std::vector<std::string> args, const std::string& input = {},
                  const std::string& durations = "100,300") {
    args.push_back("--port=" + sim().link());
    args.push_back("--testing-durations=" + durations);
    return Child(TestingProgram(), args, input).Wait();
  }
  // The testing build with standard error on a terminal; returns what the
  // terminal showed.
  Finished RunCliOnTerminal(std::vector<std::string> args, const std::string& input = {}) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    EXPECT_EQ(::grantpt(master), 0);
    EXPECT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    args.push_back("--port=" + sim().link());
    args.push_back("--testing-durations=100,1200");
    Finished f = Child(TestingProgram(), args, input, slave).Wait();
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) f.err.append(buffer, n);
    ::close(master);
    return f;
  }
  std::unique_ptr<Child> StartCli(std::vector<std::string> args, const std::string& input = {},
                                  const std::string& durations = "100,300") {
    args.push_back("--port=" + sim().link());
    args.push_back("--testing-durations=" + durations);
    return std::make_unique<Child>(TestingProgram(), args, input);
  }
  test::TempDir temp_;
};

}  // namespace vestrel::test
