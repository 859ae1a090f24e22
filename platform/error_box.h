#pragma once
// The error message box: the exception's message (with the "." rule of
// ErrorBoxText), the application title as caption, the stop icon and one OK
// button. It belongs to the program's main window once that is named (else to
// the active window, if any) and is modal over that window alone, so that the
// notification-area icon still answers while it is open, even with the main
// window away in the notification area.

#include <QMessageBox>
#include <memory>
#include <string>

namespace vestrel::platform {

// The window every box belongs to from now on; null: the active window.
void SetErrorBoxOwner(QWidget* owner);

// The box for text, built but not shown.
std::unique_ptr<QMessageBox> MakeErrorBox(const std::string& text, const std::string& caption);

// Shows the box for an exception's message and waits until it is closed.
void ShowErrorBox(const std::string& message, const std::string& caption);

// Makes ShowErrorBox the application's exception handler (SetExceptionHandler),
// with caption as the title of every box.
void InstallErrorBoxHandler(const std::string& caption);

}  // namespace vestrel::platform
