// Loaded with LD_PRELOAD into the program under measurement (never linked
// into it). When the QApplication is constructed it prints
//   APPLICATION <CLOCK_MONOTONIC ns>
// and installs an event filter; at the first Expose of a top-level window it prints
//   EXPOSED <CLOCK_MONOTONIC ns> <width>x<height> <window object name>
// on standard output and asks the application to quit.

#include <time.h>

#include <QCoreApplication>
#include <QEvent>
#include <QWindow>
#include <cstdio>

namespace {

long long MonotonicNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

class ExposeProbe : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (done_ || event->type() != QEvent::Expose) return false;
    auto* window = qobject_cast<QWindow*>(watched);
    if (!window || !window->isTopLevel()) return false;
    done_ = true;
    std::printf("EXPOSED %lld %dx%d %s\n", MonotonicNs(), window->width(), window->height(),
                qPrintable(window->objectName()));
    std::fflush(stdout);
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
    return false;
  }

 private:
  bool done_ = false;
};

void InstallProbe() {
  std::printf("APPLICATION %lld\n", MonotonicNs());
  QCoreApplication::instance()->installEventFilter(new ExposeProbe);
}

}  // namespace

// Runs from the QCoreApplication constructor (registered before main).
Q_COREAPP_STARTUP_FUNCTION(InstallProbe)
