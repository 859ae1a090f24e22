// The window's port actions on a real pseudo-terminal: opening at start-up,
// PortOpen, PortClose, SendATinCOM, and the port's end with the window.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <chrono>
#include <thread>

#include "comport/b_com_port.h"
#include "main_window/main_form.h"
#include "platform/cp1251.h"
#include "shell_test_support.h"

namespace vestrel {
namespace {

using test::RecordedErrors;
using test::TempDir;
using test::WriteFile;

// The master side of a pseudo-terminal, raw, whose slave the program opens.
class Pty {
 public:
  Pty() {
    int slave = -1;
    if (::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0)
      throw std::runtime_error("openpty");
    termios raw{};
    ::tcgetattr(master_, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master_, TCSANOW, &raw);
    slave_path_ = ::ttyname(slave);
    ::close(slave);
  }
  ~Pty() { ::close(master_); }
  const std::string& slave_path() const { return slave_path_; }

  // Everything the program wrote until the line has been quiet for quiet_ms.
  std::string ReadUntilQuiet(int first_ms, int quiet_ms) {
    std::string got;
    int wait = first_ms;
    for (;;) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN)) return got;
      char buf[256];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) return got;
      got.append(buf, static_cast<std::size_t>(n));
      wait = quiet_ms;
    }
  }

 private:
  int master_ = -1;
  std::string slave_path_;
};

int ThreadCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// A joined thread can linger in /proc for a moment; wait for the count, bounded.
bool ThreadCountBecomes(int expected) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ThreadCount() != expected) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Whether another program could take the device now (the port holds an
// exclusive lock while open).
bool DeviceIsFree(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

std::string IniWithPort(const std::string& port) {
  return "[MODEM]\r\n" + platform::Cp1251FromUtf8("COM Порт") + "=" + port + "\r\n";
}

class PortActionsTest : public ::testing::Test {
 protected:
  std::unique_ptr<TForm1> MakeForm(const std::string& port) {
    WriteFile(dir / "Pelmora.ini", IniWithPort(port));
    TForm1::Options options;
    options.folder = dir.path();
    return std::make_unique<TForm1>(options);
  }

  TempDir dir;
  Pty pty;
  RecordedErrors errors;
};

TEST_F(PortActionsTest, StartUpOpensTheConfiguredPortSilently) {
  auto form = MakeForm(pty.slave_path());
  EXPECT_TRUE(form->BComPort1->Connected());
  EXPECT_TRUE(errors.entries().empty());
  EXPECT_FALSE(DeviceIsFree(pty.slave_path()));
  // Opening writes nothing to the modem.
  EXPECT_EQ(pty.ReadUntilQuiet(100, 50), "");
}

TEST_F(PortActionsTest, PortOpenTwiceAndPortCloseOnAClosedPortDoNothing) {
  auto form = MakeForm(pty.slave_path());
  ASSERT_TRUE(form->BComPort1->Connected());
  const int threads_open = ThreadCount();
  form->Button2->click();
  EXPECT_TRUE(form->BComPort1->Connected());
  EXPECT_EQ(ThreadCount(), threads_open) << "a second event thread was started";

  form->Button3->click();
  EXPECT_FALSE(form->BComPort1->Connected());
  EXPECT_TRUE(ThreadCountBecomes(threads_open - 1));
  EXPECT_TRUE(DeviceIsFree(pty.slave_path()));
  form->Button3->click();
  EXPECT_FALSE(form->BComPort1->Connected());
  EXPECT_TRUE(errors.entries().empty());

  // And PortOpen brings it back.
  form->Button2->click();
  EXPECT_TRUE(form->BComPort1->Connected());
  EXPECT_TRUE(errors.entries().empty());
  // Neither button writes a log line.
  EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());
  EXPECT_TRUE(form->Memo2->toPlainText().isEmpty());
}

TEST_F(PortActionsTest, SendATinCOMWritesExactlyOneCarriageReturn) {
  auto form = MakeForm(pty.slave_path());
  ASSERT_TRUE(form->BComPort1->Connected());
  form->Button6->click();
  EXPECT_EQ(pty.ReadUntilQuiet(2000, 300), "\r");
  EXPECT_TRUE(errors.entries().empty());
  EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());  // not echoed to the command log

  // After PortClose the write fails and says so.
  form->Button3->click();
  form->Button6->click();
  EXPECT_EQ(errors.messages(), std::vector<std::string>{comport_messages::WriteError()});
  EXPECT_EQ(pty.ReadUntilQuiet(100, 50), "");
}

TEST_F(PortActionsTest, MissingPortGivesOneBoxBeforeTheWindowAndPortOpenRetries) {
  const auto link = dir / "modem";  // appears later, like a USB modem plugged in
  auto form = MakeForm(link.string());
  ASSERT_EQ(errors.entries().size(), 1u);
  EXPECT_EQ(errors.entries()[0].message, comport_messages::NoSuchPort());
  EXPECT_FALSE(errors.entries()[0].window_visible);
  EXPECT_FALSE(form->BComPort1->Connected());
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));

  std::filesystem::create_symlink(pty.slave_path(), link);
  form->Button2->click();
  EXPECT_TRUE(form->BComPort1->Connected());
  EXPECT_EQ(errors.entries().size(), 1u);
  form->Button6->click();
  EXPECT_EQ(pty.ReadUntilQuiet(2000, 200), "\r");
}

TEST_F(PortActionsTest, ClosingTheWindowStopsTheEventThreadAndClosesTheDevice) {
  auto form = MakeForm(pty.slave_path());
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  ASSERT_TRUE(form->BComPort1->Connected());
  const int threads_open = ThreadCount();
  EXPECT_FALSE(DeviceIsFree(pty.slave_path()));

  // As at the end of the program: the window closes, then goes away.
  form->N2->trigger();
  EXPECT_FALSE(form->isVisible());
  form.reset();
  EXPECT_TRUE(ThreadCountBecomes(threads_open - 1));
  EXPECT_TRUE(DeviceIsFree(pty.slave_path()));
  EXPECT_TRUE(errors.entries().empty());
}

}  // namespace
}  // namespace vestrel
