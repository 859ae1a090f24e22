#include "station/station.h"

#include <exception>

#include "messaging/sms_parts.h"
#include "messaging/staging.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"
#include "platform/utf8.h"
#include "station/modem_line.h"
#include "station/settings.h"

namespace vestrel::station {

Station::Station(Options options, FrontEnd front_end)
    : folder_(options.folder.empty() ? platform::ExecutableFolder() : options.folder),
      com_(options.port_factory ? std::make_unique<TBComPort>(options.port_factory)
                                : std::make_unique<TBComPort>()),
      BComPort1(*com_),
      port(*com_),
      // The newest command stays in view at the bottom of the command log.
      command_log(front_end.command_log),
      // The newest chunk stands at the top of the modem log.
      modem_log(front_end.modem_log),
      sms(port, command_log, front_end.number, front_end.text, options.durations, &stop),
      inbox(port, command_log, modem_log, options.durations, kStagingFileName, &stop),
      front_end_(std::move(front_end)) {
  ConfigureModemLine(*com_);
  com_->SetPort(Fallback(IniKey::kPort));
  com_->OnRxChar = [this](TBComPort*, int count) { ReceivedChars(count); };
  // Every chunk passes the send on its way to the record: a send reads its
  // answers there.
  inbox.SetRecord(&sms.AnswerTap());
  SetUpArchive(options.archive_file);
}

Station::~Station() {
  // Closing the port may still run a delivery that touches the logs.
  com_.reset();
}

archive::Archive* Station::Archive() const {
  return archive_;
}

void Station::SetUpArchive(const std::filesystem::path& file) {
  // Read before the creation handler, which may fail before it gets there;
  // a missing file or key means the user's data folder.
  const std::filesystem::path path = file.empty() ? ArchiveFile({folder_ / kIniFileName}) : file;
  record_ = OpenArchiveRecord(
      path, [this] { return com_ ? com_->Port() : std::string(); }, &archive_);
  // The reading's chunks reach the archive through the send's tap.
  sms.SetRecord(record_.get());
}

void Station::FormCreate() {
  const StartUpSettings settings = ReadStartUpSettings(folder_);
  if (settings.concatenate) {
    // A long text as one concatenated message in the cheapest coding,
    // instead of the described separate parts.
    sms.SetPartsBuilder([this](const std::string& number, const std::string& text) {
      return BuildConcatenatedParts(number, TextFromCp1251(text),
                                    NextConcatenationReference(sms.Record()));
    });
  }
  com_->SetPort(settings.port);
  com_->Open();
}

template <typename Dialogue>
void Station::RunDialogue(Dialogue&& dialogue) {
  struct Running {
    int& count;
    explicit Running(int& c) : count(c) { ++count; }
    ~Running() { --count; }
  };
  {
    Running running(dialogues_running_);
    try {
      dialogue();
    } catch (const DialogueStopped&) {
      // Unwound for a close; nothing to report.
    }
  }
  // What the dialogue put into the archive shows in its window at once.
  if (front_end_.dialogue_over) front_end_.dialogue_over();
  // An archive that failed in this dialogue is told once it is over: the
  // dialogue itself went on as if there were none.
  if (record_) {
    if (auto failure = record_->TakeFailure())
      platform::ReportException(std::make_exception_ptr(platform::Exception(*failure)));
  }
  if (dialogues_running_ == 0 && stop.Requested() && front_end_.close_later)
    front_end_.close_later();
}

void Station::SendSms() {
  RunDialogue([this] { sms.Button1Click(); });
  // Every part was written, as always; the operator learns which one the
  // modem did not take, once the send is over.
  if (const auto& failure = sms.FailureText())
    platform::ReportException(std::make_exception_ptr(platform::Exception(*failure)));
}

void Station::ReadSms() {
  RunDialogue([this] { inbox.Button4Click(); });
}

void Station::OpenPort() {
  com_->Open();
}

void Station::ClosePort() {
  com_->Close();
}

void Station::SendRawCommand(const std::string& command) {
  com_->WriteStr(command + '\r');
}

void Station::ReceivedChars(int count) {
  RunDialogue([this, count] { inbox.BComPort1RxChar(count); });
}

bool Station::CloseRequested() {
  if (dialogues_running_ == 0) return true;
  stop.Request();
  return false;
}

std::filesystem::path Station::HelpDocument() const {
  return folder_ / platform::PathFromUtf8(kHelpDocumentName);
}

}  // namespace vestrel::station
