#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "cli/options.h"
#include "cli/send_socket.h"

namespace vestrel::cli {
namespace {

namespace fs = std::filesystem;

// How long a client may take to hand over its request.
constexpr int kRequestWaitMs = 5000;
constexpr std::size_t kMaxRequest = 4 << 20;

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  int Get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

std::string SystemError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// A folder only this user may use: $XDG_RUNTIME_DIR/vestrel, else
// /tmp/vestrel-UID. Empty when none is safe.
fs::path SocketFolder(bool create) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const fs::path folder = runtime && *runtime && fs::path(runtime).is_absolute()
                              ? fs::path(runtime) / "vestrel"
                              : fs::path("/tmp") / ("vestrel-" + std::to_string(::geteuid()));
  if (create) ::mkdir(folder.c_str(), 0700);
  struct stat st {};
  // Someone else's folder, or one others may write to, could hold anyone's
  // socket; root may send through a service's watcher.
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || (st.st_mode & 077) != 0)
    return {};
  if (st.st_uid != ::geteuid() && (create || ::geteuid() != 0)) return {};
  return folder;
}

std::string PortKey(const std::string& port_name) {
  if (port_name.find('/') == std::string::npos) return port_name;
  std::error_code ec;
  const fs::path absolute = fs::absolute(port_name, ec);
  return ec ? port_name : absolute.lexically_normal().string();
}

bool FillAddress(const fs::path& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  const std::string name = path.string();
  if (name.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
  return true;
}

Fd Connect(const fs::path& path) {
  sockaddr_un address;
  if (!FillAddress(path, address)) return Fd();
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0) return Fd();
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return Fd();
  return fd;
}

// Only this user (and root) may hand SMS to this user's modem.
bool PeerAllowed(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
  return peer.uid == ::geteuid() || peer.uid == 0;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Everything until the peer's end; wait_ms < 0: no limit.
std::optional<std::string> ReadAll(int fd, int wait_ms, std::size_t limit) {
  std::string bytes;
  char buffer[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > limit) return std::nullopt;
  }
}

class PendingSend : public SendServer::Pending {
 public:
  PendingSend(Fd fd, SendRequest request) : fd_(std::move(fd)), request_(std::move(request)) {}
  const SendRequest& Request() const override { return request_; }
  // A client that went away misses its answer; the send itself is done.
  void Answer(const SendReply& reply) override { WriteAll(fd_.Get(), EncodeReply(reply)); }

 private:
  Fd fd_;
  SendRequest request_;
};

}  // namespace

struct SendServer::State {
  fs::path path;
  Fd listener;
  Fd stop_read;
  Fd stop_write;
  std::function<void()> on_request;
  mutable std::mutex mutex;
  std::deque<std::unique_ptr<Pending>> queue;
  std::thread thread;

  void Run() {
    for (;;) {
      pollfd p[2] = {{listener.Get(), POLLIN, 0}, {stop_read.Get(), POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (p[1].revents) return;
      Fd client(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (client.Get() < 0 || !PeerAllowed(client.Get())) continue;
      // One slow client holds up the others for a few seconds at most.
      const auto bytes = ReadAll(client.Get(), kRequestWaitMs, kMaxRequest);
      auto request = bytes ? DecodeRequest(*bytes) : std::nullopt;
      if (!request) {
        WriteAll(client.Get(),
                 EncodeReply({kExitPortIo, {}, "the watcher could not read the request\n"}));
        continue;
      }
      {
        std::lock_guard lock(mutex);
        queue.push_back(std::make_unique<PendingSend>(std::move(client), std::move(*request)));
      }
      on_request();
    }
  }
};

SendServer::SendServer(const std::string& port_name, std::function<void()> on_request)
    : state_(std::make_unique<State>()) {
  const fs::path folder = SocketFolder(true);
  if (folder.empty())
    throw std::runtime_error(
        "no private folder for the send socket ($XDG_RUNTIME_DIR/vestrel or "
        "/tmp/vestrel-" +
        std::to_string(::geteuid()) + ")");
  state_->path = folder / SocketFileName(PortKey(port_name));
  state_->on_request = std::move(on_request);
  sockaddr_un address;
  if (!FillAddress(state_->path, address))
    throw std::runtime_error("the socket's name is too long: " + state_->path.string());
  // A socket that nobody answers on is left over from a watcher that died.
  if (Connect(state_->path).Get() >= 0)
    throw std::runtime_error("another watcher holds this port (" + state_->path.string() + ")");
  ::unlink(state_->path.c_str());
  state_->listener = Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (state_->listener.Get() < 0) throw std::runtime_error(SystemError("socket"));
  const mode_t mask = ::umask(077);
  const int bound =
      ::bind(state_->listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::umask(mask);
  if (bound != 0 || ::chmod(state_->path.c_str(), 0600) != 0 ||
      ::listen(state_->listener.Get(), 16) != 0)
    throw std::runtime_error(SystemError("cannot listen on " + state_->path.string()));
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::runtime_error(SystemError("pipe"));
  state_->stop_read = Fd(pipe[0]);
  state_->stop_write = Fd(pipe[1]);
  state_->thread = std::thread([state = state_.get()] { state->Run(); });
}

SendServer::~SendServer() {
  const char byte = 'q';
  [[maybe_unused]] const ssize_t n = ::write(state_->stop_write.Get(), &byte, 1);
  state_->thread.join();
  ::unlink(state_->path.c_str());
  // Requests not taken: their clients learn that nothing was sent.
  for (auto& pending : state_->queue)
    pending->Answer({kExitPortIo, {}, "the watcher stopped before the send; nothing sent\n"});
}

std::string SendServer::Path() const {
  return state_->path.string();
}

std::unique_ptr<SendServer::Pending> SendServer::Take() {
  std::lock_guard lock(state_->mutex);
  if (state_->queue.empty()) return nullptr;
  auto pending = std::move(state_->queue.front());
  state_->queue.pop_front();
  return pending;
}

bool SendServer::HasPending() const {
  std::lock_guard lock(state_->mutex);
  return !state_->queue.empty();
}

std::optional<SendReply> SendThroughWatcher(const std::string& port_name,
                                            const SendRequest& request) {
  const fs::path folder = SocketFolder(false);
  if (folder.empty()) return std::nullopt;
  Fd fd = Connect(folder / SocketFileName(PortKey(port_name)));
  if (fd.Get() < 0) return std::nullopt;
  if (!WriteAll(fd.Get(), EncodeRequest(request)) || ::shutdown(fd.Get(), SHUT_WR) != 0)
    return SendReply{kExitPortIo, {}, "the watcher holding the port did not take the request\n"};
  // The watcher answers once the send is over, after a reading under way.
  const auto bytes = ReadAll(fd.Get(), -1, kMaxRequest);
  const auto reply = bytes ? DecodeReply(*bytes) : std::nullopt;
  if (!reply)
    return SendReply{
        kExitPortIo, {}, "the watcher holding the port ended without telling the result\n"};
  return reply;
}

}  // namespace vestrel::cli
