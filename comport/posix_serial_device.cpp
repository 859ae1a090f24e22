// The serial device on POSIX systems (Linux): termios in raw mode, exclusive
// open by TIOCEXCL plus flock, and line events from an edge-triggered epoll
// set that also holds a stop descriptor.
#include "comport/posix_serial_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <mutex>
#include <set>

#include "comport/line_events.h"
#include "comport/posix_custom_rate.h"

namespace vestrel {

std::string DevicePathForPort(const std::string& port) {
  if (!port.empty() && port[0] == '/') return port;
  if (port.size() > 3 && std::toupper(static_cast<unsigned char>(port[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(port[1])) == 'O' &&
      std::toupper(static_cast<unsigned char>(port[2])) == 'M' && port.size() <= 12) {
    bool digits = true;
    for (std::size_t i = 3; i < port.size(); ++i)
      digits = digits && std::isdigit(static_cast<unsigned char>(port[i]));
    if (digits) {
      const unsigned long n = std::stoul(port.substr(3));
      if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
  }
  return "/dev/" + port;
}

OpenError OpenErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return OpenError::kNotFound;
    case EBUSY:
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
      return OpenError::kBusy;
    case EACCES:
    case EPERM:
      return OpenError::kAccessDenied;
    default:
      return OpenError::kOther;
  }
}

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, clipped for poll(); -1 without deadline.
int RemainingMs(bool limited, Clock::time_point deadline) {
  if (!limited) return -1;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Now plus ms; limits beyond a century (a multiplier of 4294967295 with a
// large count) are clipped so that the clock arithmetic cannot overflow.
Clock::time_point Deadline(std::uint64_t ms) {
  constexpr std::uint64_t kCentury = 100ull * 365 * 24 * 3600 * 1000;
  return Clock::now() +
         std::chrono::milliseconds(static_cast<std::int64_t>(std::min(ms, kCentury)));
}

// The other end has gone (pty master closed, device removed): every call on
// the descriptor fails from now on and poll() reports a hang-up.
bool HungUp(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
}

bool IsPtySlave(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  return m >= 136 && m <= 143;  // Unix98 pty slaves
}

speed_t StandardSpeed(std::uint32_t rate) {
  switch (rate) {
    case 110:
      return B110;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return B0;
  }
}

class PendingTransfer;

// State shared by the device and its event waiters.
struct Core {
  std::atomic<int> fd{-1};
  int kick_fd = -1;  // wakes waiters for events raised outside the wait
  bool is_pty = false;
  std::atomic<std::uint32_t> mask{0};
  std::atomic<std::uint32_t> posted{0};
  std::atomic<bool> tx_pending{false};

  std::mutex mutex;  // guards everything below
  CommTimeouts timeouts;
  std::uint32_t in_queue_size = 0;
  bool rx80_reported = false;
  LineEvents line_events;
  // Transfers waiting for the line, and how many aborts each kind has seen.
  std::set<PendingTransfer*> pending;
  std::uint64_t write_aborts = 0;
  std::uint64_t read_aborts = 0;

  ~Core() {
    if (kick_fd >= 0) ::close(kick_fd);
  }

  // After a read: once the queue is below the 80 % mark again, the next
  // filling is reported anew. Until a filling has been reported there is
  // nothing to re-arm, and the queue is not asked.
  void InputDrained(int dev) {
    {
      std::lock_guard lock(mutex);
      if (!rx80_reported) return;
    }
    int waiting = 0;
    if (ioctl(dev, FIONREAD, &waiting) != 0) return;
    std::lock_guard lock(mutex);
    if (static_cast<std::uint64_t>(waiting) * 5 < std::uint64_t{in_queue_size} * 4)
      rx80_reported = false;
  }

  void Kick() {
    const std::uint64_t one = 1;
    if (kick_fd >= 0) (void)!::write(kick_fd, &one, sizeof one);
  }

  // Looks at the modem lines and error counters; a change is kept in
  // line_events until the wait takes it. Returns true when there was one.
  // Pseudo-terminals have neither.
  bool NoteLineChanges(int dev) {
    if (is_pty) return false;
    LineSample sample;
    serial_icounter_struct icount{};
    if (ioctl(dev, TIOCGICOUNT, &icount) == 0) {
      sample.have_counters = true;
      sample.ring = static_cast<std::uint32_t>(icount.rng);
      sample.frame = static_cast<std::uint32_t>(icount.frame);
      sample.parity = static_cast<std::uint32_t>(icount.parity);
      sample.overrun = static_cast<std::uint32_t>(icount.overrun);
      sample.rx_over = static_cast<std::uint32_t>(icount.buf_overrun);
      sample.brk = static_cast<std::uint32_t>(icount.brk);
    }
    int lines = 0;
    if (ioctl(dev, TIOCMGET, &lines) == 0) {
      sample.have_lines = true;
      if (lines & TIOCM_CTS) sample.modem_status |= kMsCtsOn;
      if (lines & TIOCM_DSR) sample.modem_status |= kMsDsrOn;
      if (lines & TIOCM_RNG) sample.modem_status |= kMsRingOn;
      if (lines & TIOCM_CAR) sample.modem_status |= kMsRlsdOn;
    }
    std::lock_guard lock(mutex);
    return line_events.Note(sample);
  }

  std::uint32_t TakeLineEvents() {
    std::lock_guard lock(mutex);
    return line_events.TakeEvents();
  }
};

// A read or write that has to wait for the line. PurgeComm's abort flags end
// the wait; an abort that came after the transfer started but before it began
// to wait counts too.
class PendingTransfer {
 public:
  PendingTransfer(Core& core, bool write) : core_(core), write_(write) {
    std::lock_guard lock(core_.mutex);
    aborts_at_start_ = Aborts();
  }
  ~PendingTransfer() {
    if (event_fd_ < 0) return;
    {
      std::lock_guard lock(core_.mutex);
      core_.pending.erase(this);
    }
    ::close(event_fd_);
  }
  PendingTransfer(const PendingTransfer&) = delete;
  PendingTransfer& operator=(const PendingTransfer&) = delete;

  bool write() const { return write_; }
  void Abort() {
    const std::uint64_t one = 1;
    (void)!::write(event_fd_, &one, sizeof one);
  }

  // poll() on the device for events, or the abort, up to ms (-1: no limit).
  int Wait(int fd, short events, int ms, bool* aborted) {
    *aborted = false;
    if (event_fd_ < 0) {
      event_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      std::lock_guard lock(core_.mutex);
      if (Aborts() != aborts_at_start_) {
        *aborted = true;
        return 1;
      }
      if (event_fd_ >= 0) core_.pending.insert(this);
    }
    pollfd p[2] = {{fd, events, 0}, {event_fd_, POLLIN, 0}};
    const int r = poll(p, event_fd_ >= 0 ? 2 : 1, ms);
    if (r > 0 && event_fd_ >= 0 && (p[1].revents & POLLIN)) *aborted = true;
    revents_ = p[0].revents;
    return r;
  }
  short revents() const { return revents_; }

 private:
  std::uint64_t Aborts() const { return write_ ? core_.write_aborts : core_.read_aborts; }

  Core& core_;
  bool write_;
  std::uint64_t aborts_at_start_ = 0;
  int event_fd_ = -1;
  short revents_ = 0;
};

class PosixEventWaiter : public EventWaiter {
 public:
  PosixEventWaiter(std::shared_ptr<Core> core, int epoll_fd, int stop_fd, int dev)
      : core_(std::move(core)), epoll_fd_(epoll_fd), stop_fd_(stop_fd), dev_(dev) {}
  ~PosixEventWaiter() override {
    ::close(epoll_fd_);
    ::close(stop_fd_);
  }

  WaitOutcome Wait(std::uint32_t* events) override {
    *events = 0;
    for (;;) {
      epoll_event ready[4];
      const int n = epoll_wait(epoll_fd_, ready, 4, -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        return WaitOutcome::kFailed;
      }
      bool stop = false, kicked = false, in = false, out = false, hang_up = false;
      for (int i = 0; i < n; ++i) {
        const int fd = ready[i].data.fd;
        if (fd == stop_fd_) {
          stop = true;  // never drained: every later wait ends too
        } else if (fd == core_->kick_fd) {
          std::uint64_t count;
          (void)!::read(core_->kick_fd, &count, sizeof count);
          kicked = true;
        } else if (fd == dev_) {
          const std::uint32_t e = ready[i].events;
          if (e & (EPOLLHUP | EPOLLERR)) hang_up = true;
          if (e & EPOLLIN) in = true;
          if (e & EPOLLOUT) out = true;
        }
      }
      if (stop) return WaitOutcome::kStopped;
      const int dev = core_->fd.load();
      if (dev < 0) return WaitOutcome::kFailed;
      if (hang_up) return WaitOutcome::kHangUp;

      std::uint32_t ev = core_->posted.exchange(0);
      if (in) ev |= kEvRxChar;
      if (in || out || kicked) ev |= Rx80Full(dev);
      if ((in || out) && core_->tx_pending.load()) {
        int queued = 0;
        if (ioctl(dev, TIOCOUTQ, &queued) == 0 && queued == 0 && core_->tx_pending.exchange(false))
          ev |= kEvTxEmpty;
      }
      core_->NoteLineChanges(dev);
      ev |= core_->TakeLineEvents();
      ev &= core_->mask.load();
      if (ev) {
        *events = ev;
        return WaitOutcome::kEvents;
      }
    }
  }

  void Stop() override {
    const std::uint64_t one = 1;
    (void)!::write(stop_fd_, &one, sizeof one);
  }

 private:
  // Raised once when the bytes waiting reach 80 % of the requested queue.
  std::uint32_t Rx80Full(int dev) {
    int waiting = 0;
    if (ioctl(dev, FIONREAD, &waiting) != 0) return 0;
    std::lock_guard lock(core_->mutex);
    const std::uint64_t limit = core_->in_queue_size;
    const bool full = limit > 0 && static_cast<std::uint64_t>(waiting) * 5 >= limit * 4;
    if (!full) {
      core_->rx80_reported = false;
      return 0;
    }
    if (core_->rx80_reported) return 0;
    core_->rx80_reported = true;
    return kEvRx80Full;
  }

  std::shared_ptr<Core> core_;
  int epoll_fd_;
  int stop_fd_;
  int dev_;
};

class PosixSerialDevice : public SerialDevice {
 public:
  PosixSerialDevice(int fd, bool is_pty, bool have_saved, const termios& saved)
      : core_(std::make_shared<Core>()), have_saved_(have_saved), saved_(saved) {
    core_->fd.store(fd);
    core_->is_pty = is_pty;
    core_->kick_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  }
  ~PosixSerialDevice() override { Close(); }

  bool SetupComm(std::uint32_t in_queue, std::uint32_t /*out_queue*/) override {
    // The driver's queues have fixed sizes; the request is kept for the
    // 80 % mark of the input queue.
    if (core_->fd.load() < 0) return Fail(EBADF);
    std::lock_guard lock(core_->mutex);
    core_->in_queue_size = in_queue;
    return true;
  }

  bool SetCommState(const DeviceControlBlock& dcb) override {
    const int fd = core_->fd.load();
    if (fd < 0) return Fail(EBADF);
    termios t;
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (dcb.ByteSize) {
      case 5:
        t.c_cflag |= CS5;
        break;
      case 6:
        t.c_cflag |= CS6;
        break;
      case 7:
        t.c_cflag |= CS7;
        break;
      case 8:
        t.c_cflag |= CS8;
        break;
      default:
        return Fail(EINVAL);
    }
    switch (dcb.Parity) {
      case 0:
        break;
      case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
      case 2:
        t.c_cflag |= PARENB;
        break;
      case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
      case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
      default:
        return Fail(EINVAL);
    }
    FramingAsTheLineTakesIt(&t);
    if (dcb.Flags & kDcbParity)
      t.c_iflag |= INPCK;
    else
      t.c_iflag &= ~INPCK;
    switch (dcb.StopBits) {
      case 0:
        break;
      case 1:  // one and a half: what a UART sends for two at five data bits
      case 2:
        t.c_cflag |= CSTOPB;
        break;
      default:
        return Fail(EINVAL);
    }
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const speed_t speed = StandardSpeed(dcb.BaudRate);
    const bool custom = speed == B0;
    if (dcb.BaudRate == 0) return Fail(EINVAL);
    // Both directions at one rate: a separate input rate left over from a
    // rate without a Bxxx constant would otherwise stay in force.
    t.c_cflag &= ~CIBAUD;
    cfsetispeed(&t, custom ? B38400 : speed);
    cfsetospeed(&t, custom ? B38400 : speed);
    if (tcsetattr(fd, TCSANOW, &t) != 0) return false;
    if (custom && !SetCustomBaudRate(fd, dcb.BaudRate)) return false;
    int bits = 0;
    if (dcb.Flags & kDcbDtrControlEnable) bits |= TIOCM_DTR;
    if (dcb.Flags & kDcbRtsControlEnable) bits |= TIOCM_RTS;
    if (bits && !ModemBits(TIOCMBIS, bits)) return false;
    return true;
  }

  bool SetCommTimeouts(const CommTimeouts& timeouts) override {
    if (core_->fd.load() < 0) return Fail(EBADF);
    std::lock_guard lock(core_->mutex);
    core_->timeouts = timeouts;
    return true;
  }

  bool EscapeCommFunction(std::uint32_t function) override {
    switch (function) {
      case kSetRts:
        return ModemBits(TIOCMBIS, TIOCM_RTS);
      case kClrRts:
        return ModemBits(TIOCMBIC, TIOCM_RTS);
      case kSetDtr:
        return ModemBits(TIOCMBIS, TIOCM_DTR);
      case kClrDtr:
        return ModemBits(TIOCMBIC, TIOCM_DTR);
      default:
        return Fail(EINVAL);
    }
  }

  bool PurgeComm(std::uint32_t flags) override {
    const int fd = core_->fd.load();
    if (fd < 0) return Fail(EBADF);
    if (flags & (kPurgeTxAbort | kPurgeRxAbort)) {
      // Transfers of other threads that wait for the line end now and fail.
      std::lock_guard lock(core_->mutex);
      if (flags & kPurgeTxAbort) ++core_->write_aborts;
      if (flags & kPurgeRxAbort) ++core_->read_aborts;
      for (PendingTransfer* t : core_->pending)
        if (t->write() ? (flags & kPurgeTxAbort) : (flags & kPurgeRxAbort)) t->Abort();
    }
    const bool tx = flags & kPurgeTxClear, rx = flags & kPurgeRxClear;
    if (tx || rx) return tcflush(fd, tx && rx ? TCIOFLUSH : (tx ? TCOFLUSH : TCIFLUSH)) == 0;
    return true;
  }

  bool SetCommMask(std::uint32_t mask) override {
    if (core_->fd.load() < 0) return Fail(EBADF);
    core_->mask.store(mask);
    return true;
  }

  bool ClearCommError(std::uint32_t* errors, std::uint32_t* in_queue) override {
    const int fd = core_->fd.load();
    if (fd < 0) return Fail(EBADF);
    int waiting = 0;
    if (ioctl(fd, FIONREAD, &waiting) != 0) {
      // A line that hung up holds nothing more; the event thread reports the
      // loss itself, once.
      if (!HungUp(fd)) return false;
      waiting = 0;
    }
    // Changes seen here are raised by the wait, which is woken for them.
    if (core_->NoteLineChanges(fd)) core_->Kick();
    std::lock_guard lock(core_->mutex);
    const std::uint32_t word = core_->line_events.TakeErrorWord();
    if (errors) *errors = word;
    if (in_queue) *in_queue = static_cast<std::uint32_t>(waiting);
    return true;
  }

  bool GetCommModemStatus(std::uint32_t* status) override {
    const int fd = core_->fd.load();
    if (fd < 0) return Fail(EBADF);
    *status = 0;
    if (core_->is_pty) return true;  // no modem lines: all off
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) != 0) return HungUp(fd);  // a lost line: all off
    if (lines & TIOCM_CTS) *status |= kMsCtsOn;
    if (lines & TIOCM_DSR) *status |= kMsDsrOn;
    if (lines & TIOCM_RNG) *status |= kMsRingOn;
    if (lines & TIOCM_CAR) *status |= kMsRlsdOn;
    return true;
  }

  bool Write(const char* data, std::uint32_t count, std::uint32_t* written) override {
    *written = 0;
    const int fd = core_->fd.load();
    if (fd < 0) return Fail(EBADF);
    CommTimeouts t;
    {
      std::lock_guard lock(core_->mutex);
      t = core_->timeouts;
    }
    const std::uint64_t total_ms =
        std::uint64_t{t.WriteTotalTimeoutMultiplier} * count + t.WriteTotalTimeoutConstant;
    const bool limited = total_ms != 0;
    const auto deadline = Deadline(limited ? total_ms : 0);
    PendingTransfer transfer(*core_, true);
    std::uint32_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd, data + done, count - done);
      if (n > 0) {
        done += static_cast<std::uint32_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
      const int wait_ms = RemainingMs(limited, deadline);
      if (wait_ms == 0) break;  // time-out: the smaller count is the result
      bool aborted = false;
      const int r = transfer.Wait(fd, POLLOUT, wait_ms, &aborted);
      if (aborted) return Fail(ECANCELED);
      if (r < 0 && errno != EINTR) return false;
      if (r == 0) break;
    }
    *written = done;
    if (done > 0) {
      int queued = 0;
      if (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued == 0) {
        core_->posted.fetch_or(kEvTxEmpty);
        core_->Kick();
      } else {
        core_->tx_pending.store(true);
      }
    }
    return true;
  }

  bool Read(char* data, std::uint32_t count, std::uint32_t* read) override {
    *read = 0;
    const int fd = core_->fd.load();
    if (fd < 0) return Fail(EBADF);
    CommTimeouts t;
    {
      std::lock_guard lock(core_->mutex);
      t = core_->timeouts;
    }
    // The device time-outs: interval kMaxDword with both totals 0 returns at
    // once; interval and multiplier kMaxDword wait up to the constant for the
    // first byte only; otherwise a total limit (0 and 0: none) and a limit
    // between bytes (0: none) once the first byte is in.
    const bool at_once = t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                         t.ReadTotalTimeoutConstant == 0;
    const bool first_only =
        t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMaxDword;
    std::uint64_t total_ms = 0;
    std::uint32_t interval_ms = 0;
    if (first_only) {
      total_ms = t.ReadTotalTimeoutConstant;
    } else if (!at_once) {
      total_ms = std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
      interval_ms = t.ReadIntervalTimeout == kMaxDword ? 0 : t.ReadIntervalTimeout;
    }
    const bool total_limited = total_ms != 0;
    const auto deadline = Deadline(total_ms);
    PendingTransfer transfer(*core_, false);
    std::uint32_t done = 0;
    for (;;) {
      while (done < count) {
        const ssize_t n = ::read(fd, data + done, count - done);
        if (n > 0) {
          done += static_cast<std::uint32_t>(n);
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
          if (done > 0) break;
          return false;
        }
        break;  // nothing more right now (0 is "empty" with VMIN 0, not end)
      }
      if (done == count || at_once || (first_only && done > 0)) break;
      int wait_ms = RemainingMs(total_limited, deadline);
      if (total_limited && wait_ms == 0) break;
      if (done > 0 && interval_ms != 0 &&
          (wait_ms < 0 || static_cast<std::uint32_t>(wait_ms) > interval_ms))
        wait_ms = static_cast<int>(interval_ms > INT_MAX ? INT_MAX : interval_ms);
      bool aborted = false;
      const int r = transfer.Wait(fd, POLLIN, wait_ms, &aborted);
      if (aborted) return Fail(ECANCELED);
      if (r < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (r == 0) {
        if (done > 0 && interval_ms != 0) break;  // the gap between bytes ran out
        if (total_limited) break;
        continue;
      }
      const short revents = transfer.revents();
      if ((revents & (POLLHUP | POLLERR | POLLNVAL)) && !(revents & POLLIN)) {
        if (done > 0) break;
        return Fail(EIO);
      }
    }
    *read = done;
    if (done > 0) core_->InputDrained(fd);
    return true;
  }

  std::unique_ptr<EventWaiter> CreateEventWaiter() override {
    const int fd = core_->fd.load();
    if (fd < 0) return nullptr;
    const int epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd < 0) return nullptr;
    const int stop_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop_fd < 0) {
      ::close(epoll_fd);
      return nullptr;
    }
    // Edge-triggered on the device: each arrival of bytes is one event,
    // however long earlier bytes stay unread (a level-triggered wait would
    // spin while they wait).
    epoll_event e{};
    bool ok = true;
    e.events = EPOLLIN;
    e.data.fd = stop_fd;
    ok = ok && epoll_ctl(epoll_fd, EPOLL_CTL_ADD, stop_fd, &e) == 0;
    e.data.fd = core_->kick_fd;
    ok = ok && core_->kick_fd >= 0 && epoll_ctl(epoll_fd, EPOLL_CTL_ADD, core_->kick_fd, &e) == 0;
    e.events = EPOLLIN | EPOLLOUT | EPOLLET;
    e.data.fd = fd;
    ok = ok && epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &e) == 0;
    if (!ok) {
      ::close(epoll_fd);
      ::close(stop_fd);
      return nullptr;
    }
    return std::make_unique<PosixEventWaiter>(core_, epoll_fd, stop_fd, fd);
  }

  void Close() override {
    const int fd = core_->fd.exchange(-1);
    if (fd < 0) return;
    if (have_saved_) tcsetattr(fd, TCSANOW, &saved_);
    // The exclusive flag belongs to the terminal, not to this descriptor: a
    // pty slave would otherwise stay barred while its master lives.
    (void)ioctl(fd, TIOCNXCL);
    ::close(fd);  // also drops the flock
    core_->Kick();
  }

 private:
  static bool Fail(int error) {
    errno = error;
    return false;
  }

  // What the backend lets pass on lines that cannot do it, and only there:
  // a pseudo-terminal has no modem lines and no character framing, and a line
  // that hung up has nothing left to set.

  bool ModemBits(unsigned long request, int bits) {
    const int fd = core_->fd.load();
    if (fd < 0) return Fail(EBADF);
    if (ioctl(fd, request, &bits) == 0) return true;
    // A pseudo-terminal has no modem lines: setting or clearing one is done.
    if (core_->is_pty && (errno == ENOTTY || errno == EINVAL)) return true;
    return HungUp(fd);
  }

  // A pseudo-terminal carries 8-bit bytes: its driver forces 8 data bits
  // without a parity bit, and the C library reports a call as failed when the
  // driver took none of its changes (so a framing change alone fails while
  // open, but passes at Open along with raw mode). The framing asked for is
  // accepted without being passed on, at Open and while open alike; the input
  // check (INPCK) and the stop bits are still set.
  void FramingAsTheLineTakesIt(termios* t) const {
    if (!core_->is_pty) return;
    t->c_cflag &= ~(CSIZE | PARENB);
    t->c_cflag |= CS8;
  }

  std::shared_ptr<Core> core_;
  bool have_saved_;
  termios saved_;
};

class PosixDeviceFactory : public SerialDeviceFactory {
 public:
  std::shared_ptr<SerialDevice> Open(const std::string& port, OpenError* error) override {
    const std::string path = DevicePathForPort(port);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      *error = OpenErrorFromErrno(errno);
      return nullptr;
    }
    // The lock holds for root too, across processes that use it; TIOCEXCL
    // then keeps other opens out except root's. The flag belongs to the
    // terminal, not to this descriptor, so it is set only once the lock is
    // ours: a failed open must leave the terminal as it found it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      ::close(fd);
      *error = OpenErrorFromErrno(e);
      return nullptr;
    }
    (void)ioctl(fd, TIOCEXCL);
    termios saved{};
    const bool have_saved = tcgetattr(fd, &saved) == 0;
    *error = OpenError::kNone;
    try {
      return std::make_shared<PosixSerialDevice>(fd, IsPtySlave(fd), have_saved, saved);
    } catch (...) {
      (void)ioctl(fd, TIOCNXCL);
      ::close(fd);
      throw;
    }
  }
};

}  // namespace

std::shared_ptr<SerialDeviceFactory> CreateSystemDeviceFactory() {
  return std::make_shared<PosixDeviceFactory>();
}

}  // namespace vestrel
