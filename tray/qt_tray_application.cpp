#include "tray/qt_tray_application.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QStyle>
#include <QWindowStateChangeEvent>

#include "platform/app_title.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"

namespace vestrel {

QtTrayApplication::QtTrayApplication(QWidget* main_window) : window_(main_window) {
  if (window_) window_->installEventFilter(this);
}

QtTrayApplication::~QtTrayApplication() {
  if (hidden_here_) QGuiApplication::setQuitOnLastWindowClosed(quit_on_last_closed_);
  if (window_) window_->removeEventFilter(this);
}

std::string QtTrayApplication::Title() const {
  try {
    return ApplicationTitle(platform::ExecutablePath());
  } catch (const platform::Exception&) {
    return {};  // no path, no title: the hint then starts empty
  }
}

void QtTrayApplication::SetOnMinimize(std::function<void()> handler) {
  on_minimize_ = std::move(handler);
}

bool QtTrayApplication::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && event->type() == QEvent::Close && hidden_here_ && !closing_) {
    // A close request for the window while it is away in the notification
    // area: the window's own handling decides, as ever, and a window that
    // closes ends the program, as it does when it is shown. A hidden window's
    // closing would not count as the last window closed.
    closing_ = true;
    QCoreApplication::sendEvent(window_, event);
    closing_ = false;
    if (event->isAccepted()) {
      hidden_here_ = false;  // it stays closed when the icon goes at program end
      QGuiApplication::setQuitOnLastWindowClosed(quit_on_last_closed_);
      if (quit_on_last_closed_) QCoreApplication::quit();
    }
    return true;
  }
  if (watched == window_ && event->type() == QEvent::WindowActivate) {
    // A window that a modal box keeps from input passes the keyboard on to
    // the box, as a box's owner does on Windows. The window manager may
    // activate the window after Restore asked for the box, when the window
    // was mapped later than the box.
    QWidget* box = QApplication::activeModalWidget();
    if (box && box != window_ && !box->isActiveWindow()) {
      QMetaObject::invokeMethod(
          this,
          [box = QPointer<QWidget>(box)] {
            if (box && box->isVisible()) {
              box->raise();
              box->activateWindow();
            }
          },
          Qt::QueuedConnection);
    }
  }
  if (watched == window_ && event->type() == QEvent::WindowStateChange) {
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool now = window_->windowState() & Qt::WindowMinimized;
    const bool before = change->oldState() & Qt::WindowMinimized;
    // Reported from the event loop: the state change arrives in the middle of
    // operations such as showMinimized(), which shows the window right after
    // and would undo a hide done here and now.
    if (now && !before) {
      QMetaObject::invokeMethod(
          this,
          [this] {
            if (window_ && window_->isMinimized() && on_minimize_) {
              const auto handler = on_minimize_;  // it may replace itself
              handler();
            }
          },
          Qt::QueuedConnection);
    }
  }
  return QObject::eventFilter(watched, event);
}

void QtTrayApplication::Minimize() {
  if (!window_ || window_->isMinimized()) return;
  window_->setWindowState(window_->windowState() | Qt::WindowMinimized);
}

void QtTrayApplication::Restore() {
  if (!window_ || !window_->isMinimized()) return;
  window_->setWindowState((window_->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  window_->raise();
  window_->activateWindow();
  // A box open over the window (gone down with it, or opened while the window
  // was away) comes back on top with the keyboard, as the window takes no
  // input while the box is open.
  if (QWidget* box = QApplication::activeModalWidget()) {
    if (box->isMinimized()) box->setWindowState(box->windowState() & ~Qt::WindowMinimized);
    box->raise();
    box->activateWindow();
  }
}

void QtTrayApplication::ShowTaskbarEntry(bool show) {
  if (!window_) return;
  // Only a window hidden here comes back here: a main window that the operator
  // closed stays closed when the tray icon goes away at program end.
  //
  // While the window is away, no other window's closing (an error message box)
  // may count as the last window closed, which would end the program.
  if (show) {
    if (hidden_here_) {
      QGuiApplication::setQuitOnLastWindowClosed(quit_on_last_closed_);
      window_->show();
    }
    hidden_here_ = false;
  } else if (window_->isVisible()) {
    quit_on_last_closed_ = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    window_->hide();
    hidden_here_ = true;
  }
}

QPoint QtTrayApplication::CursorPos() const {
  return QCursor::pos();
}

int QtTrayApplication::MenuItemHeight() const {
  // The nearest thing to a menu line's height that the style reports.
  const QMenu probe;
  return probe.fontMetrics().height() + 2 * probe.style()->pixelMetric(QStyle::PM_MenuVMargin);
}

void QtTrayApplication::Popup(QMenu& menu, QPoint pos) {
  menu.popup(pos);
}

}  // namespace vestrel
