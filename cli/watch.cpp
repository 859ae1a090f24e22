#include "cli/watch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "cli/console.h"
#include "cli/exec_runner.h"
#include "cli/watch_os.h"
#include "cli/watch_record.h"
#include "platform/sync.h"

namespace vestrel::cli {
namespace {

using Clock = std::chrono::steady_clock;

// New messages are announced with "+CMTI:" (mt=1), status reports routed
// as "+CDS:" (ds=1).
constexpr char kNotifyCommand[] = "AT+CNMI=2,1,0,1,0";

// One line on standard error (the journal under systemd) and in the --log
// file; from any thread.
class Notes {
 public:
  explicit Notes(TrafficLog& log) : log_(log) {}
  void operator()(const std::string& utf8) {
    std::lock_guard lock(mutex_);
    std::fprintf(stderr, "vestrel-sms watch: %s\n", utf8.c_str());
    std::fflush(stderr);
    log_.Note("watch: " + utf8);
  }
  // The log file reopened while no note is half written.
  template <typename F>
  auto Exclusive(F f) {
    std::lock_guard lock(mutex_);
    return f();
  }

 private:
  TrafficLog& log_;
  std::mutex mutex_;
};

std::string Seconds(std::chrono::seconds s) {
  return std::to_string(s.count()) + " s";
}

class Watcher {
 public:
  Watcher(const Options& options, WatchedSession& session, std::FILE* log_file)
      : options_(options),
        session_(session),
        log_name_(options.log_file.value_or(std::string())),
        log_file_(log_file),
        notes_(session.Log()),
        port_(session.PortName()),
        record_(
            session.Output(), [this](const FoundMessage& found) { Hand(found); },
            [this](const StatusReport& report) { Reported(report); }),
        reopen_(session.Clock()) {}

  int Run() {
    if (options_.exec) {
      try {
        exec_ = std::make_unique<ExecRunner>(SplitCommand(*options_.exec),
                                             std::chrono::seconds(options_.exec_timeout_seconds),
                                             [this](const std::string& note) { notes_(note); });
      } catch (const UsageError& e) {
        std::fprintf(stderr, "vestrel-sms: %s\n", e.what());
        return kExitUsage;
      } catch (const std::exception& e) {
        notes_(e.what());
        return kExitUsage;
      }
    }
    try {
      server_ = std::make_unique<SendServer>(port_, [] { platform::WakeSyncWaiters(); });
    } catch (const std::exception& e) {
      notes_(std::string("cannot take sends for others: ") + e.what());
      return kExitPortOpen;
    }
    session_.SetRecord(&record_);
    notes_("watching " + port_ + "; sends through " + server_->Path());
    const int code = Loop();
    session_.SetRecord(&session_.Output());
    // Requests still queued are told that nothing was sent (SendServer's end).
    server_.reset();
    exec_.reset();
    return code;
  }

 private:
  int Loop() {
    bool open = false;
    bool reading_due = true;
    const auto interval = std::chrono::seconds(options_.interval_seconds);
    std::optional<Clock::time_point> next_reading;
    while (!Stopping()) {
      if (!open) {
        std::string failure;
        if (session_.OpenPort(failure) != kExitDone) {
          BackOff(failure);
          continue;
        }
        if (attempt_ > 0 || lost_since_reading_) notes_("the port " + port_ + " is open again");
        open = true;
        reading_due = true;
        if (options_.notify && !Guarded([&] { session_.WriteCommand(kNotifyCommand); })) {
          open = false;
          BackOff("the modem did not take " + std::string(kNotifyCommand));
          continue;
        }
      }
      if (reading_due || record_.TakeAnnouncement()) {
        reading_due = false;
        record_.TakeAnnouncement();
        const int code = session_.ReadOnce();
        if (interval.count() > 0) next_reading = Clock::now() + interval;
        // Nobody reads the output any more (which also stops the reading):
        // the messages would go nowhere.
        if (session_.OutputClosed()) return code;
        if (Stopping()) break;
        if (session_.PortLost()) {
          Lost(open);
          continue;
        }
        // A modem that opens and hangs up at once is tried with the same back-off.
        if (code == kExitDone) {
          attempt_ = 0;
          lost_since_reading_ = false;
        }
        if (code != kExitDone)
          notes_("the reading ended with exit code " + std::to_string(code) +
                 "; the messages left on the phone are read next time");
      }
      if (!ServeSends()) {
        Lost(open);
        continue;
      }
      WaitFor(next_reading, [this] {
        return record_.Announced() || server_->HasPending() || session_.PortLost();
      });
      if (session_.PortLost()) {
        Lost(open);
        continue;
      }
      if (next_reading && Clock::now() >= *next_reading) reading_due = true;
    }
    return StoppedAsService(InterruptGuard::ExitStatus()) ? kExitDone
                                                          : InterruptGuard::ExitStatus();
  }

  // The sends handed over, between readings; false when the port was lost.
  bool ServeSends() {
    while (!Stopping() && !session_.PortLost()) {
      auto pending = server_->Take();
      if (!pending) return true;
      const SendRequest& request = pending->Request();
      notes_("sending for another process to " + request.number);
      const SendReply reply = session_.SendFor(request);
      pending->Answer(reply);
      notes_("send to " + request.number + ": exit code " + std::to_string(reply.exit_code));
    }
    return !session_.PortLost();
  }

  // The wait before the next try, each try logged.
  void BackOff(const std::string& failure) {
    const auto delay = ReopenDelay(attempt_++);
    notes_("try " + std::to_string(attempt_) + ": " + failure + "; next try in " + Seconds(delay));
    WaitFor(Clock::now() + delay, [this] { return server_->HasPending(); });
    RefuseSends();
  }

  // Without the modem a send cannot wait: its sender would wait for as long.
  void RefuseSends() {
    while (auto pending = server_->Take())
      pending->Answer({kExitPortOpen,
                       {},
                       "vestrel-sms: the watcher holding " + port_ +
                           " has lost the modem and is reopening it; nothing sent\n"});
  }

  void Lost(bool& open) {
    session_.ClosePort();
    open = false;
    // Reopened at once the first time; again without a good reading since, after the back-off.
    if (!lost_since_reading_) {
      notes_("the modem on " + port_ + " went away; reopening it");
      lost_since_reading_ = true;
    } else {
      BackOff("the modem on " + port_ + " went away again");
    }
  }

  // A command of the watch's own; false when the port failed.
  bool Guarded(const std::function<void()>& step) {
    try {
      step();
    } catch (const DialogueStopped&) {
    } catch (const std::exception& e) {
      notes_(std::string("the port failed: ") + e.what());
      session_.ClosePort();
      return false;
    }
    return !session_.PortLost();
  }

  // Serves the port's deliveries and sleeps until done(), a stop, a reopened
  // log or the deadline (none: no deadline). Between events nothing wakes.
  void WaitFor(std::optional<Clock::time_point> deadline, const std::function<bool()>& done) {
    Watchdog& clock = session_.Clock();
    for (;;) {
      if (reopen_.Take()) ReopenLog();
      if (Stopping() || done()) return;
      if (deadline) {
        const auto left = *deadline - Clock::now();
        if (left <= Clock::duration::zero()) return;
        clock.Arm(std::chrono::ceil<std::chrono::milliseconds>(left));
      } else {
        clock.Busy();
      }
      const std::size_t chunks = record_.Chunks();
      platform::ServeUntil([&] {
        return Stopping() || done() || clock.Expired() || reopen_.Pending() ||
               record_.Chunks() != chunks;
      });
    }
  }

  void ReopenLog() {
    if (!log_file_ || log_name_.empty()) return;
    const bool reopened = notes_.Exclusive([&] { return ReopenLogFile(log_file_, log_name_); });
    if (reopened)
      notes_("the log file was reopened");
    else
      notes_("the log file \"" + log_name_ + "\" cannot be reopened: " + std::strerror(errno));
  }

  void Reported(const StatusReport& report) {
    static constexpr const char* kOutcomes[] = {"delivered", "still being tried", "failed"};
    notes_("status report: reference " + std::to_string(report.reference) + " to " +
           report.recipient + ": " + kOutcomes[static_cast<int>(report.outcome)] + " (status " +
           std::to_string(report.status) + ", " + report.done_at + ")");
  }

  void Hand(const FoundMessage& found) {
    if (exec_) exec_->Add(MessageJob(found, port_));
  }

  bool Stopping() const { return session_.Stop().Requested(); }

  const Options& options_;
  WatchedSession& session_;
  std::string log_name_;
  std::FILE* log_file_;
  Notes notes_;
  std::string port_;
  WatchRecord record_;
  LogReopenRequest reopen_;
  std::unique_ptr<ExecRunner> exec_;
  std::unique_ptr<SendServer> server_;
  int attempt_ = 0;                  // tries since the last good reading
  bool lost_since_reading_ = false;  // the modem went away after the last good reading
};

}  // namespace

std::chrono::seconds ReopenDelay(int attempt) {
  return std::chrono::seconds(attempt >= 5 ? 30 : 1 << std::max(attempt, 0));
}

int Watch(const Options& options, WatchedSession& session, std::FILE* log_file) {
  if (const std::string reason = WatchUnavailable(); !reason.empty()) {
    std::fprintf(stderr, "vestrel-sms: %s\n", reason.c_str());
    return kExitUsage;
  }
  Watcher watcher(options, session, log_file);
  return watcher.Run();
}

}  // namespace vestrel::cli
