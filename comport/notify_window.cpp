#include "comport/notify_window.h"

#include <condition_variable>
#include <exception>
#include <mutex>

#include "comport/b_com_port.h"
#include "platform/exceptions.h"
#include "platform/sync.h"

namespace vestrel {

struct NotifyChannel {
  // Touched only on the user-interface thread; null once the window is gone.
  TBComPort* port = nullptr;
};

namespace {

// The answer a sending thread waits for.
struct Reply {
  std::mutex mutex;
  std::condition_variable cv;
  bool replied = false;
  std::intptr_t result = 0;

  void Give(std::intptr_t value) {
    {
      std::lock_guard lock(mutex);
      if (replied) return;
      replied = true;
      result = value;
    }
    cv.notify_all();
  }
};

// The reply of the message being handled on this thread, if it was sent from
// another thread.
thread_local Reply* current_reply = nullptr;

std::intptr_t CallProcedure(const std::shared_ptr<NotifyChannel>& channel, std::uint32_t msg,
                            std::uintptr_t wparam, std::intptr_t lparam) {
  if (!channel->port) return 0;  // destroyed: nothing is dispatched
  return EventWindowProc(channel->port, msg, wparam, lparam);
}

}  // namespace

NotifyWindow::NotifyWindow(TBComPort* port) : channel_(std::make_shared<NotifyChannel>()) {
  channel_->port = port;
}

NotifyWindow::~NotifyWindow() {
  channel_->port = nullptr;
}

std::intptr_t SendChannelMessage(const std::shared_ptr<NotifyChannel>& channel, std::uint32_t msg,
                                 std::uintptr_t wparam, std::intptr_t lparam) {
  if (platform::IsUiThread()) return CallProcedure(channel, msg, wparam, lparam);
  auto reply = std::make_shared<Reply>();
  platform::Queue([channel, reply, msg, wparam, lparam] {
    Reply* outer = current_reply;
    current_reply = reply.get();
    std::intptr_t result = 0;
    try {
      result = CallProcedure(channel, msg, wparam, lparam);
    } catch (...) {
      // The procedure catches what the handlers throw; anything else must not
      // leave the sender waiting.
      current_reply = outer;
      reply->Give(0);
      throw;
    }
    current_reply = outer;
    reply->Give(result);
  });
  std::unique_lock lock(reply->mutex);
  reply->cv.wait(lock, [&] { return reply->replied; });
  return reply->result;
}

bool InSendMessage() {
  return current_reply != nullptr;
}

void ReplyMessage(std::intptr_t result) {
  if (current_reply) current_reply->Give(result);
}

std::intptr_t EventWindowProc(TBComPort* port, std::uint32_t msg, std::uintptr_t wparam,
                              std::intptr_t /*lparam*/) {
  if (msg != TBComPort::kComEventMessage) return 0;
  try {
    if (InSendMessage()) ReplyMessage(0);
    if (!port->Connected()) return 0;
    for (TComEvent event : kDeliveryOrder) {
      if (EventFlag(event) == wparam) {
        port->DispatchEvent(event);
        break;
      }
    }
  } catch (...) {
    platform::HandleException(std::current_exception());
  }
  return 0;
}

}  // namespace vestrel
