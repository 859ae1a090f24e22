#include "tools/modem-sim/sim_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tools/modem-sim/text_codec.h"

namespace vestrel::sim {
namespace {

// With no client on the slave, the master reports a hang-up on every poll;
// the loop then looks again at this interval for the next client.
constexpr int kReconnectPollMs = 10;
constexpr auto kHangupGrace = std::chrono::seconds(3);

}  // namespace

SimLoop::SimLoop(int master_fd, std::string slave_path, int stop_fd, const Scenario& scenario,
                 Modem& modem, Transcript& transcript)
    : master_(master_fd),
      slave_path_(std::move(slave_path)),
      stop_fd_(stop_fd),
      scenario_(scenario),
      modem_(modem),
      transcript_(transcript),
      // 8N1: a start bit, eight data bits and a stop bit for every byte.
      byte_time_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(10.0 / std::max(scenario.baud, 1)))) {}

SimLoop::~SimLoop() = default;

bool SimLoop::AnswerPending() const {
  return std::any_of(out_.begin(), out_.end(), [](const Segment& s) { return s.answer; });
}

void SimLoop::Deliver(const ModemOutput& out) {
  const auto now = Clock::now();
  if (!out.echo.empty()) {
    if (!out_.empty() && !out_.back().answer && !out_.back().hangup) {
      out_.back().bytes += out.echo;  // one write for a whole echoed line
    } else {
      out_.push_back({out.echo, now, false, false});
    }
  }
  if (!out.answered) return;
  auto due = now + std::chrono::milliseconds(scenario_.answer_delay_ms);
  const std::string& a = out.answer;
  if (scenario_.split_bytes > 0 && a.size() > static_cast<std::size_t>(scenario_.split_bytes)) {
    for (std::size_t pos = 0; pos < a.size(); pos += scenario_.split_bytes) {
      out_.push_back({a.substr(pos, scenario_.split_bytes), due, true, false});
      due += std::chrono::milliseconds(scenario_.split_delay_ms);
    }
  } else {
    out_.push_back({a, due, true, false});
  }
  out_.back().hangup = out.hangup;
}

void SimLoop::FeedInput() {
  std::size_t used = 0;
  while (used < in_.size() && master_ >= 0 && !AnswerPending()) {
    ModemOutput out;
    modem_.Feed(in_[used++], out);
    Deliver(out);
  }
  in_.erase(0, used);
}

void SimLoop::WriteDue() {
  while (!out_.empty() && master_ >= 0 && !client_gone_) {
    Segment& seg = out_.front();
    const auto now = Clock::now();
    if (seg.due > now) return;
    if (!seg.bytes.empty()) {
      std::size_t n = seg.bytes.size();
      if (scenario_.pacing) {
        if (line_free_ > now) return;
        n = 1;  // one byte per character time
      }
      const ssize_t w = write(master_, seg.bytes.data(), n);
      if (w < 0) {
        if (errno == EAGAIN || errno == EINTR) {
          want_write_ = errno == EAGAIN;
          return;
        }
        if (errno == EIO) {
          ClientGone();
          return;
        }
        throw std::runtime_error(std::string("write to the pty: ") + std::strerror(errno));
      }
      want_write_ = false;
      transcript_.Write({{"type", "tx"}, {"data", Latin1ToUtf8(seg.bytes.substr(0, w))}});
      if (scenario_.pacing) line_free_ = std::max(now, line_free_) + byte_time_ * w;
      seg.bytes.erase(0, static_cast<std::size_t>(w));
      if (!seg.bytes.empty()) continue;
    }
    const bool hangup = seg.hangup;
    out_.pop_front();
    if (hangup) {
      HangUp();
      return;
    }
    FeedInput();
  }
}

void SimLoop::ReadInput() {
  char buf[4096];
  for (;;) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n > 0) {
      const std::string block(buf, static_cast<std::size_t>(n));
      transcript_.Write({{"type", "rx"}, {"data", Latin1ToUtf8(block)}});
      in_ += block;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EIO) ClientGone();
    return;  // EAGAIN: all read
  }
}

void SimLoop::ClientGone() {
  if (client_gone_) return;
  client_gone_ = true;
  std::size_t dropped = 0;
  for (const auto& s : out_) dropped += s.bytes.size();
  bool hangup = std::any_of(out_.begin(), out_.end(), [](const Segment& s) { return s.hangup; });
  out_.clear();
  // What the client wrote before it went is still carried out; the answers go nowhere.
  for (char c : in_) {
    ModemOutput out;
    modem_.Feed(c, out);
    hangup = hangup || out.hangup;
    dropped += out.echo.size() + out.answer.size();
  }
  in_.clear();
  modem_.LineDropped();
  FlushSlaveInput();
  transcript_.Write({{"type", "client_closed"}, {"dropped_bytes", dropped}});
  if (hangup) HangUp();
}

// A pty keeps what the client left unread for whoever opens the slave next;
// a serial line loses it when the port closes.
void SimLoop::FlushSlaveInput() {
  const int fd = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  tcflush(fd, TCIFLUSH);
  close(fd);
}

// Closing the master throws away what the slave has not read yet, unlike a
// modem that hangs up after its last byte left. So give the client time to
// take the answer first.
void SimLoop::AwaitClientRead() {
  const int fd = open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  // Bytes written to the master reach the slave's queue a little later, so
  // the queue must be seen empty twice, a few milliseconds apart.
  const auto deadline = Clock::now() + kHangupGrace;
  int empty_checks = 0;
  while (empty_checks < 2 && Clock::now() < deadline) {
    poll(nullptr, 0, 10);
    int unread = 0;
    if (ioctl(fd, FIONREAD, &unread) != 0) break;
    empty_checks = unread == 0 ? empty_checks + 1 : 0;
  }
  close(fd);
}

void SimLoop::HangUp() {
  if (master_ >= 0 && !client_gone_) AwaitClientRead();
  if (master_ >= 0) close(master_);
  master_ = -1;
  out_.clear();
  in_.clear();
  transcript_.Write({{"type", "hangup"}});
}

int SimLoop::PollTimeoutMs() const {
  int timeout = -1;
  if (!out_.empty() && !client_gone_) {
    auto next = out_.front().due;
    if (scenario_.pacing) next = std::max(next, line_free_);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    timeout = static_cast<int>(std::max<long long>(0, wait));
  }
  if (client_gone_ && master_ >= 0) {
    timeout = timeout < 0 ? kReconnectPollMs : std::min(timeout, kReconnectPollMs);
  }
  return timeout;
}

void SimLoop::Run() {
  for (;;) {
    FeedInput();
    WriteDue();

    pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {master_, 0, 0}};
    nfds_t count = 1;
    if (master_ >= 0 && !client_gone_) {
      fds[1].events = static_cast<short>(POLLIN | (want_write_ ? POLLOUT : 0));
      count = 2;
    }
    const int rc = poll(fds, count, PollTimeoutMs());
    if (rc < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    }
    if (fds[0].revents) return;

    if (master_ >= 0 && client_gone_) {
      pollfd probe{master_, POLLIN, 0};
      if (poll(&probe, 1, 0) >= 0 && !(probe.revents & POLLHUP)) {
        client_gone_ = false;
        transcript_.Write({{"type", "client_opened"}});
      }
      continue;
    }
    if (count == 2) {
      if (fds[1].revents & POLLIN) ReadInput();
      if (!client_gone_ && (fds[1].revents & (POLLHUP | POLLERR))) ClientGone();
      if (fds[1].revents & POLLNVAL) {
        throw std::runtime_error("the pty master is no longer open");
      }
    }
  }
}

}  // namespace vestrel::sim
