#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/private_file.h"
#include "platform/system_reason.h"
#include "platform/utf8.h"

namespace vestrel::platform {
namespace {

std::wstring Wide(const std::string& utf8) {
  return PathFromUtf8(utf8).native();
}

[[noreturn]] void Fail(const char* what_utf8, const std::string& path, DWORD error) {
  const std::error_code code(static_cast<int>(error), std::system_category());
  throw Exception(Cp1251FromUtf8(what_utf8) + " \"" + Cp1251FromUtf8(path) + "\" (" +
                  Cp1251FromUtf8(SystemReason(code)) + ")");
}

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) ::CloseHandle(h_);
  }
  HANDLE get() const { return h_; }
  HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }

 private:
  HANDLE h_;
};

}  // namespace

std::string StagePrivateFile(const std::string& path, std::string_view bytes) {
  const char* const create_failed = "Ошибка создания файла";
  const std::wstring name = Wide(path);
  // Whatever stands under the name goes; a link or junction is removed as a
  // name, never followed.
  if (!::DeleteFileW(name.c_str())) {
    const DWORD e = ::GetLastError();
    if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND) Fail(create_failed, path, e);
  }
  // No sharing: nobody else opens the file while it is ours. CREATE_NEW fails
  // when someone put a new name in place in the meantime.
  Handle file(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) Fail(create_failed, path, ::GetLastError());
  struct Remover {
    const std::wstring& name;
    ~Remover() { ::DeleteFileW(name.c_str()); }
  } remover{name};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.get(), &info)) Fail(create_failed, path, ::GetLastError());
  if (::GetFileType(file.get()) != FILE_TYPE_DISK || info.nNumberOfLinks != 1 ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    Fail(create_failed, path, ERROR_FILE_EXISTS);

  for (std::string_view rest = bytes; !rest.empty();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(file.get(), rest.data(), chunk, &written, nullptr) || written == 0)
      Fail("Ошибка записи файла", path, ::GetLastError());
    rest.remove_prefix(written);
  }
  if (::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
    Fail("Ошибка чтения файла", path, ::GetLastError());
  std::string back;
  back.reserve(bytes.size());
  char buffer[4096];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr))
      Fail("Ошибка чтения файла", path, ::GetLastError());
    if (got == 0) break;
    back.append(buffer, got);
  }
  if (!::CloseHandle(file.release())) Fail("Ошибка чтения файла", path, ::GetLastError());
  return back;
}

bool ReplaceFileContents(const std::filesystem::path& file, const std::string& content) {
  // A fresh name beside the file, made exclusively; MoveFileExW then puts it
  // in the file's place in one step.
  std::wstring temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp = file.wstring() + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
           std::to_wstring(::GetTickCount() + attempt);
    h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  bool written = true;
  for (std::string_view rest = content; written && !rest.empty();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 1u << 20));
    DWORD n = 0;
    written = ::WriteFile(h, rest.data(), chunk, &n, nullptr) && n > 0;
    if (written) rest.remove_prefix(n);
  }
  written = ::CloseHandle(h) && written;
  if (written && ::MoveFileExW(temp.c_str(), file.wstring().c_str(), MOVEFILE_REPLACE_EXISTING))
    return true;
  ::DeleteFileW(temp.c_str());
  return false;
}

bool RemoveFile(const std::string& path) {
  return ::DeleteFileW(Wide(path).c_str()) != 0;
}

}  // namespace vestrel::platform
