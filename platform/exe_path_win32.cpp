#include <windows.h>

#include <string>

#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"

namespace vestrel::platform {

std::filesystem::path ExecutablePath() {
  // GetModuleFileNameW truncates silently and says so only by filling the
  // whole buffer, so grow the buffer until the whole path fits.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      throw Exception(Cp1251FromUtf8("Unable to locate the executable: error " +
                                     std::to_string(::GetLastError())));
    }
    if (n < buffer.size()) {
      buffer.resize(n);
      return std::filesystem::path(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::filesystem::path ExecutableFolder() {
  return ExecutablePath().parent_path();
}

}  // namespace vestrel::platform
