#pragma once
// The error message box: the exception's message (with the "." rule of
// ErrorBoxText), the application title as caption, the stop icon and one OK
// button. It is modal and owned by the active window, if any.

#include <QMessageBox>
#include <memory>
#include <string>

namespace vestrel::platform {

// The box for text, built but not shown.
std::unique_ptr<QMessageBox> MakeErrorBox(const std::string& text, const std::string& caption);

// Shows the box for an exception's message and waits until it is closed.
void ShowErrorBox(const std::string& message, const std::string& caption);

// Makes ShowErrorBox the application's exception handler (SetExceptionHandler),
// with caption as the title of every box.
void InstallErrorBoxHandler(const std::string& caption);

}  // namespace vestrel::platform
