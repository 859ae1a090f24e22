#include <windows.h>
// After <windows.h>:
#include <fcntl.h>
#include <io.h>
#include <sddl.h>
#include <shellapi.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "cli/console.h"
#include "cli/help_text.h"
#include "platform/cp1251.h"
#include "platform/utf8.h"

namespace vestrel::cli {
namespace {

std::string Utf8(const wchar_t* wide) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string utf8(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), size, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(size - 1));
  return utf8;
}

// Nothing when utf8 is not well-formed.
std::optional<std::wstring> Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                         static_cast<int>(utf8.size()), nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        wide.data(), size);
  return wide;
}

// The console runs a control handler on a thread of its own. The mutex keeps
// the guard from going while the handler still uses what it points to.
std::mutex interrupt_mutex;
DialogueStop* interrupt_stop = nullptr;
Watchdog* interrupt_watchdog = nullptr;

BOOL WINAPI OnControl(DWORD event) {
  // Ctrl-C only; Ctrl-Break and closing the console end the process as usual.
  if (event != CTRL_C_EVENT) return FALSE;
  std::lock_guard lock(interrupt_mutex);
  if (interrupt_stop) interrupt_stop->Request();
  if (interrupt_watchdog) interrupt_watchdog->Interrupt();
  return TRUE;
}

// "D:P(A;OICI;FA;;;<the user's SID>)": full access for this user alone, not
// inherited from the folder above; empty when the user cannot be told.
std::wstring OwnerOnlyDescriptor() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  std::wstring descriptor;
  wchar_t* sid = nullptr;
  if (size && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
      ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
    descriptor = std::wstring(L"D:P(A;OICI;FA;;;") + sid + L")";
    ::LocalFree(sid);
  }
  ::CloseHandle(token);
  return descriptor;
}

}  // namespace

// The console's code pages become UTF-8 for this run; standard output is
// binary, so that a line break inside a message is written as on Linux, and
// so is standard input, whose UTF-16 would lose its bytes 0x1A (the text
// mode's end of file) and its CR LF pairs.
ConsoleSession::ConsoleSession()
    : input_code_page_(::GetConsoleCP()), output_code_page_(::GetConsoleOutputCP()) {
  if (output_code_page_) ::SetConsoleOutputCP(CP_UTF8);
  if (input_code_page_) ::SetConsoleCP(CP_UTF8);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
}

ConsoleSession::~ConsoleSession() {
  std::fflush(stdout);
  std::fflush(stderr);
  if (output_code_page_) ::SetConsoleOutputCP(output_code_page_);
  if (input_code_page_) ::SetConsoleCP(input_code_page_);
}

// The C run-time's argv is in the ANSI code page, which loses what it lacks;
// the command line itself is UTF-16.
std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8(wide[i]));
  ::LocalFree(wide);
  return args;
}

// What Windows-1251 lacks becomes '?': such a name cannot be opened, as the
// window could not open it either.
std::string FileNameBytes(const std::filesystem::path& path) {
  std::string bytes;
  for (wchar_t c : path.native())
    bytes.push_back(static_cast<char>(platform::UnicodeToCp1251(c).value_or('?')));
  return bytes;
}

std::string StagingFileName(const std::filesystem::path& path) {
  return platform::PathToUtf8(path);
}

std::FILE* OpenLogFile(const std::string& utf8_name) {
  const auto name = Wide(utf8_name);
  if (!name) {
    errno = EINVAL;
    return nullptr;
  }
  const std::wstring descriptor = OwnerOnlyDescriptor();
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  if (!descriptor.empty() &&
      !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          descriptor.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr)) {
    errno = EACCES;
    return nullptr;
  }
  // The link itself is opened, never what it names, and then refused.
  HANDLE handle = ::CreateFileW(name->c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                &attributes, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const DWORD error = ::GetLastError();
  if (attributes.lpSecurityDescriptor) ::LocalFree(attributes.lpSecurityDescriptor);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = error == ERROR_ACCESS_DENIED                                     ? EACCES
            : error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ? ENOENT
                                                                             : EIO;
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const bool told = ::GetFileInformationByHandle(handle, &info) != 0;
  if (!told || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    ::CloseHandle(handle);
    errno = told ? ELOOP : EIO;
    return nullptr;
  }
  const int fd =
      ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_WRONLY | _O_TEXT);
  if (fd < 0) {
    ::CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = ::_fdopen(fd, "a");
  if (!file) ::_close(fd);
  return file;
}

std::tm LocalTime(std::time_t moment) {
  std::tm local{};
  ::localtime_s(&local, &moment);
  return local;
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

// A write to a closed pipe fails with an error; there is no signal to ignore.
void IgnoreBrokenPipe() {}

std::filesystem::path MakePrivateFolder() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
  if (length == 0 || length > MAX_PATH) return {};
  const std::wstring descriptor = OwnerOnlyDescriptor();
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  if (!descriptor.empty() &&
      !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          descriptor.c_str(), SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr))
    return {};
  std::filesystem::path made;
  for (unsigned attempt = 0; attempt < 100 && made.empty(); ++attempt) {
    const std::filesystem::path folder =
        std::filesystem::path(temp) / (L"vestrel-sms." + std::to_wstring(::GetCurrentProcessId()) +
                                       L"." + std::to_wstring(::GetTickCount() + attempt));
    if (::CreateDirectoryW(folder.c_str(), &attributes))
      made = folder;
    else if (::GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  if (attributes.lpSecurityDescriptor) ::LocalFree(attributes.lpSecurityDescriptor);
  return made;
}

struct InterruptGuard::Saved {};

InterruptGuard::InterruptGuard(DialogueStop& stop, Watchdog& watchdog)
    : saved_(std::make_unique<Saved>()) {
  {
    std::lock_guard lock(interrupt_mutex);
    interrupt_stop = &stop;
    interrupt_watchdog = &watchdog;
  }
  ::SetConsoleCtrlHandler(OnControl, TRUE);
}

int InterruptGuard::ExitStatus() {
  return 130;
}

// Removing the handler brings back the one before it.
InterruptGuard::~InterruptGuard() {
  ::SetConsoleCtrlHandler(OnControl, FALSE);
  std::lock_guard lock(interrupt_mutex);
  interrupt_stop = nullptr;
  interrupt_watchdog = nullptr;
}

const char* ConsoleHelp() {
  return R"(Arguments and standard input are taken as UTF-8 text; the output is UTF-8.
Progress goes to standard error when it is a console; otherwise standard error
holds only errors. Ctrl-C ends a send after the SMS being written and a
reading before its next command.
)";
}

}  // namespace vestrel::cli
