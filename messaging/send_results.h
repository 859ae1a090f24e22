#pragma once
// What the modem answered to each part of a send. The answers come as
// received chunks, in the order the parts were written: a part's answer is
// the first "+CMGS: mr" (taken, with its reference), "+CMS ERROR: n" or
// "ERROR" to its AT+CMGS after the part began. A part that gets none of them
// before its wait is over is unknown: the modem may or may not have sent it.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vestrel {

enum class PartStatus { kPending, kAccepted, kRefused, kUnknown };

struct PartResult {
  std::string text;  // the part's text (Windows-1251)
  PartStatus status = PartStatus::kPending;
  std::optional<int> reference;   // accepted: the message reference
  std::optional<int> error_code;  // refused with a numbered error
  std::string answer;             // the line that settled it, as received
};

// How the answer reads for the operator (Windows-1251): "модем ответил
// +CMS ERROR: 500 (неизвестная ошибка)", "модем ответил ERROR", "модем не
// ответил"; empty for a part accepted or still waiting.
std::string DescribeFailure(const PartResult& result);

class SendResults {
 public:
  using SettledCall = std::function<void(std::size_t part, const PartResult& result)>;

  // Called once for each part as it is settled (parts count from 1).
  void OnSettled(SettledCall settled) { settled_ = std::move(settled); }

  // A new send of these parts; forgets the last one.
  void Start(const std::vector<std::string>& part_texts);
  // Part (from 1) is about to be written: what comes from now on is its
  // answer. A part before it still without an answer becomes unknown.
  void PartBegins(std::size_t part);
  // A received chunk; lines cut between chunks are put together.
  void Feed(std::string_view chunk);
  // The part waiting for its answer becomes unknown.
  void ExpireOpen();

  std::size_t Count() const { return parts_.size(); }
  const PartResult& Part(std::size_t part) const { return parts_.at(part - 1); }
  bool Settled(std::size_t part) const { return Part(part).status != PartStatus::kPending; }
  bool Failed(std::size_t part) const {
    return Settled(part) && Part(part).status != PartStatus::kAccepted;
  }
  // The first part that was not accepted (from 1); 0 when every part was.
  std::size_t FirstFailure() const;

 private:
  void Line(std::string_view line);
  void Settle(PartStatus status, std::optional<int> value, std::string_view line);

  std::vector<PartResult> parts_;
  SettledCall settled_;
  std::size_t open_ = 0;   // the part whose answers come now, from 1; 0: none
  int finals_ = 0;         // final results seen since the part began
  bool prompt_ = false;    // the part's AT+CMGS was answered with "> "
  bool taken_ok_ = false;  // an "OK" still due after an accepted part's +CMGS
  std::string line_;       // the line so far
};

}  // namespace vestrel
