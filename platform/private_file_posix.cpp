#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/private_file.h"
#include "platform/system_reason.h"

namespace vestrel::platform {
namespace {

[[noreturn]] void Fail(const char* what_utf8, const std::string& path, int error) {
  throw Exception(Cp1251FromUtf8(what_utf8) + " \"" + path + "\" (" +
                  Cp1251FromUtf8(ErrnoReason(error)) + ")");
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

std::string StagePrivateFile(const std::string& path, std::string_view bytes) {
  const char* const create_failed = "Ошибка создания файла";
  // A hard link, a pipe or a symbolic link left under the name goes; only the
  // name is removed, never what it points to.
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) Fail(create_failed, path, errno);
  Descriptor fd(
      ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  // Someone who put a new name in place in the meantime makes this fail too.
  if (fd.get() < 0) Fail(create_failed, path, errno);
  struct Remover {
    const std::string& path;
    ~Remover() { ::unlink(path.c_str()); }
  } remover{path};
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) Fail(create_failed, path, errno);
  if (!S_ISREG(st.st_mode) || st.st_nlink != 1) Fail(create_failed, path, EEXIST);

  for (std::string_view rest = bytes; !rest.empty();) {
    const ssize_t written = ::write(fd.get(), rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) Fail("Ошибка записи файла", path, written < 0 ? errno : EIO);
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  if (::lseek(fd.get(), 0, SEEK_SET) != 0) Fail("Ошибка чтения файла", path, errno);
  std::string back;
  back.reserve(bytes.size());
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail("Ошибка чтения файла", path, errno);
    if (got == 0) break;
    back.append(buffer, static_cast<std::size_t>(got));
  }
  if (::close(fd.release()) != 0) Fail("Ошибка чтения файла", path, errno);
  return back;
}

bool ReplaceFileContents(const std::filesystem::path& file, const std::string& content) {
  std::string temp = file.string() + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  bool written = ::fchmod(fd, 0644) == 0;
  for (std::string_view rest = content; written && !rest.empty();) {
    const ssize_t n = ::write(fd, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) rest.remove_prefix(static_cast<std::size_t>(n));
  }
  written = ::close(fd) == 0 && written;
  std::error_code ec;
  if (written) std::filesystem::rename(temp, file, ec);
  if (!written || ec) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0;
}

}  // namespace vestrel::platform
