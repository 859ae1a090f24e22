#include "cli/session.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "about/file_version.h"
#include "cli/archive_access.h"
#include "cli/command_help.h"
#include "cli/console.h"
#include "cli/message_output.h"
#include "cli/number_forms.h"
#include "cli/options.h"
#include "cli/port_choice.h"
#include "cli/probe.h"
#include "cli/send_socket.h"
#include "cli/serial_ports.h"
#include "cli/stdin_text.h"
#include "cli/text.h"
#include "cli/traffic.h"
#include "cli/watch.h"
#include "cli/watchdog.h"
#include "comport/b_com_port.h"
#include "messaging/dialogue_stop.h"
#include "messaging/inbox_reader.h"
#include "messaging/sms_parts.h"
#include "messaging/sms_submission.h"
#include "messaging/status_report.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"
#include "platform/messages.h"
#include "platform/sync.h"
#include "station/comport_modem.h"
#include "station/modem_line.h"

namespace vestrel::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// After Ctrl-C during a reading: answers to commands already written are
// still taken (their messages are deleted from the phone) until the line has
// been quiet this long, or a modem wait if that is longer.
constexpr auto kDrainQuiet = 300ms;

void PrintError(const std::string& utf8) {
  std::fprintf(stderr, "vestrel-sms: %s\n", utf8.c_str());
}

// A message of the program's own (Windows-1251), as the window's box shows it.
std::string Shown(const std::string& cp1251) {
  return platform::Cp1251ToUtf8(platform::ErrorBoxText(cp1251));
}

// A folder of this process's own for the staging file; removed at the end.
class StagingFolder {
 public:
  StagingFolder() : path_(MakePrivateFolder()) {}
  ~StagingFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  // Without a folder of its own the window's relative name is used.
  std::string File() const {
    return path_.empty() ? kStagingFileName : StagingFileName(path_ / kStagingFileName);
  }

 private:
  fs::path path_;
};

class FixedField : public InputField {
 public:
  explicit FixedField(std::string text) : text_(std::move(text)) {}
  std::string Text() const override { return text_; }

 private:
  std::string text_;
};

class Session;

// The text as send takes it: UTF-8 after standard input was read.
struct PreparedText {
  std::string text;
  std::optional<std::u32string> concatenated;
};

// Throws UsageError when it cannot be sent.
PreparedText PrepareText(const std::string& utf8, bool separate) {
  PreparedText prepared;
  if (separate) {
    prepared.text = SmsTextFromUtf8(utf8);
  } else {
    prepared.concatenated = SmsCodePointsFromUtf8(utf8);
    prepared.text = Cp1251Approximation(*prepared.concatenated);
  }
  if (prepared.text.empty()) throw UsageError("the text is empty; nothing sent");
  if (prepared.concatenated) {
    const std::size_t parts = PlanParts(*prepared.concatenated).parts.size();
    if (parts > kMaxConcatenatedParts)
      throw UsageError("the text needs " + std::to_string(parts) + " SMS, more than the " +
                       std::to_string(kMaxConcatenatedParts) +
                       " that one message can link; nothing sent (--separate sends it as"
                       " separate SMS)");
  }
  return prepared;
}

class Session : public WatchedSession {
 public:
  Session(const Options& options, std::FILE* log_file)
      : options_(options),
        log_(log_file),
        progress_(StandardErrorIsTerminal()),
        command_pane_(log_, progress_),
        modem_pane_(log_, progress_),
        // The window's port, with every received chunk logged.
        port_(com_,
              [this](const std::string& bytes) {
                log_.Received(bytes);
                modem_pane_.ChunkComing();
              }),
        kept_(OpenMessageRecord(options, [this] { return com_.Port(); })),
        output_(stdout, options.json, progress_, kept_.get()),
        inbox_(port_, command_pane_, modem_pane_, options.durations, staging_.File(), &stop_) {
    inbox_.SetRecord(&output_);
    inbox_.SetConfig(options.reading);
    // The window's port and line.
    station::ConfigureModemLine(com_);
    com_.OnRxChar = [this](TBComPort*, int count) { OnChunk(count); };

    platform::SetUiThread();
    previous_handler_ =
        platform::SetExceptionHandler([this](std::exception_ptr e) { OnReported(e); });
    platform::SetProcessMessagesHook([this] { ProcessMessages(); });
    interrupt_ = std::make_unique<InterruptGuard>(stop_, watchdog_);
  }

  ~Session() override {
    Close();
    interrupt_.reset();
    platform::SetProcessMessagesHook({});
    platform::SetExceptionHandler(previous_handler_);
  }

  // concatenated: the text as one message in the cheapest coding; nothing:
  // the window's described parts of text.
  int Send(const std::string& number, const std::string& text,
           const std::optional<std::u32string>& concatenated) {
    if (int code = OpenChosenPort()) return code;
    FixedField number_field(number);
    FixedField text_field(text);
    SmsSubmission sms(port_, command_pane_, number_field, text_field, options_.durations, &stop_);
    sms.SetRecord(record_);
    // A script learns at once that a part was not taken, and nothing more is
    // written after it.
    sms.StopAtFirstFailure(true);
    // The chunks pass the send on their way to the output: it reads its answers there.
    struct Tapped {
      InboxReader& inbox;
      MessageRecord* record;
      ~Tapped() { inbox.SetRecord(record); }
    } tapped{inbox_, record_};
    inbox_.SetRecord(&sms.AnswerTap());
    sms.SetPartsBuilder([this, &concatenated](const std::string& checked,
                                              const std::string& shown) {
      std::vector<SubmitPart> parts =
          concatenated
              ? BuildConcatenatedParts(checked, *concatenated, NextConcatenationReference(record_))
              : BuildDescribedParts(checked, shown);
      // --report: the service centre is asked to tell whether each part arrived.
      if (options_.report)
        for (SubmitPart& part : parts) part.pdu = WithStatusReportRequest(part.pdu);
      return parts;
    });
    sending_ = true;
    try {
      sms.Button1Click();
    } catch (const DialogueStopped&) {
    } catch (const EComPort& e) {
      Fail(e.what());
    }
    sending_ = false;
    progress_.Finish();
    TellArchiveFailure();
    if (!failed_ && !stop_.Requested() && sms.Finished()) TellSendResult(sms);
    return Outcome();
  }

  int Read() {
    if (int code = OpenChosenPort()) return code;
    const auto timeout = std::chrono::seconds(options_.timeout_seconds);
    quiet_ = timeout;
    try {
      inbox_.Button4Click();
    } catch (const DialogueStopped&) {
    } catch (const EComPort& e) {
      Fail(e.what());
    }
    watchdog_.Arm(timeout);
    platform::ServeUntil([this] {
      return failed_ || stop_.Requested() || watchdog_.Expired() || !inbox_.ReadingUnderWay();
    });
    if (stop_.Requested() && !failed_) {
      // Answers already on their way hold messages already deleted.
      quiet_ = std::max<std::chrono::milliseconds>(
          kDrainQuiet, std::chrono::milliseconds(options_.durations.modem_wait_ms));
      watchdog_.Arm(quiet_);
      platform::ServeUntil([this] { return failed_ || watchdog_.Expired(); });
    } else if (!failed_ && watchdog_.Expired()) {
      timed_out_ = true;
    }
    progress_.Finish();
    TellArchiveFailure();
    return Outcome();
  }

  // The watch's view (cli/watch.h).
  std::string PortName() const override { return ChoosePort(PortPlacesNow(options_.port)).name; }
  int OpenPort(std::string& failure) override {
    if (com_.Connected()) return kExitDone;
    ResetOutcome();
    // A watch tries again and again: each try is one line, not the whole advice.
    SendReply told;
    reply_ = &told;
    const int code = OpenChosenPort();
    reply_ = nullptr;
    if (code != kExitDone) {
      failure = told.err.substr(0, told.err.find('\n'));
      return code;
    }
    opened_ = true;
    return kExitDone;
  }
  void ClosePort() override {
    opened_ = false;
    try {
      com_.Close();
    } catch (const std::exception&) {
    }
  }
  bool PortLost() const override { return opened_ && !com_.Connected(); }
  bool OutputClosed() const override { return output_failed_; }
  int ReadOnce() override {
    ResetOutcome();
    // A watch runs for months: the command log keeps no more than one
    // reading's commands (the --log file has them all).
    command_pane_.SetText({});
    return Read();
  }
  void WriteCommand(const std::string& command) override {
    const platform::EventHandle et = platform::OpenModemWaitEvent();
    port_.WriteStr(command + "\r");
    command_pane_.AddLine(command);
    options_.durations.ModemWait(et);
  }
  SendReply SendFor(const SendRequest& request) override {
    SendReply reply;
    ResetOutcome();
    PreparedText prepared;
    std::string number;
    try {
      prepared = PrepareText(request.text, request.separate);
      number = CheckedRecipient(platform::Cp1251FromUtf8(WithoutNumberForms(request.number)));
    } catch (const UsageError& e) {
      return {kExitUsage, {}, "vestrel-sms: " + std::string(e.what()) + "\n"};
    } catch (const platform::Exception& e) {
      return {kExitNumberRefused, {}, "vestrel-sms: " + Shown(e.what()) + "\n"};
    }
    // What the send prints goes back to the process that asked for it.
    struct Replying {
      Session& session;
      bool json;
      bool report;
      ~Replying() {
        session.reply_ = nullptr;
        session.options_.json = json;
        session.options_.report = report;
      }
    } replying{*this, options_.json, options_.report};
    reply_ = &reply;
    options_.json = request.json;
    options_.report = request.report;
    reply.exit_code = Send(number, prepared.text, prepared.concatenated);
    return reply;
  }
  void SetRecord(MessageRecord* record) override {
    record_ = record;
    inbox_.SetRecord(record);
  }
  MessageRecord& Output() override { return output_; }
  DialogueStop& Stop() override { return stop_; }
  Watchdog& Clock() override { return watchdog_; }
  TrafficLog& Log() override { return log_; }

 private:
  // Each reading or send of a watch is told on its own.
  void ResetOutcome() {
    failed_ = false;
    failure_.clear();
    timed_out_ = false;
    archive_failed_ = false;
    staging_failed_ = false;
    not_sent_ = false;
  }

  int OpenChosenPort() {
    if (com_.Connected()) return kExitDone;
    // Pelmora.ini as the window reads it at start-up, except that a missing
    // file is not created: a script must not leave files beside the program.
    const PortChoice choice = ChoosePort(PortPlacesNow(options_.port));
    try {
      com_.SetPort(choice.name);
      com_.Open();
    } catch (const platform::Exception& e) {
      Error(PortOpenFailure(choice, e.what()));
      return kExitPortOpen;
    }
    return kExitDone;
  }

  void Close() {
    // Whatever the port still delivers is shown, but no further command goes out.
    stop_.Request();
    try {
      com_.Close();
    } catch (const std::exception&) {
    }
  }

  int Outcome() {
    if (output_failed_) {
      Error("the output could not be written; reading stopped before the next delete");
      return kExitPortIo;
    }
    if (failed_) {
      Error(Shown(failure_));
      // A reading stopped because the archive could not keep a message.
      return archive_failed_ ? kExitArchive : kExitPortIo;
    }
    if (timed_out_) {
      Error("no answer from the modem for " + std::to_string(options_.timeout_seconds) +
            " s; the reading is not complete");
      return kExitTimeout;
    }
    if (stop_.Requested()) return InterruptGuard::ExitStatus();
    if (staging_failed_) return kExitPortIo;
    if (not_sent_) return kExitNotSent;
    if (archive_failed_) return kExitArchive;
    return kExitDone;
  }

  // Every part accepted: their references on standard output. Else the part
  // that was not, on standard error (and as an object with --json).
  void TellSendResult(const SmsSubmission& sms) {
    const SendResults& results = sms.Results();
    const std::size_t failed = results.FirstFailure();
    std::string references;
    for (std::size_t part = 1; part <= results.Count(); ++part) {
      const PartResult& result = results.Part(part);
      if (result.status != PartStatus::kAccepted || !result.reference) continue;
      if (!references.empty()) references += options_.json ? "," : " ";
      references += std::to_string(*result.reference);
    }
    const std::string parts = std::to_string(results.Count());
    std::string out;
    if (failed == 0) {
      if (options_.json)
        out =
            "{\"status\":\"accepted\",\"parts\":" + parts + ",\"references\":[" + references + "]}";
      else if (results.Count() == 1)
        out = "sent 1 part: reference " + references;
      else
        out = "sent " + parts + " parts: references " + references;
    } else {
      not_sent_ = true;
      const PartResult& result = results.Part(failed);
      if (sms.FailureText()) Error(platform::Cp1251ToUtf8(*sms.FailureText()));
      if (options_.json)
        out = std::string("{\"status\":\"") +
              (result.status == PartStatus::kRefused ? "refused" : "unknown") +
              "\",\"parts\":" + parts + ",\"part\":" + std::to_string(failed) +
              ",\"error\":" + JsonString(platform::Cp1251ToUtf8(DescribeFailure(result))) +
              ",\"error_code\":" +
              (result.error_code ? std::to_string(*result.error_code) : std::string("null")) +
              ",\"references\":[" + references + "]}";
    }
    if (out.empty()) return;
    out += "\n";
    if (reply_) {
      reply_->out += out;
      return;
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
  }

  // An archive that failed is told once per reading or send, after it.
  void TellArchiveFailure() {
    if (auto failure = output_.TakeFailure()) {
      progress_.Finish();
      Error(platform::Cp1251ToUtf8(*failure));
      archive_failed_ = true;
    }
  }

  // An error of a send for another process goes back to it.
  void Error(const std::string& utf8) {
    if (reply_)
      reply_->err += "vestrel-sms: " + utf8 + "\n";
    else
      PrintError(utf8);
  }

  void Fail(const std::string& cp1251) {
    if (failed_) return;
    failed_ = true;
    failure_ = cp1251;
  }

  // Failures the port's event thread and the dialogues report on their own.
  void OnReported(std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const EComPort& e) {
      // The device went away or refused a read.
      Fail(e.what());
    } catch (const DialogueStopped&) {
    } catch (const std::exception& e) {
      // For example the staging file could not be used: the reading goes on
      // from memory, and its exit code tells the failure.
      progress_.Finish();
      Error(Shown(e.what()));
      staging_failed_ = true;
    }
    platform::WakeSyncWaiters();
  }

  // A chunk from the port, on this thread: the window's receive handler.
  void OnChunk(int count) {
    watchdog_.Busy();
    try {
      inbox_.BComPort1RxChar(count);
    } catch (const DialogueStopped&) {
    } catch (const std::exception& e) {
      // A count that does not read, or a write that failed in a continuation.
      Fail(e.what());
    }
    if ((std::ferror(stdout) || output_.OutputFailed()) && !output_failed_) {
      // Nobody takes the messages any more: delete no more of them.
      output_failed_ = true;
      stop_.Request();
    }
    watchdog_.Arm(quiet_);
  }

  // Handling messages during the pause between the parts of a send.
  void ProcessMessages() {
    platform::CheckSynchronize();
    if (!sending_) return;
    const auto now = std::chrono::steady_clock::now();
    if (command_pane_.Text().size() != pause_log_size_) {
      pause_log_size_ = command_pane_.Text().size();
      pause_start_ = now;
    }
    const auto passed =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - pause_start_).count();
    const auto total = static_cast<long long>(options_.durations.pump_pause_ms);
    progress_.Pausing(static_cast<std::uint32_t>(passed >= total ? 0 : total - passed));
  }

  Options options_;
  TrafficLog log_;
  Progress progress_;
  CommandPane command_pane_;
  ModemPane modem_pane_;
  DialogueStop stop_;
  Watchdog watchdog_;
  StagingFolder staging_;
  TBComPort com_;
  station::ComPortModem port_;
  std::unique_ptr<MessageRecord> kept_;
  MessageOutput output_;
  InboxReader inbox_;
  // Where the dialogues hand what passes: the output, or the watch in front of it.
  MessageRecord* record_ = &output_;
  platform::ExceptionHandler previous_handler_;
  std::unique_ptr<InterruptGuard> interrupt_;

  std::chrono::milliseconds quiet_{60s};
  bool sending_ = false;
  std::size_t pause_log_size_ = 0;
  std::chrono::steady_clock::time_point pause_start_;
  bool failed_ = false;
  std::string failure_;
  bool timed_out_ = false;
  bool output_failed_ = false;
  bool archive_failed_ = false;
  bool staging_failed_ = false;
  bool not_sent_ = false;
  bool opened_ = false;         // the watch opened the port
  SendReply* reply_ = nullptr;  // a send for another process: what it prints
};

int Usage(const std::string& message) {
  PrintError(message);
  std::fprintf(stderr, "Try \"vestrel-sms --help\".\n");
  return kExitUsage;
}

// The version block's file version (UTF-8), or empty.
std::string ProgramVersion() {
  try {
    return platform::Cp1251ToUtf8(ReadFileVersion(FileNameBytes(platform::ExecutablePath())));
  } catch (const std::exception&) {
    return {};
  }
}

int Version() {
  const std::string version = ProgramVersion();
  if (version.empty()) {
    PrintError("this executable holds no version information");
    return kExitUsage;
  }
  std::printf("vestrel-sms %s\n", version.c_str());
  return kExitDone;
}

int Ports() {
  const auto devices = ListSerialDevices();
  for (const SerialDeviceEntry& d : devices) {
    std::string line = d.path;
    if (!d.target.empty()) line += " -> " + d.target;
    if (!d.description.empty()) line += " [" + d.description + "]";
    std::printf("%s\n", line.c_str());
  }
  if (devices.empty() && StandardErrorIsTerminal())
    std::fprintf(stderr, "no serial devices found\n");
  return kExitDone;
}

// The head of this run's lines in the --log file: what ran, on which port.
void WriteLogHeader(std::FILE* file, const std::string& version, const PortChoice& port,
                    const std::vector<std::string>& args) {
  TrafficLog log(file);
  log.Note("vestrel-sms " + (version.empty() ? std::string("(no version information)") : version));
  log.Note("port " + port.shown + " (" + PortSourceText(port) + ")");
  std::string line = "vestrel-sms";
  for (const std::string& arg : args) {
    const bool plain = !arg.empty() && arg.find_first_of(" \t\"'\\$`") == std::string::npos;
    if (plain) {
      line += " " + arg;
      continue;
    }
    line += " '";
    for (const char c : arg) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += "'";
  }
  log.Note("command line: " + line);
}

int SendCommand(const Options& options, std::FILE* log_file) {
  std::string utf8;
  if (options.text) {
    utf8 = *options.text;
  } else {
    utf8.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  PreparedText prepared;
  std::string number;
  try {
    if (!options.text) utf8 = std::string(WithoutFinalLineBreak(StandardInputUtf8(utf8)));
    prepared = PrepareText(utf8, options.separate);
  } catch (const UsageError& e) {
    return Usage(e.what());
  }
  try {
    // The window's check, before the port is touched.
    number = CheckedRecipient(platform::Cp1251FromUtf8(WithoutNumberForms(options.number)));
  } catch (const platform::Exception& e) {
    PrintError(Shown(e.what()));
    return kExitNumberRefused;
  }
  // A watcher that holds the port sends for us.
  if (auto reply = SendThroughWatcher(
          ChoosePort(PortPlacesNow(options.port)).name,
          {options.number, utf8, options.json, options.separate, options.report})) {
    std::fwrite(reply->out.data(), 1, reply->out.size(), stdout);
    std::fflush(stdout);
    std::fwrite(reply->err.data(), 1, reply->err.size(), stderr);
    return reply->exit_code;
  }
  Session session(options, log_file);
  return session.Send(number, prepared.text, prepared.concatenated);
}

}  // namespace

int Run(int argc, char** argv) {
  const ConsoleSession console;
  Options options;
  const std::vector<std::string> args = CommandLineArguments(argc, argv);
  try {
    options = ParseCommandLine(args);
  } catch (const UsageError& e) {
    return Usage(e.what());
  }
  switch (options.command) {
    case Command::Help:
      std::fputs((options.help_on ? CommandHelpText(*options.help_on) : HelpText()).c_str(),
                 stdout);
      return kExitDone;
    case Command::Version:
      return Version();
    case Command::Ports:
      return options.probe ? ProbeCommand(options) : Ports();
    case Command::Archive:
      return ArchiveCommand(options);
    case Command::Send:
    case Command::Read:
    case Command::Watch:
      break;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> log_file(nullptr, std::fclose);
  if (options.log_file) {
    log_file.reset(OpenLogFile(*options.log_file));
    if (!log_file) {
      const int error = errno;
      return Usage("cannot open the log file \"" + *options.log_file + "\": " +
                   (error == ELOOP ? "it is a link, and no log is written through one"
                                   : std::strerror(error)));
    }
    WriteLogHeader(log_file.get(), ProgramVersion(), ChoosePort(PortPlacesNow(options.port)), args);
  }
  // A closed output ends a reading (see Session::OnChunk), not the process.
  IgnoreBrokenPipe();
  if (options.command == Command::Send) return SendCommand(options, log_file.get());
  Session session(options, log_file.get());
  if (options.command == Command::Watch) return Watch(options, session, log_file.get());
  return session.Read();
}

}  // namespace vestrel::cli
