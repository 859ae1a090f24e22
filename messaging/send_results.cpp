#include "messaging/send_results.h"

#include "messaging/at_answers.h"
#include "platform/cp1251.h"

namespace vestrel {
namespace {

// A line longer than this is no answer of interest; only its start is kept.
constexpr std::size_t kMaxLine = 256;

}  // namespace

std::string DescribeFailure(const PartResult& result) {
  using platform::Cp1251FromUtf8;
  switch (result.status) {
    case PartStatus::kUnknown:
      return Cp1251FromUtf8("модем не ответил");
    case PartStatus::kRefused: {
      std::string text = Cp1251FromUtf8("модем ответил ") + result.answer;
      // Only +CMS codes are in the table; +CME codes mean other things.
      if (result.error_code && result.answer.rfind("+CMS ERROR", 0) == 0) {
        const std::string meaning = CmsErrorMeaning(*result.error_code);
        if (!meaning.empty()) text += " (" + meaning + ")";
      }
      return text;
    }
    case PartStatus::kPending:
    case PartStatus::kAccepted:
      break;
  }
  return {};
}

void SendResults::Start(const std::vector<std::string>& part_texts) {
  parts_.clear();
  for (const std::string& text : part_texts) parts_.push_back({text, {}, {}, {}, {}});
  open_ = 0;
  taken_ok_ = false;
  line_.clear();
}

void SendResults::PartBegins(std::size_t part) {
  ExpireOpen();
  if (part == 0 || part > parts_.size()) return;
  open_ = part;
  finals_ = 0;
  prompt_ = false;
}

void SendResults::ExpireOpen() {
  if (open_ != 0 && !Settled(open_)) Settle(PartStatus::kUnknown, std::nullopt, {});
}

std::size_t SendResults::FirstFailure() const {
  for (std::size_t i = 0; i < parts_.size(); ++i)
    if (parts_[i].status != PartStatus::kAccepted) return i + 1;
  return 0;
}

void SendResults::Feed(std::string_view chunk) {
  for (char c : chunk) {
    if (c == '\r' || c == '\n') {
      if (!line_.empty()) Line(line_);
      line_.clear();
    } else if (line_.size() < kMaxLine) {
      line_ += c;
      // The prompt is not followed by a line end: the PDU's echo is.
      if (line_ == "> ") {
        Line(line_);
        line_.clear();
      }
    }
  }
}

void SendResults::Line(std::string_view line) {
  const AtAnswer answer = ParseAnswerLine(line);
  if (answer.kind == AnswerKind::kOk && taken_ok_) {
    taken_ok_ = false;
    return;
  }
  if (answer.kind != AnswerKind::kOther && answer.kind != AnswerKind::kPrompt) taken_ok_ = false;
  if (open_ == 0 || Settled(open_)) return;
  switch (answer.kind) {
    case AnswerKind::kCmgs:
      Settle(PartStatus::kAccepted, answer.value, line);
      taken_ok_ = true;
      break;
    case AnswerKind::kCmsError:
      Settle(PartStatus::kRefused, answer.value, line);
      break;
    case AnswerKind::kError:
    case AnswerKind::kCmeError:
      // The first final result of a part answers its AT+CMGF=0; a refusal of
      // the PDU mode alone does not yet refuse the part.
      if (prompt_ || finals_ > 0)
        Settle(PartStatus::kRefused, answer.value, line);
      else
        ++finals_;
      break;
    case AnswerKind::kOk:
      ++finals_;
      break;
    case AnswerKind::kPrompt:
      prompt_ = true;
      break;
    case AnswerKind::kOther:
      break;
  }
}

void SendResults::Settle(PartStatus status, std::optional<int> value, std::string_view line) {
  PartResult& part = parts_[open_ - 1];
  part.status = status;
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  part.answer = std::string(line);
  if (status == PartStatus::kAccepted) part.reference = value;
  if (status == PartStatus::kRefused) part.error_code = value;
  if (settled_) settled_(open_, part);
}

}  // namespace vestrel
