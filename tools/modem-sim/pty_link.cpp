#include "tools/modem-sim/pty_link.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace vestrel::sim {
namespace {

[[noreturn]] void Throw(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

Pty OpenPty() {
  Pty pty;
  pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (pty.master < 0) Throw("posix_openpt");
  auto fail = [&pty](const char* what) {
    const int saved = errno;
    close(pty.master);
    errno = saved;
    Throw(what);
  };
  if (grantpt(pty.master) != 0) fail("grantpt");
  if (unlockpt(pty.master) != 0) fail("unlockpt");
  char name[256];
  if (ptsname_r(pty.master, name, sizeof name) != 0) fail("ptsname_r");
  pty.slave_path = name;

  termios t{};
  if (tcgetattr(pty.master, &t) != 0) fail("tcgetattr");
  cfmakeraw(&t);
  t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  if (tcsetattr(pty.master, TCSANOW, &t) != 0) fail("tcsetattr");
  return pty;
}

void MakeLink(const std::filesystem::path& link, const std::string& target) {
  std::error_code ec;
  const auto status = std::filesystem::symlink_status(link, ec);
  if (!ec && std::filesystem::exists(status) && !std::filesystem::is_symlink(status)) {
    throw std::runtime_error(link.string() + " exists and is not a symbolic link");
  }
  // Built beside the link and renamed over it, so the link never goes missing.
  const std::filesystem::path temp = link.string() + ".new." + std::to_string(getpid());
  std::filesystem::remove(temp, ec);
  if (symlink(target.c_str(), temp.c_str()) != 0) Throw("symlink " + temp.string());
  if (rename(temp.c_str(), link.c_str()) != 0) {
    const int saved = errno;
    unlink(temp.c_str());
    errno = saved;
    Throw("rename to " + link.string());
  }
}

void RemoveLink(const std::filesystem::path& link, const std::string& target) {
  char buf[4096];
  const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
  if (n < 0) return;
  if (std::string(buf, static_cast<std::size_t>(n)) == target) unlink(link.c_str());
}

}  // namespace vestrel::sim
