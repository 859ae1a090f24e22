#pragma once
// The application's exception handler: every exception that leaves a
// user-interface handler, and every failure that a component reports from its
// own thread, ends up here. The application installs a handler that shows the
// error message box; without one the message goes to standard error.
//
// Every exception message in the program is Windows-1251 text (what()).

#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace vestrel::platform {

// The runtime's base exception: a Windows-1251 message.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

using ExceptionHandler = std::function<void(std::exception_ptr)>;

// Installs the handler and returns the previous one.
ExceptionHandler SetExceptionHandler(ExceptionHandler handler);

// Hands an exception to the application's handler. Call on the user-interface thread.
void HandleException(std::exception_ptr error);

// Any thread: hands the exception to the handler on the user-interface thread
// (through Queue) and returns at once.
void ReportException(std::exception_ptr error);

// Runs fn and hands any exception that leaves it to the handler.
void RunGuarded(const std::function<void()>& fn);

// The message an exception carries: what() for std::exception, empty otherwise.
std::string ExceptionMessage(std::exception_ptr error);

// The text of the error message box: the message with "." appended when it is
// not empty and its last byte is above "." (compared as unsigned bytes).
std::string ErrorBoxText(const std::string& message);

}  // namespace vestrel::platform
