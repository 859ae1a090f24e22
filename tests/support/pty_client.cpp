#include "tests/support/pty_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vestrel::test {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

bool AnswerComplete(std::string_view text) {
  auto ends_with = [&text](std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
  };
  if (ends_with("\r\n> ")) return true;
  if (!ends_with("\r\n")) return false;
  // The last line must be a whole framed line: \r\n<code>\r\n
  const std::string_view body = text.substr(0, text.size() - 2);
  const auto start = body.rfind("\r\n");
  if (start == std::string_view::npos) return false;
  const std::string_view line = body.substr(start + 2);
  if (line == "OK" || line == "ERROR" || line == "NO CARRIER") return true;
  if (line.substr(0, 11) == "+CME ERROR:") return line.size() > 11;
  if (line.substr(0, 11) != "+CMS ERROR:") return false;
  std::string_view code = line.substr(11);
  if (!code.empty() && code.front() == ' ') code.remove_prefix(1);
  return !code.empty() && std::all_of(code.begin(), code.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c));
  });
}

PtyClient::PtyClient(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw std::runtime_error("open " + path + ": " + std::strerror(errno));
  termios t{};
  if (tcgetattr(fd_, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(fd_, TCSANOW, &t);
  }
}

PtyClient::~PtyClient() {
  Close();
}

void PtyClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void PtyClient::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 100);
        continue;
      }
      throw std::runtime_error(std::string("write: ") + std::strerror(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

bool PtyClient::ReadSome(Clock::time_point deadline) {
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, MsLeft(deadline)) <= 0) return true;
  if (p.revents & POLLIN) {
    char buf[4096];
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n > 0) {
      pending_.append(buf, static_cast<std::size_t>(n));
      return true;
    }
  }
  return !(p.revents & (POLLHUP | POLLERR));
}

std::string PtyClient::ReadUntil(std::string_view needle, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::size_t pos;
  while ((pos = pending_.find(needle)) == std::string::npos && Clock::now() < deadline) {
    if (!ReadSome(deadline)) break;
  }
  std::string out;
  if (pos == std::string::npos) {
    out.swap(pending_);
  } else {
    out = pending_.substr(0, pos + needle.size());
    pending_.erase(0, pos + needle.size());
  }
  return out;
}

std::string PtyClient::ReadAnswer(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!AnswerComplete(pending_) && Clock::now() < deadline) {
    if (!ReadSome(deadline)) break;
  }
  std::string out;
  out.swap(pending_);
  return out;
}

std::string PtyClient::Command(std::string_view line, std::chrono::milliseconds timeout) {
  Write(std::string(line) + "\r");
  return ReadAnswer(timeout);
}

std::string PtyClient::ReadFor(std::chrono::milliseconds duration) {
  const auto deadline = Clock::now() + duration;
  while (Clock::now() < deadline) {
    if (!ReadSome(deadline)) break;
  }
  std::string out;
  out.swap(pending_);
  return out;
}

bool PtyClient::WaitHangup(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  do {
    pollfd p{fd_, POLLIN, 0};
    const int rc = poll(&p, 1, MsLeft(deadline));
    if (rc > 0 && (p.revents & (POLLHUP | POLLERR))) return true;
    if (rc > 0 && (p.revents & POLLIN)) {
      char buf[4096];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) pending_.append(buf, static_cast<std::size_t>(n));
    }
  } while (Clock::now() < deadline);
  return false;
}

}  // namespace vestrel::test
