#include "tray/utility_window.h"

#include <QCoreApplication>
#include <QEvent>

namespace vestrel {
namespace {

const QEvent::Type kPostedMessage = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedMessage : public QEvent {
 public:
  explicit PostedMessage(const TMessage& posted) : QEvent(kPostedMessage), message(posted) {}
  TMessage message;
};

}  // namespace

TUtilityWindow::TUtilityWindow(Handler handler) : handler_(std::move(handler)) {}

// QObject's destructor removes the events still posted to it.
TUtilityWindow::~TUtilityWindow() = default;

std::intptr_t TUtilityWindow::SendWindowMessage(std::uint32_t msg, std::uintptr_t wparam,
                                                std::intptr_t lparam) {
  TMessage message{msg, wparam, lparam, 0};
  handler_(message);
  return message.Result;
}

void TUtilityWindow::PostWindowMessage(std::uint32_t msg, std::uintptr_t wparam,
                                       std::intptr_t lparam) {
  QCoreApplication::postEvent(this, new PostedMessage(TMessage{msg, wparam, lparam, 0}));
}

void TUtilityWindow::customEvent(QEvent* event) {
  if (event->type() != kPostedMessage) return QObject::customEvent(event);
  handler_(static_cast<PostedMessage*>(event)->message);
}

std::intptr_t DefaultWindowProc(const TMessage&) {
  return 0;
}

}  // namespace vestrel
