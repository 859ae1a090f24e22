#include "cli/watch_record.h"

#include "messaging/pdu_messages.h"

namespace vestrel::cli {
namespace {

// A line longer than this is no announcement; its start is dropped.
constexpr std::size_t kLongestLine = 256;

}  // namespace

bool AnnouncesMessage(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
  for (const std::string_view mark : {"+CMTI:", "+CDSI:"})
    if (line.substr(0, mark.size()) == mark && line.size() > mark.size()) return true;
  return false;
}

void WatchRecord::ChunkReceived(std::string_view bytes, bool reading) noexcept {
  ++chunks_;
  Scan(bytes);
  next_.ChunkReceived(bytes, reading);
}

void WatchRecord::Scan(std::string_view bytes) noexcept {
  try {
    for (const char c : bytes) {
      if (c == '\n') {
        Line(line_);
        line_.clear();
      } else if (line_.size() < kLongestLine) {
        line_ += c;
      }
    }
  } catch (...) {
    // Out of memory for a line: the next interval reads the phone anyway.
    line_.clear();
  }
}

bool WatchRecord::AnswerReceived(std::string_view bytes,
                                 const std::vector<FoundMessage>& messages) noexcept {
  // The bytes of a held answer come in no chunk: an announcement among them is seen here.
  Scan(bytes);
  if (!next_.AnswerReceived(bytes, messages)) return false;
  for (const FoundMessage& found : messages)
    if (PartGroupKey(found).empty()) Hand(found);
  return true;
}

void WatchRecord::MessageShown(const FoundMessage& found) noexcept {
  next_.MessageShown(found);
  if (PartGroupKey(found).empty()) Hand(found);
}

void WatchRecord::MessageJoined(const FoundMessage& joined) noexcept {
  next_.MessageJoined(joined);
  Hand(joined);
}

void WatchRecord::Line(std::string_view line) {
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty()) return;
  if (AnnouncesMessage(line)) announced_.store(true);
  constexpr std::string_view kReport = "+CDS:";
  if (line.substr(0, kReport.size()) == kReport) {
    // Text mode gives the fields on this line; PDU mode its length, then the PDU.
    const auto report = ParseStatusReportText(line.substr(kReport.size()));
    report_pdu_due_ = !report;
    if (report) Report(*report);
    return;
  }
  if (!report_pdu_due_) return;
  report_pdu_due_ = false;
  if (const auto report = DecodeStatusReportPdu(line)) Report(*report);
}

void WatchRecord::Report(const StatusReport& report) noexcept {
  next_.DeliveryReported(report);
  if (!reported_) return;
  try {
    reported_(report);
  } catch (...) {
  }
}

void WatchRecord::Hand(const FoundMessage& found) noexcept {
  if (!handed_) return;
  try {
    handed_(found);
  } catch (...) {
    // Out of memory for the job: the message is kept and printed all the same.
  }
}

}  // namespace vestrel::cli
