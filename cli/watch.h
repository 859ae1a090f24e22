#pragma once
// vestrel-sms watch: holds the port until stopped; reads the phone at start,
// when the modem announces a message and every --interval seconds; keeps,
// prints and hands each message to --exec; sends for other vestrel-sms
// processes between readings; reopens a modem that went away.

#include <chrono>
#include <cstdio>
#include <string>

#include "cli/options.h"
#include "cli/send_socket.h"
#include "cli/traffic.h"
#include "cli/watchdog.h"
#include "messaging/dialogue_stop.h"
#include "messaging/message_record.h"

namespace vestrel::cli {

// What the watch needs of the port's session (session.cpp).
class WatchedSession {
 public:
  virtual ~WatchedSession() = default;
  // The port's name as --port and the settings give it.
  virtual std::string PortName() const = 0;
  // An exit code; failure: why the port did not open (UTF-8, one line).
  virtual int OpenPort(std::string& failure) = 0;
  // Closes the port without asking anything to stop.
  virtual void ClosePort() = 0;
  virtual bool PortLost() const = 0;
  // Standard output refused a message: nothing more may be read.
  virtual bool OutputClosed() const = 0;
  // One reading on the open port, as `read` does it; its exit code.
  virtual int ReadOnce() = 0;
  // One command of the watch's own (logged), then a modem wait.
  virtual void WriteCommand(const std::string& command) = 0;
  // A send handed over by another process, on the open port.
  virtual SendReply SendFor(const SendRequest& request) = 0;
  // Puts record between the dialogues and the output (the archive and
  // standard output), which Output() is.
  virtual void SetRecord(MessageRecord* record) = 0;
  virtual MessageRecord& Output() = 0;
  virtual DialogueStop& Stop() = 0;
  virtual Watchdog& Clock() = 0;
  virtual TrafficLog& Log() = 0;
};

// The wait before the next try to open a port that went away: 1, 2, 4, 8,
// 16, then 30 s (attempt from 0).
std::chrono::seconds ReopenDelay(int attempt);

// The whole watch; its exit code (0 after SIGTERM). log_file: the --log
// file, reopened on SIGHUP.
int Watch(const Options& options, WatchedSession& session, std::FILE* log_file);

}  // namespace vestrel::cli
