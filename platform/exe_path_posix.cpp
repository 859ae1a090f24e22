#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"

namespace vestrel::platform {

std::filesystem::path ExecutablePath() {
  // readlink() does not terminate the buffer and truncates silently, so grow
  // the buffer until the whole link fits.
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) {
      throw Exception(
          Cp1251FromUtf8(std::string("Unable to locate the executable: ") + std::strerror(errno)));
    }
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return std::filesystem::path(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::filesystem::path ExecutableFolder() {
  return ExecutablePath().parent_path();
}

}  // namespace vestrel::platform
