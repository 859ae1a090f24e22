#pragma once
// A hidden window of the utility kind: a message receiver on the
// user-interface thread. Messages sent to it run its handler at once; posted
// ones run from the event loop, in order.

#include <QObject>

#include <cstdint>
#include <functional>

namespace vestrel {

struct TMessage {
  std::uint32_t Msg = 0;
  std::uintptr_t WParam = 0;
  std::intptr_t LParam = 0;
  std::intptr_t Result = 0;
};

class TUtilityWindow : public QObject {
 public:
  using Handler = std::function<void(TMessage&)>;

  explicit TUtilityWindow(Handler handler);
  ~TUtilityWindow() override;

  // Runs the handler now and returns the message's result. User-interface thread only.
  std::intptr_t SendWindowMessage(std::uint32_t msg, std::uintptr_t wparam, std::intptr_t lparam);
  // Queues the message for the event loop; safe from any thread. A message
  // still queued when the window is destroyed is dropped.
  void PostWindowMessage(std::uint32_t msg, std::uintptr_t wparam, std::intptr_t lparam);

 protected:
  void customEvent(QEvent* event) override;

 private:
  Handler handler_;
};

// The default handling of a message nobody handles: its result is zero.
std::intptr_t DefaultWindowProc(const TMessage& message);

}  // namespace vestrel
