#pragma once
// What the watch needs of the process: one implementation file per OS
// (watch_posix.cpp; on Windows the watch is not available).

#include <cstdio>
#include <memory>
#include <string>

#include "cli/watchdog.h"

namespace vestrel::cli {

// Whether this build can watch; else the reason (UTF-8).
std::string WatchUnavailable();

// While it lives, SIGHUP no longer ends the program: it asks for the log file
// to be reopened (after a rotation) and wakes the main loop.
class LogReopenRequest {
 public:
  explicit LogReopenRequest(Watchdog& watchdog);
  ~LogReopenRequest();
  LogReopenRequest(const LogReopenRequest&) = delete;
  LogReopenRequest& operator=(const LogReopenRequest&) = delete;
  // A request came since the last call.
  bool Take();
  bool Pending() const;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

// Points file at a fresh open of utf8_name (as OpenLogFile opens it); the
// FILE itself stays valid. False with errno when it cannot be opened.
bool ReopenLogFile(std::FILE* file, const std::string& utf8_name);

// The signal that ended the watch was a request to stop as a service is
// stopped (SIGTERM): the watch then ends with 0.
bool StoppedAsService(int exit_status);

}  // namespace vestrel::cli
