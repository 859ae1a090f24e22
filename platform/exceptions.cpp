#include "platform/exceptions.h"

#include <cstdio>
#include <mutex>

#include "platform/cp1251.h"
#include "platform/sync.h"

namespace vestrel::platform {
namespace {

std::mutex handler_mutex;
ExceptionHandler installed_handler;

}  // namespace

ExceptionHandler SetExceptionHandler(ExceptionHandler handler) {
  std::lock_guard lock(handler_mutex);
  std::swap(installed_handler, handler);
  return handler;
}

void HandleException(std::exception_ptr error) {
  ExceptionHandler handler;
  {
    std::lock_guard lock(handler_mutex);
    handler = installed_handler;
  }
  if (handler) {
    handler(error);
    return;
  }
  std::fprintf(stderr, "%s\n", Cp1251ToUtf8(ErrorBoxText(ExceptionMessage(error))).c_str());
}

void ReportException(std::exception_ptr error) {
  // Moved, not copied: the reporting thread keeps no reference that it would
  // drop while the user-interface thread reads the exception.
  Queue([error = std::move(error)] { HandleException(error); });
}

void RunGuarded(const std::function<void()>& fn) {
  try {
    fn();
  } catch (...) {
    HandleException(std::current_exception());
  }
}

std::string ExceptionMessage(std::exception_ptr error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return {};
  }
}

std::string ErrorBoxText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

}  // namespace vestrel::platform
