#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/private_file.h"

namespace vestrel::platform {
namespace {

[[noreturn]] void Fail(const char* what_utf8, const std::string& path, int error) {
  throw Exception(Cp1251FromUtf8(what_utf8) + " \"" + path + "\" (" + std::strerror(error) + ")");
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace

void WritePrivateFile(const std::string& path, std::string_view bytes) {
  Descriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) Fail("Ошибка создания файла", path, errno);
  // An older file keeps its mode through O_CREAT; narrow it as well.
  if (::fchmod(fd.get(), 0600) != 0) Fail("Ошибка создания файла", path, errno);
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd.get(), bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) Fail("Ошибка записи файла", path, written < 0 ? errno : EIO);
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  if (::close(fd.release()) != 0) Fail("Ошибка записи файла", path, errno);
}

std::string ReadPrivateFile(const std::string& path) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) Fail("Ошибка открытия файла", path, errno);
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail("Ошибка чтения файла", path, errno);
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

}  // namespace vestrel::platform
