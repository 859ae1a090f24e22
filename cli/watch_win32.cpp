#include "cli/watch_os.h"

namespace vestrel::cli {

struct LogReopenRequest::Saved {};

std::string WatchUnavailable() {
  return "watch is not available in this build";
}

LogReopenRequest::LogReopenRequest(Watchdog&) {}
LogReopenRequest::~LogReopenRequest() = default;

bool LogReopenRequest::Take() {
  return false;
}

bool LogReopenRequest::Pending() const {
  return false;
}

bool ReopenLogFile(std::FILE*, const std::string&) {
  return false;
}

bool StoppedAsService(int) {
  return false;
}

}  // namespace vestrel::cli
