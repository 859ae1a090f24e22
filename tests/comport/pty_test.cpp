// The port on real pseudo-terminals: transfers, deliveries, time-outs,
// hang-ups and exclusive opening.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "comport/b_com_port.h"
#include "comport/com_thread.h"
#include "comport/posix_custom_rate.h"
#include "comport/posix_serial_device.h"
#include "platform/messages.h"
#include "support.h"
#include "tests/support/pty_pair.h"

extern char** environ;

namespace vestrel {
namespace {

using test::RaisedBy;

class PtyPort : public ::testing::TestWithParam<TSyncMethod> {
 protected:
  void SetUp() override {
    platform::SetUiThread();
    ASSERT_TRUE(pty_.Ok());
    port_.SetPort(pty_.Path());
  }
  test::PtyPair pty_;
  TBComPort port_;
};

TEST_P(PtyPort, CountIsWhatWaitsAndReadStrReturnsExactlyIt) {
  port_.SetSyncMethod(GetParam());
  std::mutex m;
  std::string received;
  std::vector<int> counts;
  std::atomic<bool> mismatch{false};
  port_.OnRxChar = [&](TBComPort* sender, int count) {
    std::string s;
    const int n = sender->ReadStr(s, count);
    if (n != count || static_cast<int>(s.size()) != count) mismatch = true;
    std::lock_guard lock(m);
    received += s;
    counts.push_back(count);
  };
  ASSERT_TRUE(port_.Open());
  std::string sent;
  for (int i = 0; i < 256; ++i) sent += static_cast<char>(i);
  sent += "\r\n+CMTI: \"ME\",1\r\n";
  pty_.Send(sent);
  ASSERT_TRUE(test::ServeUntilOr([&] {
    std::lock_guard lock(m);
    return received.size() >= sent.size();
  }));
  EXPECT_FALSE(mismatch.load());
  std::lock_guard lock(m);
  EXPECT_EQ(received, sent);
  for (int c : counts) EXPECT_GT(c, 0);
}

TEST_P(PtyPort, WriteStrReachesTheLine) {
  port_.SetSyncMethod(GetParam());
  std::atomic<int> tx_empty{0};
  port_.OnTxEmpty = [&](TBComPort*) { ++tx_empty; };
  ASSERT_TRUE(port_.Open());
  const std::string cmd = std::string("AT+CMGS=21\r") + "\x1A\xC0\xFF";
  EXPECT_EQ(port_.WriteStr(cmd), static_cast<int>(cmd.size()));
  EXPECT_EQ(pty_.Receive(cmd.size()), cmd);
  EXPECT_TRUE(test::ServeUntilOr([&] { return tx_empty.load() >= 1; }));
}

INSTANTIATE_TEST_SUITE_P(AllSyncMethods, PtyPort,
                         ::testing::Values(smThreadSync, smWindowSync, smNone),
                         test::SyncMethodName);

class Pty : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetUiThread();
    ASSERT_TRUE(pty_.Ok());
  }
  test::PtyPair pty_;
};

TEST_F(Pty, BytesArrivingWhileTheUserInterfaceIsBlockedComeInOneDelivery) {
  TBComPort port;
  port.SetPort(pty_.Path());
  std::vector<std::string> chunks;
  port.OnRxChar = [&](TBComPort* sender, int count) {
    std::string s;
    sender->ReadStr(s, count);
    chunks.push_back(s);
  };
  ASSERT_TRUE(port.Open());
  auto et = platform::OpenModemWaitEvent();
  pty_.Send("AT\r\r\n");
  platform::ModemWait(et, 100);  // no delivery may run meanwhile
  pty_.Send("OK\r\n");
  platform::ModemWait(et, 100);
  pty_.Send("+CPMS: 3");
  platform::ModemWait(et, 100);
  EXPECT_TRUE(chunks.empty());
  ASSERT_TRUE(test::ServeUntilOr([&] { return !chunks.empty(); }));
  test::ServeFor(100);
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_EQ(chunks[0], "AT\r\r\nOK\r\n+CPMS: 3");
}

TEST_F(Pty, InputQueueEightyPercentFullIsReportedOncePerFilling) {
  TBComPort port;
  port.SetPort(pty_.Path());
  port.SetInBufSize(100);
  std::vector<std::string> seen;
  port.OnRx80Full = [&](TBComPort* sender) {
    seen.push_back("full " + std::to_string(sender->InQueueCount()));
  };
  port.OnRxChar = [&](TBComPort*, int) { seen.push_back("rx"); };  // reads nothing
  ASSERT_TRUE(port.Open());
  pty_.Send(std::string(50, 'a'));
  ASSERT_TRUE(test::ServeUntilOr([&] { return !seen.empty(); }));
  pty_.Send(std::string(40, 'b'));  // 90 of 100 waiting
  ASSERT_TRUE(test::ServeUntilOr(
      [&] { return std::find(seen.begin(), seen.end(), "full 90") != seen.end(); }));
  pty_.Send("c");  // still full: not again
  ASSERT_TRUE(test::ServeUntilOr([&] { return seen.back() == "rx" && seen.size() >= 4; }));
  test::ServeFor(50);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), "full 90"), 1);
  EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                          [](const std::string& e) { return e.rfind("full", 0) == 0; }),
            1);
  std::string s;
  EXPECT_EQ(port.ReadStr(s, 200), 91);  // drained: the next filling counts again
  pty_.Send(std::string(85, 'd'));
  ASSERT_TRUE(test::ServeUntilOr(
      [&] { return std::find(seen.begin(), seen.end(), "full 85") != seen.end(); }));
  port.Close();
}

TEST_F(Pty, WriteGivesUpAfterTheWriteTimeout) {
  TBComPort port;
  port.SetPort(pty_.Path());
  port.Timeouts().SetWriteTotalMultiplier(0);
  port.Timeouts().SetWriteTotalConstant(200);
  ASSERT_TRUE(port.Open());
  // Nobody reads the master: the line fills up and the write stops short.
  const std::string big(4 << 20, 'x');
  const int n = port.WriteStr(big);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, static_cast<int>(big.size()));
  port.Close();
}

TEST_F(Pty, CloseAbortsATransferThatWaitsOnTheEventThread) {
  test::CaughtErrors caught;
  TBComPort port;
  port.SetPort(pty_.Path());
  port.SetSyncMethod(smNone);
  port.Timeouts().SetWriteTotalMultiplier(0);  // no write limit at all
  port.Timeouts().SetWriteTotalConstant(0);
  std::atomic<bool> returned{false};
  port.OnRxChar = [&](TBComPort* sender, int count) {
    std::string s;
    sender->ReadStr(s, count);
    try {
      sender->WriteStr(std::string(8 << 20, 'w'));  // far more than the line holds
    } catch (...) {
      returned = true;
      throw;
    }
    returned = true;
  };
  ASSERT_TRUE(port.Open());
  pty_.Send("go");
  ASSERT_FALSE(pty_.Receive(1).empty());  // the write is under way
  EXPECT_TRUE(port.Close());
  EXPECT_TRUE(returned.load());
  test::ServeFor(20);
  EXPECT_EQ(caught.Messages(), std::vector<std::string>{comport_messages::WriteError()});
}

TEST_F(Pty, ReadTimeoutsKeepTheirMeaning) {
  TBComPort port;
  port.SetPort(pty_.Path());
  ASSERT_TRUE(port.Open());
  std::string s;
  EXPECT_EQ(port.ReadStr(s, 10), 0);  // at once, nothing there
  pty_.Send("abc");
  ASSERT_TRUE(test::ServeUntilOr([&] { return port.InQueueCount() == 3; }));
  EXPECT_EQ(port.ReadStr(s, 10), 3);
  EXPECT_EQ(s, "abc");
  // A total limit: waits for the rest, then returns what came.
  port.Timeouts().SetReadInterval(0);
  port.Timeouts().SetReadTotalConstant(100);
  std::thread sender([&] {
    platform::SleepMs(20);
    pty_.Send("de");
  });
  EXPECT_EQ(port.ReadStr(s, 5), 2);
  EXPECT_EQ(s, "de");
  sender.join();
  // A per-byte limit of 4294967295 ms on a large read: no limit in practice,
  // and no overflow in the deadline.
  port.Timeouts().SetReadTotalMultiplier(-1);
  const std::string block(4000, 'k');
  pty_.Send(block);
  EXPECT_EQ(port.ReadStr(s, 4000), 4000);
  EXPECT_EQ(s, block);
  port.Close();
}

TEST_F(Pty, HangUpIsReportedOnceAndThePortOpensAgainWhenTheDeviceIsBack) {
  test::CaughtErrors caught;
  const std::string link =
      (std::filesystem::temp_directory_path() / ("vestrel-port-" + std::to_string(getpid())))
          .string();
  std::filesystem::remove(link);
  std::filesystem::create_symlink(pty_.Path(), link);
  TBComPort port;
  port.SetPort(link);
  ASSERT_TRUE(port.Open());
  pty_.CloseMaster();
  ASSERT_TRUE(test::ServeUntilOr([&] { return caught.Count() >= 1; }));
  test::ServeFor(100);
  EXPECT_EQ(caught.Messages(), std::vector<std::string>{comport_messages::ReadError()});
  // The port has closed itself: Open opens the device again.
  EXPECT_FALSE(port.Connected());

  test::PtyPair again;
  ASSERT_TRUE(again.Ok());
  std::filesystem::remove(link);
  std::filesystem::create_symlink(again.Path(), link);
  std::string got;
  port.OnRxChar = [&](TBComPort* sender, int n) { sender->ReadStr(got, n); };
  ASSERT_TRUE(port.Open());
  again.Send("RING");
  EXPECT_TRUE(test::ServeUntilOr([&] { return got == "RING"; }));
  port.Close();
  std::filesystem::remove(link);
  EXPECT_EQ(caught.Count(), 1u);
}

TEST_F(Pty, ExclusiveOpenWithinAndAcrossProcesses) {
  TBComPort first;
  first.SetPort(pty_.Path());
  ASSERT_TRUE(first.Open());
  TBComPort second;
  second.SetPort(pty_.Path());
  EXPECT_EQ(RaisedBy([&] { second.Open(); }), comport_messages::PortBusy());
  EXPECT_FALSE(second.Connected());

  const auto probe = [&](const std::string& port) {
    const std::string exe = std::string(std::getenv("VESTREL_BIN_DIR")) + "/comport_lock_probe";
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const char* argv[] = {exe.c_str(), port.c_str(), nullptr};
    pid_t pid = 0;
    const int rc =
        posix_spawn(&pid, exe.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buf[256];
    ssize_t n;
    while (rc == 0 && (n = read(out[0], buf, sizeof buf)) > 0) text.append(buf, n);
    close(out[0]);
    int status = 0;
    if (rc == 0) waitpid(pid, &status, 0);
    return text;
  };
  EXPECT_EQ(probe(pty_.Path()), comport_messages::PortBusy());
  first.Close();
  EXPECT_EQ(probe(pty_.Path()), "opened");
  EXPECT_EQ(probe("/dev/vestrel-no-such-port"), comport_messages::NoSuchPort());
}

TEST_F(Pty, PortNamesAndOpenErrors) {
  EXPECT_EQ(DevicePathForPort("COM1"), "/dev/ttyS0");
  EXPECT_EQ(DevicePathForPort("COM11"), "/dev/ttyS10");
  EXPECT_EQ(DevicePathForPort("com3"), "/dev/ttyS2");
  EXPECT_EQ(DevicePathForPort("COM0"), "/dev/COM0");
  EXPECT_EQ(DevicePathForPort("COMX"), "/dev/COMX");
  EXPECT_EQ(DevicePathForPort("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(DevicePathForPort("/tmp/modem"), "/tmp/modem");
  EXPECT_EQ(OpenErrorFromErrno(ENOENT), OpenError::kNotFound);
  EXPECT_EQ(OpenErrorFromErrno(ENODEV), OpenError::kNotFound);
  EXPECT_EQ(OpenErrorFromErrno(ENXIO), OpenError::kNotFound);
  EXPECT_EQ(OpenErrorFromErrno(EBUSY), OpenError::kBusy);
  EXPECT_EQ(OpenErrorFromErrno(EWOULDBLOCK), OpenError::kBusy);
  EXPECT_EQ(OpenErrorFromErrno(EACCES), OpenError::kAccessDenied);
  EXPECT_EQ(OpenErrorFromErrno(EPERM), OpenError::kAccessDenied);
  EXPECT_EQ(OpenErrorFromErrno(EISDIR), OpenError::kOther);

  TBComPort port;
  port.SetPort("COM4000");  // /dev/ttyS3999 does not exist
  EXPECT_EQ(RaisedBy([&] { port.Open(); }), comport_messages::NoSuchPort());
  port.SetPort("");  // /dev/ itself: another open error, seen at the first setting
  EXPECT_EQ(RaisedBy([&] { port.Open(); }), comport_messages::SetupCommError());
  EXPECT_FALSE(port.Connected());
}

TEST_F(Pty, LineSettingsReachTheTerminalOpenOrClosed) {
  TBComPort port;
  port.SetPort(pty_.Path());
  port.SetBaudRate(br256000);  // no Bxxx constant
  port.SetByteSize(bs7);
  port.SetParity(paEven);
  ASSERT_TRUE(port.Open());
  const int fd = ::open(pty_.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  termios t;
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  // The pty driver forces 8 bits without parity bit; the input check stays.
  EXPECT_TRUE(t.c_iflag & INPCK);
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL));
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
  EXPECT_EQ(GetCustomBaudRate(fd), 256000u);

  port.SetBaudRate(br115200);
  port.SetStopBits(sb2);
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_EQ(port.ModemLines(), TModemLines{});  // a pty has no modem lines
  EXPECT_EQ(port.InQueueCount(), 0);
  ::close(fd);
  port.Close();
}

// Line rates: the input rate always follows the output rate, also back from
// a rate without a Bxxx constant.
TEST_F(Pty, InputAndOutputRateChangeTogether) {
  const int fd = ::open(pty_.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  TBComPort port;
  port.SetPort(pty_.Path());
  ASSERT_TRUE(port.Open());
  const auto rates = [&] {
    LineRates r;
    EXPECT_TRUE(ReadLineRates(fd, &r));
    return std::to_string(r.input) + (r.input_custom ? "*" : "") + "/" + std::to_string(r.output) +
           (r.output_custom ? "*" : "");
  };
  EXPECT_EQ(rates(), "9600/9600");
  port.SetBaudRate(br256000);
  EXPECT_EQ(rates(), "256000*/256000*");
  port.SetBaudRate(br9600);
  EXPECT_EQ(rates(), "9600/9600");
  port.SetBaudRate(br14400);
  port.SetBaudRate(br115200);
  EXPECT_EQ(rates(), "115200/115200");
  port.Close();
  port.SetBaudRate(br128000);
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(rates(), "128000*/128000*");
  port.SetBaudRate(br57600);
  EXPECT_EQ(rates(), "57600/57600");
  port.Close();
  ::close(fd);
}

// A pty carries 8-bit bytes whatever framing is asked for; the request is
// accepted the same way at Open and while open, and the rest still applies.
TEST_F(Pty, CharacterFramingIsAcceptedAlikeAtOpenAndWhileOpen) {
  const int fd = ::open(pty_.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  TBComPort port;
  port.SetPort(pty_.Path());
  ASSERT_TRUE(port.Open());
  EXPECT_EQ(RaisedBy([&] { port.SetByteSize(bs6); }), "");
  EXPECT_EQ(RaisedBy([&] { port.SetParity(paOdd); }), "");
  EXPECT_EQ(RaisedBy([&] { port.SetByteSize(bs5); }), "");
  EXPECT_EQ(RaisedBy([&] { port.SetStopBits(sb2); }), "");
  termios t;
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_iflag & INPCK);
  port.Close();
  ASSERT_TRUE(port.Open());  // 5 bits, odd parity
  EXPECT_EQ(RaisedBy([&] { port.SetByteSize(bs7); }), "");
  EXPECT_EQ(RaisedBy([&] { port.SetParity(paNone); }), "");
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  EXPECT_FALSE(t.c_iflag & INPCK);
  port.Close();
  ::close(fd);
}

// The holder of the lock has set no exclusive flag; a failed Open must not
// set one either, or every later open by an ordinary user is refused.
TEST_F(Pty, AFailedOpenLeavesTheTerminalOpenToOthers) {
  const int holder = ::open(pty_.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  TBComPort port;
  port.SetPort(pty_.Path());
  EXPECT_EQ(RaisedBy([&] { port.Open(); }), comport_messages::PortBusy());
  EXPECT_EQ(RaisedBy([&] { port.Open(); }), comport_messages::PortBusy());
  int exclusive = -1;
  ASSERT_EQ(ioctl(holder, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  ::close(holder);

  // The next Open, by an unprivileged user (root ignores the flag).
  const bool root = getuid() == 0;
  if (root) {
    ASSERT_EQ(chmod(pty_.Path().c_str(), 0666), 0);
  }
  const std::string exe = std::string(std::getenv("VESTREL_BIN_DIR")) + "/comport_lock_probe";
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    constexpr uid_t kNobody = 65534;
    if (root && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
      _exit(77);
    dup2(out[1], 1);
    ::close(out[0]);
    const char* argv[] = {exe.c_str(), pty_.Path().c_str(), nullptr};
    execv(exe.c_str(), const_cast<char**>(argv));
    _exit(78);
  }
  ::close(out[1]);
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = read(out[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "cannot become the unprivileged user 65534 here";
  ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 78) << "cannot run " << exe;
  EXPECT_EQ(text, "opened");
}

// Under the two user-interface deliveries a hang-up can meet a delivery that
// is already waiting for the user-interface thread.
class PtyHangUp : public ::testing::TestWithParam<TSyncMethod> {
 protected:
  void SetUp() override {
    platform::SetUiThread();
    ASSERT_TRUE(pty_.Ok());
    port_.SetPort(pty_.Path());
    port_.SetSyncMethod(GetParam());
    port_.OnRxChar = [this](TBComPort* sender, int count) {
      std::string s;
      sender->ReadStr(s, count);
      received_ += s;
    };
  }
  void TearDown() override { platform::SetWakeHook({}); }

  // Bytes arrive and their delivery is asked for, but not served; then the
  // other end goes away.
  void HangUpWithADeliveryWaiting() {
    std::mutex m;
    std::condition_variable cv;
    bool woken = false;
    platform::SetWakeHook([&] {
      std::lock_guard lock(m);
      woken = true;
      cv.notify_all();
    });
    pty_.Send("+CMTI: \"SM\",1\r\n");
    {
      std::unique_lock lock(m);
      ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(5), [&] { return woken; }));
    }
    platform::SetWakeHook({});
    pty_.CloseMaster();
  }

  test::PtyPair pty_;
  TBComPort port_;
  std::string received_;
};

TEST_P(PtyHangUp, OneReportWhenADeliveryWasWaiting) {
  test::CaughtErrors caught;
  ASSERT_TRUE(port_.Open());
  HangUpWithADeliveryWaiting();
  ASSERT_TRUE(test::ServeUntilOr([&] { return caught.Count() >= 1; }));
  test::ServeFor(100);
  EXPECT_EQ(caught.Messages(), std::vector<std::string>{comport_messages::ReadError()});
}

TEST_P(PtyHangUp, CloseBeforeTheEventThreadHasSeenIt) {
  test::CaughtErrors caught;
  ASSERT_TRUE(port_.Open());
  HangUpWithADeliveryWaiting();
  EXPECT_EQ(RaisedBy([&] { port_.Close(); }), "");
  EXPECT_FALSE(port_.Connected());
  test::ServeFor(50);
  for (const std::string& m : caught.Messages()) EXPECT_EQ(m, comport_messages::ReadError());
  EXPECT_LE(caught.Count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(UserInterfaceDeliveries, PtyHangUp,
                         ::testing::Values(smThreadSync, smWindowSync), test::SyncMethodName);

}  // namespace
}  // namespace vestrel
