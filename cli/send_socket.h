#pragma once
// Sending through a watcher: `vestrel-sms send` hands its SMS to the
// `vestrel-sms watch` that holds the port, over a local socket only this
// user may use, and prints what the watcher got from the modem. The socket
// itself is per OS (send_socket_posix.cpp; on Windows there is none).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vestrel::cli {

struct SendRequest {
  std::string number;  // as typed
  std::string text;    // UTF-8, after standard input was read
  bool json = false;
  bool separate = false;
  bool report = false;
};

// What `send` prints and returns.
struct SendReply {
  int exit_code = 0;
  std::string out;  // standard output
  std::string err;  // standard error
};

// The bytes on the socket: netstrings ("5:hello,") in a fixed order.
std::string EncodeRequest(const SendRequest& request);
std::optional<SendRequest> DecodeRequest(std::string_view bytes);
std::string EncodeReply(const SendReply& reply);
std::optional<SendReply> DecodeReply(std::string_view bytes);

// The socket's file name for a port: one per port, whatever its name holds.
std::string SocketFileName(const std::string& port_name);

// The watcher's side: listens on its own thread; each request is taken on the
// main thread between readings and answered there.
class SendServer {
 public:
  class Pending {
   public:
    virtual ~Pending() = default;
    virtual const SendRequest& Request() const = 0;
    virtual void Answer(const SendReply& reply) = 0;
  };

  // on_request runs on the listening thread after a request was queued.
  // Throws std::runtime_error (UTF-8) when the socket cannot be made or
  // another watcher has it.
  SendServer(const std::string& port_name, std::function<void()> on_request);
  ~SendServer();
  SendServer(const SendServer&) = delete;
  SendServer& operator=(const SendServer&) = delete;

  std::string Path() const;
  // The oldest request not yet taken, or null.
  std::unique_ptr<Pending> Take();
  bool HasPending() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The client's side: the watcher's answer, or nothing when no watcher holds
// the port (the caller then opens it itself).
std::optional<SendReply> SendThroughWatcher(const std::string& port_name,
                                            const SendRequest& request);

}  // namespace vestrel::cli
