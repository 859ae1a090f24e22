#pragma once
// The hidden receiver of a port under smWindowSync: a message target owned by
// the user-interface thread. Another thread reaches it through the platform's
// queue of work for that thread and is released at the reply, which the
// receiver gives before it runs the handlers.

#include <cstdint>
#include <memory>

namespace vestrel {

class TBComPort;

struct NotifyChannel;

class NotifyWindow {
 public:
  explicit NotifyWindow(TBComPort* port);
  NotifyWindow(const NotifyWindow&) = delete;
  NotifyWindow& operator=(const NotifyWindow&) = delete;
  // Messages still on their way are answered without reaching the port.
  ~NotifyWindow();

  std::shared_ptr<NotifyChannel> Channel() const { return channel_; }

 private:
  std::shared_ptr<NotifyChannel> channel_;
};

// Any thread: delivers the message and returns its result once the receiver
// has replied. On the receiver's own thread the procedure is called directly.
std::intptr_t SendChannelMessage(const std::shared_ptr<NotifyChannel>& channel, std::uint32_t msg,
                                 std::uintptr_t wparam, std::intptr_t lparam);

// Inside the procedure: whether the message came from another thread, and
// releasing that sender at once with the given result.
bool InSendMessage();
void ReplyMessage(std::intptr_t result);

// The port's receiver procedure; answers 0 to messages it does not know.
std::intptr_t EventWindowProc(TBComPort* port, std::uint32_t msg, std::uintptr_t wparam,
                              std::intptr_t lparam);

}  // namespace vestrel
