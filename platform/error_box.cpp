#include "platform/error_box.h"

#include <QApplication>
#include <QPointer>
#include <set>

#include "platform/exceptions.h"
#include "platform/qt_glue.h"

namespace vestrel::platform {
namespace {

QPointer<QWidget>& Owner() {
  static QPointer<QWidget> owner;
  return owner;
}

}  // namespace

void SetErrorBoxOwner(QWidget* owner) {
  Owner() = owner;
}

std::unique_ptr<QMessageBox> MakeErrorBox(const std::string& text, const std::string& caption) {
  // A box without an owner would be modal over the whole program, the
  // notification-area icon included, which then ignores clicks until OK.
  QWidget* owner = Owner() ? Owner().data() : QApplication::activeWindow();
  auto box = std::make_unique<QMessageBox>(QMessageBox::Critical, ToQString(caption),
                                           ToQString(text), QMessageBox::Ok, owner);
  // Over its window only: the notification-area icon and the program's other
  // windows still answer while it is open.
  if (box->parentWidget()) box->setWindowModality(Qt::WindowModal);
  box->setDefaultButton(QMessageBox::Ok);
  box->setEscapeButton(QMessageBox::Ok);
  // The message is the program's own text, never markup.
  box->setTextFormat(Qt::PlainText);
  return box;
}

void ShowErrorBox(const std::string& message, const std::string& caption) {
  // A box runs its own message loop, in which a device that keeps failing
  // would raise the same error again and again: while a box with this text is
  // open, repeats are dropped.
  static std::set<std::string> open_texts;
  const std::string text = ErrorBoxText(message);
  if (!open_texts.insert(text).second) return;
  struct Closed {
    const std::string& text;
    ~Closed() { open_texts.erase(text); }
  } closed{text};
  MakeErrorBox(text, caption)->exec();
}

void InstallErrorBoxHandler(const std::string& caption) {
  SetExceptionHandler(
      [caption](std::exception_ptr error) { ShowErrorBox(ExceptionMessage(error), caption); });
}

}  // namespace vestrel::platform
