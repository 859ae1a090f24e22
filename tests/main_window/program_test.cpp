// The built program itself, started as an operator would: from another current
// directory, with no Pelmora.ini beside it.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "shell_test_support.h"

namespace vestrel {
namespace {

using test::ReadFile;
using test::TempDir;

// The program, started in cwd; killed at the end (it waits in its message box).
class RunningProgram {
 public:
  RunningProgram(const std::filesystem::path& program, const std::filesystem::path& cwd,
                 std::vector<std::string> args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    args.insert(args.begin(), program.string());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~RunningProgram() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  bool started() const { return pid_ > 0; }
  bool running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

 private:
  pid_t pid_ = -1;
};

bool WaitForFile(const std::filesystem::path& file, const RunningProgram& program) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < until && program.running()) {
    if (std::filesystem::exists(file)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::filesystem::exists(file);
}

TEST(Program, CreatesPelmoraIniBesideItselfNotInTheCurrentDirectory) {
  const char* bin_dir = std::getenv("VESTREL_BIN_DIR");
  ASSERT_NE(bin_dir, nullptr) << "run through CTest";
  const std::filesystem::path built = std::filesystem::path(bin_dir) / "Vestrel";
  ASSERT_TRUE(std::filesystem::exists(built));

  TempDir install, elsewhere;
  const auto program = install / "Vestrel";
  std::filesystem::copy_file(built, program);
  // Arguments are ignored, Qt's own options included.
  RunningProgram running(program, elsewhere.path(), {"-platform", "no-such-platform", "x.ini"});
  ASSERT_TRUE(running.started());
  ASSERT_TRUE(WaitForFile(install / "Pelmora.ini", running));
  // Give a half-written file no chance: the content is written in one piece.
  EXPECT_EQ(ReadFile(install / "Pelmora.ini"), "[MODEM]\r\nCOM \xCF\xEE\xF0\xF2=COM11\r\n");
  EXPECT_FALSE(std::filesystem::exists(elsewhere / "Pelmora.ini"));
  EXPECT_FALSE(std::filesystem::exists(elsewhere / "x.ini"));
  // COM11 is missing here, so the program now waits in its error box.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(running.running()) << "the program ended instead of reporting and going on";
}

}  // namespace
}  // namespace vestrel
