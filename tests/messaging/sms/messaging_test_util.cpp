#include "tests/messaging/sms/messaging_test_util.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/cp1251.h"
#include "tests/support/gammu.h"

namespace vestrel::test {

std::string W(const char* utf8) {
  return platform::Cp1251FromUtf8(utf8);
}

PtyPort::PtyPort() {
  termios raw{};
  cfmakeraw(&raw);
  cfsetispeed(&raw, B9600);
  cfsetospeed(&raw, B9600);
  if (openpty(&master_, &slave_, nullptr, &raw, nullptr) != 0)
    throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
  fcntl(slave_, F_SETFL, fcntl(slave_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPort::~PtyPort() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

static void WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
      continue;
    }
    if (n < 0) throw std::runtime_error(std::string("pty write: ") + std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
}

void PtyPort::WriteStr(const std::string& bytes) {
  WriteAll(slave_, bytes);
  tcdrain(slave_);
}

std::string PtyPort::ReadStr(int count) {
  const std::size_t from_hold = std::min(held_.size(), static_cast<std::size_t>(count));
  std::string out = held_.substr(0, from_hold);
  held_.erase(0, from_hold);
  std::string rest(static_cast<std::size_t>(count) - from_hold, '\0');
  const ssize_t n = rest.empty() ? 0 : read(slave_, rest.data(), rest.size());
  rest.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out + rest;
}

std::string PtyPort::HoldArrived() {
  std::string out(static_cast<std::size_t>(Waiting()), '\0');
  const ssize_t n = out.empty() ? 0 : read(slave_, out.data(), out.size());
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  held_ += out;
  return out;
}

void PtyPort::ModemSend(const std::string& bytes) {
  WriteAll(master_, bytes);
  // Wait until the line discipline has passed everything to the slave side.
  for (int i = 0; i < 200 && Waiting() < static_cast<int>(bytes.size()); ++i) usleep(1000);
}

int PtyPort::Waiting() {
  int n = 0;
  ioctl(slave_, FIONREAD, &n);
  return n;
}

std::string PtyPort::ModemReceived() {
  std::string all;
  char buffer[4096];
  for (;;) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) break;
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) break;
    all.append(buffer, static_cast<std::size_t>(n));
  }
  return all;
}

std::vector<DecodedPdu> DecodeWithGammu(const std::vector<std::string>& pdus) {
  std::vector<DecodedPdu> decoded;
  for (const auto& g : test::GammuDecode(pdus)) {
    DecodedPdu d;
    d.ok = !g.contains("error");
    if (d.ok) {
      d.number = g.value("number", "");
      d.text_utf8 = g.value("text", "");
    } else {
      d.error = g.value("error", "");
    }
    decoded.push_back(std::move(d));
  }
  return decoded;
}

}  // namespace vestrel::test
