// vestrel-sms's Windows pieces on their own: names, the log file, the private
// folder, the clock thread, Ctrl-C and the console's code pages. Run under
// wine by scripts/test-windows; the console cases need a console, which wine
// gives a program only on a terminal (the script runs them once more on one).
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "cli/console.h"
#include "cli/serial_ports.h"
#include "cli/watchdog.h"
#include "messaging/dialogue_stop.h"
#include "platform/cp1251.h"
#include "platform/private_file.h"
#include "platform/utf8.h"

namespace vestrel::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool HasConsole() {
  return ::GetConsoleWindow() != nullptr || ::GetConsoleCP() != 0;
}

std::wstring WithoutFinalSeparator(const fs::path& path) {
  std::wstring name = path.native();
  while (name.size() > 3 && (name.back() == L'\\' || name.back() == L'/')) name.pop_back();
  return name;
}

// Waits up to a minute for a condition the code under test must reach; no
// duration is asserted.
template <typename Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 6000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return condition();
}

TEST(Win32Console, FileNamesAreWindows1251AndWhatItLacksIsAQuestionMark) {
  EXPECT_EQ(FileNameBytes(fs::path(L"C:\\Temp\\Отчёт №3.txt")),
            platform::Cp1251FromUtf8("C:\\Temp\\Отчёт №3.txt"));
  EXPECT_EQ(FileNameBytes(fs::path(L"a\u4E2Db")), "a?b");
}

TEST(Win32Console, PrivateFoldersAreNewFoldersInTheTemporaryFolder) {
  const fs::path first = MakePrivateFolder();
  const fs::path second = MakePrivateFolder();
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  EXPECT_TRUE(fs::is_directory(first));
  EXPECT_EQ(WithoutFinalSeparator(first.parent_path()),
            WithoutFinalSeparator(fs::temp_directory_path()));
  EXPECT_TRUE(fs::is_empty(first));
  fs::remove_all(first);
  fs::remove_all(second);
}

TEST(Win32Console, TheLogFileTakesAUtf8NameAndAppends) {
  const fs::path folder = MakePrivateFolder();
  ASSERT_FALSE(folder.empty());
  const fs::path file = folder / L"журнал.log";
  const auto utf8 = file.u8string();
  const std::string name(utf8.begin(), utf8.end());
  for (const char* line : {"first\n", "second\n"}) {
    std::FILE* log = OpenLogFile(name);
    ASSERT_NE(log, nullptr) << name;
    std::fputs(line, log);
    std::fclose(log);
  }
  std::FILE* read = ::_wfopen(file.c_str(), L"rb");
  ASSERT_NE(read, nullptr);
  char buffer[64] = {};
  const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, read);
  std::fclose(read);
  // Text mode: Windows line ends in a file an operator opens in Notepad.
  EXPECT_EQ(std::string(buffer, n), "first\r\nsecond\r\n");
  errno = 0;
  EXPECT_EQ(OpenLogFile("\xFF.log"), nullptr);
  EXPECT_EQ(errno, EINVAL);
  fs::remove_all(folder);
}

TEST(Win32Console, TheLogFileIsNeverALink) {
  const fs::path folder = MakePrivateFolder();
  ASSERT_FALSE(folder.empty());
  std::FILE* target = ::_wfopen((folder / L"target.log").c_str(), L"wb");
  ASSERT_NE(target, nullptr);
  std::fputs("keep", target);
  std::fclose(target);
  std::error_code error;
  fs::create_symlink(folder / L"target.log", folder / L"link.log", error);
  if (error) {
    fs::remove_all(folder);
    GTEST_SKIP() << "no symbolic links here: " << error.message();
  }
  errno = 0;
  EXPECT_EQ(OpenLogFile(platform::PathToUtf8(folder / L"link.log")), nullptr);
  EXPECT_EQ(errno, ELOOP);
  EXPECT_EQ(fs::file_size(folder / L"target.log"), 4u);
  fs::remove_all(folder);
}

// A %TEMP% whose name Windows-1251 cannot hold still takes the reading's
// staging file.
TEST(Win32Console, StagingWorksUnderATemporaryFolderOfAnyName) {
  const fs::path temp = fs::temp_directory_path() / L"врем\u4E2D\u0100";
  fs::create_directories(temp);
  wchar_t tmp_before[MAX_PATH + 1] = {}, temp_before[MAX_PATH + 1] = {};
  const DWORD tmp_length = ::GetEnvironmentVariableW(L"TMP", tmp_before, MAX_PATH + 1);
  const DWORD temp_length = ::GetEnvironmentVariableW(L"TEMP", temp_before, MAX_PATH + 1);
  ::SetEnvironmentVariableW(L"TMP", temp.c_str());
  ::SetEnvironmentVariableW(L"TEMP", temp.c_str());
  const fs::path folder = MakePrivateFolder();
  ::SetEnvironmentVariableW(L"TMP", tmp_length ? tmp_before : nullptr);
  ::SetEnvironmentVariableW(L"TEMP", temp_length ? temp_before : nullptr);
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(WithoutFinalSeparator(folder.parent_path()), WithoutFinalSeparator(temp));
  const std::string chunk("+CMGR: \x1A\r\n", 10);
  EXPECT_EQ(platform::StagePrivateFile(StagingFileName(folder / L"tmp.sms"), chunk), chunk);
  EXPECT_TRUE(fs::is_empty(folder));
  fs::remove_all(temp);
}

TEST(Win32Console, LocalTimeIsTheSystemsLocalTime) {
  const std::time_t moment = 1'700'000'000;
  const std::tm local = LocalTime(moment);
  FILETIME utc_file{};
  const auto ticks = (static_cast<unsigned long long>(moment) + 11'644'473'600ULL) * 10'000'000ULL;
  utc_file.dwLowDateTime = static_cast<DWORD>(ticks);
  utc_file.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SYSTEMTIME utc{}, expected{};
  ASSERT_TRUE(::FileTimeToSystemTime(&utc_file, &utc));
  ASSERT_TRUE(::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &expected));
  EXPECT_EQ(local.tm_year + 1900, expected.wYear);
  EXPECT_EQ(local.tm_mon + 1, expected.wMonth);
  EXPECT_EQ(local.tm_mday, expected.wDay);
  EXPECT_EQ(local.tm_hour, expected.wHour);
  EXPECT_EQ(local.tm_min, expected.wMinute);
}

TEST(Win32SerialPorts, ComPortsOnlyInNumericOrderEachOnce) {
  const auto ports = ListSerialDevices();
  unsigned long previous = 0;
  for (const SerialDeviceEntry& port : ports) {
    ASSERT_EQ(port.path.rfind("COM", 0), 0u) << port.path;
    const unsigned long number = std::stoul(port.path.substr(3));
    EXPECT_GT(number, previous) << port.path;
    previous = number;
  }
  // Under wine a prefix has COM1 for /dev/ttyS0; on Windows there may be none.
  for (const SerialDeviceEntry& port : ports) {
    if (port.path == "COM1") {
      EXPECT_FALSE(port.target.empty());
    }
  }
}

TEST(Win32Watchdog, ExpiresWhenArmedAndNotWhileBusy) {
  Watchdog watchdog;
  EXPECT_FALSE(watchdog.Expired());
  watchdog.Arm(50ms);
  EXPECT_TRUE(Eventually([&] { return watchdog.Expired(); }));
  watchdog.Arm(1h);
  EXPECT_FALSE(watchdog.Expired());
  watchdog.Busy();
  EXPECT_FALSE(watchdog.Interrupted());
  watchdog.Interrupt();
  EXPECT_TRUE(Eventually([&] { return watchdog.Interrupted(); }));
  EXPECT_FALSE(watchdog.Expired());
}

// Ctrl-C as the console delivers it: on a thread of the system's, to every
// handler registered, the newest first.
TEST(Win32Console, CtrlCStopsTheDialoguesAndWakesTheWatchdog) {
  if (!HasConsole()) GTEST_SKIP() << "no console (wine gives one only on a terminal)";
  DialogueStop stop;
  Watchdog watchdog;
  {
    InterruptGuard guard(stop, watchdog);
    ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << ::GetLastError();
    EXPECT_TRUE(Eventually([&] { return watchdog.Interrupted(); }));
    EXPECT_TRUE(stop.Requested());
  }
  // Without the guard the next Ctrl-C reaches only the handler below it: this
  // test's, which takes it so that the test goes on.
  static std::atomic<int> below{0};
  const auto take = [](DWORD event) -> BOOL {
    if (event != CTRL_C_EVENT) return FALSE;
    ++below;
    return TRUE;
  };
  ASSERT_TRUE(::SetConsoleCtrlHandler(take, TRUE));
  DialogueStop later;
  Watchdog later_watchdog;
  { InterruptGuard guard(later, later_watchdog); }
  ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
  EXPECT_TRUE(Eventually([&] { return below.load() == 1; }));
  EXPECT_FALSE(later.Requested());
  EXPECT_FALSE(later_watchdog.Interrupted());
  ::SetConsoleCtrlHandler(take, FALSE);
}

TEST(Win32Console, TheConsoleShowsUtf8WhileTheSessionLastsOnly) {
  if (!HasConsole()) GTEST_SKIP() << "no console (wine gives one only on a terminal)";
  const UINT before_out = ::GetConsoleOutputCP();
  const UINT before_in = ::GetConsoleCP();
  ASSERT_NE(before_out, static_cast<UINT>(CP_UTF8)) << "the console shows UTF-8 already";
  {
    const ConsoleSession session;
    EXPECT_EQ(::GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
    EXPECT_EQ(::GetConsoleCP(), static_cast<UINT>(CP_UTF8));
  }
  EXPECT_EQ(::GetConsoleOutputCP(), before_out);
  EXPECT_EQ(::GetConsoleCP(), before_in);
}

}  // namespace
}  // namespace vestrel::cli
