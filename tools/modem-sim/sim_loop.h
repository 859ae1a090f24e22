// Runs the modem on the pseudo-terminal: reads what the client writes,
// feeds it to the interpreter, and sends echo and answers on time (answer
// delay, pieces, line rate), all on one thread that blocks in poll().
#pragma once

#include <chrono>
#include <deque>
#include <string>

#include "tools/modem-sim/modem.h"
#include "tools/modem-sim/scenario.h"
#include "tools/modem-sim/transcript.h"

namespace vestrel::sim {

class SimLoop {
 public:
  // stop_fd becomes readable when the simulator is to end (a signalfd).
  SimLoop(int master_fd, std::string slave_path, int stop_fd, const Scenario& scenario,
          Modem& modem, Transcript& transcript);
  ~SimLoop();

  // Returns when stop_fd is readable. Throws std::runtime_error on a failure
  // of the line other than the client going away.
  void Run();

 private:
  using Clock = std::chrono::steady_clock;
  struct Segment {
    std::string bytes;
    Clock::time_point due;
    bool answer = false;  // holds back further input until it is out
    bool hangup = false;  // close the line after it
  };

  void FeedInput();
  void Deliver(const ModemOutput& out);
  bool AnswerPending() const;
  void WriteDue();
  void ReadInput();
  void ClientGone();
  void HangUp();
  int PollTimeoutMs() const;

  void FlushSlaveInput();
  void AwaitClientRead();

  int master_;
  std::string slave_path_;
  int stop_fd_;
  const Scenario& scenario_;
  Modem& modem_;
  Transcript& transcript_;
  std::deque<Segment> out_;
  std::string in_;
  bool client_gone_ = false;
  bool want_write_ = false;
  Clock::duration byte_time_;
  Clock::time_point line_free_ = Clock::now();
};

}  // namespace vestrel::sim
