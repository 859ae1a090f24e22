#include <stdexcept>

#include "cli/send_socket.h"

namespace vestrel::cli {

// This build has no watcher: every send opens the port itself.
struct SendServer::State {};

SendServer::SendServer(const std::string&, std::function<void()>) {
  throw std::runtime_error("watch is not available in this build");
}

SendServer::~SendServer() = default;

std::string SendServer::Path() const {
  return {};
}

std::unique_ptr<SendServer::Pending> SendServer::Take() {
  return nullptr;
}

bool SendServer::HasPending() const {
  return false;
}

std::optional<SendReply> SendThroughWatcher(const std::string&, const SendRequest&) {
  return std::nullopt;
}

}  // namespace vestrel::cli
