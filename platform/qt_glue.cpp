#include "platform/qt_glue.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <utility>
#include <vector>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
// Qt's event queue hands the posted event to the user-interface thread under
// Qt's own lock, which ThreadSanitizer cannot see in the uninstrumented Qt
// libraries; these tell it about that hand-over.
#define VESTREL_HAND_OVER(p) __tsan_release(p)
#define VESTREL_TAKE_OVER(p) __tsan_acquire(p)
#else
#define VESTREL_HAND_OVER(p) ((void)(p))
#define VESTREL_TAKE_OVER(p) ((void)(p))
#endif

#include "platform/cp1251.h"
#include "platform/messages.h"
#include "platform/sync.h"

namespace vestrel::platform {
namespace {

const QEvent::Type kSynchronizeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class SyncReceiver : public QObject {
 public:
  bool event(QEvent* e) override {
    VESTREL_TAKE_OVER(e);
    if (e->type() != kSynchronizeEvent) return QObject::event(e);
    pending_.store(false);
    if (held_ > 0) {
      deferred_ = true;
      return true;
    }
    CheckSynchronize();
    return true;
  }
  // While held, a wake is kept for later: no delivery runs inside a dialogue.
  void Hold() { ++held_; }
  void Release() {
    if (--held_ > 0 || !deferred_) return;
    deferred_ = false;
    Wake();
  }
  // Posts at most one wake at a time: CheckSynchronize runs everything queued.
  void Wake() {
    if (pending_.exchange(true)) return;
    auto* wake = new QEvent(kSynchronizeEvent);
    VESTREL_HAND_OVER(wake);
    QCoreApplication::postEvent(this, wake);
  }

 private:
  std::atomic<bool> pending_{false};
  int held_ = 0;  // user-interface thread only
  bool deferred_ = false;
};

SyncReceiver* receiver = nullptr;

// The operator's input that arrives in the middle of a dialogue is kept for
// after it, as it would wait in the queue of a program busy with its modem;
// the window system's close request, which Qt counts among the input events,
// must reach the program now, so input is taken aside instead of excluded.
class InputDeferral : public QObject {
 public:
  bool eventFilter(QObject* target, QEvent* e) override {
    switch (e->type()) {
      case QEvent::MouseMove:
      case QEvent::HoverMove:
      case QEvent::NonClientAreaMouseMove:
        return true;  // a pointer's way over the window needs no replay
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::NonClientAreaMouseButtonPress:
      case QEvent::NonClientAreaMouseButtonRelease:
      case QEvent::NonClientAreaMouseButtonDblClick:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TouchCancel:
      case QEvent::TabletPress:
      case QEvent::TabletMove:
      case QEvent::TabletRelease:
        kept_.push_back({QPointer<QObject>(target), e->clone()});
        return true;
      default:
        return false;
    }
  }
  // Hands the input back to the queue, in the order it came.
  void Replay() {
    for (auto& [target, e] : kept_) {
      if (target)
        QCoreApplication::postEvent(target, e);
      else
        delete e;
    }
    kept_.clear();
  }

 private:
  std::vector<std::pair<QPointer<QObject>, QEvent*>> kept_;
};

}  // namespace

void InstallQtGlue() {
  SetUiThread();
  if (!receiver) receiver = new SyncReceiver;
  SyncReceiver* r = receiver;
  SetWakeHook([r] { r->Wake(); });
  SetProcessMessagesHook([] {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Deliveries queued by a worker are served even if the posted wake is
    // still behind other events.
    CheckSynchronize();
  });
  SetWindowRequestsHook([r] {
    r->Hold();
    InputDeferral input;
    QCoreApplication::instance()->installEventFilter(&input);
    QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
    QCoreApplication::instance()->removeEventFilter(&input);
    input.Replay();
    r->Release();
  });
}

void RemoveQtGlue() {
  SetWakeHook({});
  SetProcessMessagesHook({});
  SetWindowRequestsHook({});
  delete receiver;
  receiver = nullptr;
}

QString ToQString(const std::string& cp1251) {
  QString out;
  out.reserve(static_cast<qsizetype>(cp1251.size()));
  for (char c : cp1251) out.append(QChar(Cp1251ToUnicode(static_cast<unsigned char>(c))));
  return out;
}

std::string FromQString(const QString& text) {
  std::string out;
  out.reserve(static_cast<std::size_t>(text.size()));
  const auto ucs4 = text.toUcs4();
  for (char32_t cp : ucs4) {
    const auto byte = UnicodeToCp1251(cp);
    out += byte ? static_cast<char>(*byte) : '?';
  }
  return out;
}

}  // namespace vestrel::platform
