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
#include "cli/console.h"
#include "cli/message_output.h"
#include "cli/options.h"
#include "cli/serial_ports.h"
#include "cli/text.h"
#include "cli/traffic.h"
#include "cli/watchdog.h"
#include "comport/b_com_port.h"
#include "messaging/dialogue_stop.h"
#include "messaging/inbox_reader.h"
#include "messaging/sms_parts.h"
#include "messaging/sms_submission.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"
#include "platform/messages.h"
#include "platform/profile.h"
#include "platform/sync.h"

namespace vestrel::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Pelmora.ini as the window reads it at start-up, except that a missing file
// is not created: a script must not leave files beside the program.
constexpr char kIniFileName[] = "Pelmora.ini";
constexpr char kIniSection[] = "MODEM";
constexpr char kIniPortKeyUtf8[] = "COM Порт";
constexpr char kDefaultPortName[] = "COM11";

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

std::string PortName(const Options& options) {
  if (options.port) return *options.port;
  const platform::IniFile ini(platform::ExecutableFolder() / kIniFileName);
  if (!ini.Exists()) return kDefaultPortName;
  return ini.ReadString(kIniSection, platform::Cp1251FromUtf8(kIniPortKeyUtf8), kDefaultPortName);
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
    return path_.empty() ? kStagingFileName : FileNameBytes(path_ / kStagingFileName);
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

// The window's port as the dialogues see it, with every received chunk logged.
class CliPort : public ModemPort {
 public:
  CliPort(TBComPort& port, ModemPane& modem_pane, TrafficLog& log)
      : port_(port), modem_pane_(modem_pane), log_(log) {}

  void Open() override { port_.Open(); }
  // A write the device took only in part is a failed write, as in the window.
  void WriteStr(const std::string& bytes) override {
    if (port_.WriteStr(bytes) != static_cast<int>(bytes.size()))
      throw EComPort(comport_messages::WriteError());
  }
  std::string ReadStr(int count) override {
    std::string bytes;
    port_.ReadStr(bytes, count);
    log_.Received(bytes);
    modem_pane_.ChunkComing();
    return bytes;
  }

 private:
  TBComPort& port_;
  ModemPane& modem_pane_;
  TrafficLog& log_;
};

class Session {
 public:
  Session(const Options& options, std::FILE* log_file)
      : options_(options),
        log_(log_file),
        progress_(StandardErrorIsTerminal()),
        command_pane_(log_, progress_),
        modem_pane_(log_, progress_),
        port_(com_, modem_pane_, log_),
        kept_(OpenMessageRecord(options, [this] { return com_.Port(); })),
        output_(stdout, options.json, progress_, kept_.get()),
        inbox_(port_, command_pane_, modem_pane_, options.durations, staging_.File(), &stop_) {
    inbox_.SetRecord(&output_);
    // The window's port: 9600 8N1, queues of 2048, reads that return at once,
    // writes of n bytes given 100 x n + 1000 ms, deliveries on this thread.
    com_.SetBaudRate(br9600);
    com_.SetByteSize(bs8);
    com_.SetInBufSize(2048);
    com_.SetOutBufSize(2048);
    com_.SetParity(paNone);
    com_.SetSyncMethod(smThreadSync);
    com_.SetStopBits(sb1);
    TComTimeouts timeouts;
    timeouts.SetReadInterval(-1);
    timeouts.SetReadTotalMultiplier(0);
    timeouts.SetReadTotalConstant(0);
    timeouts.SetWriteTotalMultiplier(100);
    timeouts.SetWriteTotalConstant(1000);
    com_.SetTimeouts(timeouts);
    com_.OnRxChar = [this](TBComPort*, int count) { OnChunk(count); };

    platform::SetUiThread();
    previous_handler_ =
        platform::SetExceptionHandler([this](std::exception_ptr e) { OnReported(e); });
    platform::SetProcessMessagesHook([this] { ProcessMessages(); });
    interrupt_ = std::make_unique<InterruptGuard>(stop_, watchdog_);
  }

  ~Session() {
    Close();
    interrupt_.reset();
    platform::SetProcessMessagesHook({});
    platform::SetExceptionHandler(previous_handler_);
  }

  // concatenated: the text as one message in the cheapest coding; nothing:
  // the window's described parts of text.
  int Send(const std::string& number, const std::string& text,
           const std::optional<std::u32string>& concatenated) {
    if (int code = OpenPort()) return code;
    FixedField number_field(number);
    FixedField text_field(text);
    SmsSubmission sms(port_, command_pane_, number_field, text_field, options_.durations, &stop_);
    sms.SetRecord(&output_);
    if (concatenated) {
      sms.SetPartsBuilder([this, &concatenated](const std::string& checked, const std::string&) {
        return BuildConcatenatedParts(checked, *concatenated, NextConcatenationReference(&output_));
      });
    }
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
    return Outcome();
  }

  int Read() {
    if (int code = OpenPort()) return code;
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

 private:
  int OpenPort() {
    std::string name;
    try {
      name = PortName(options_);
      com_.SetPort(name);
      com_.Open();
    } catch (const platform::Exception& e) {
      // A name from Pelmora.ini is Windows-1251; one from the command line is shown as given.
      const std::string shown = options_.port ? name : platform::Cp1251ToUtf8(name);
      PrintError((shown.empty() ? "" : shown + ": ") + Shown(e.what()));
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
    if (failed_) {
      PrintError(Shown(failure_));
      return kExitPortIo;
    }
    if (output_failed_) {
      PrintError("the output could not be written; reading stopped");
      return kExitPortIo;
    }
    if (timed_out_) {
      PrintError("no answer from the modem for " + std::to_string(options_.timeout_seconds) +
                 " s; the reading is not complete");
      return kExitTimeout;
    }
    if (stop_.Requested()) return kExitInterrupted;
    if (archive_failed_) return kExitArchive;
    return kExitDone;
  }

  // An archive that failed is told once per reading or send, after it.
  void TellArchiveFailure() {
    if (auto failure = output_.TakeFailure()) {
      progress_.Finish();
      PrintError(platform::Cp1251ToUtf8(*failure));
      archive_failed_ = true;
    }
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
      // from memory.
      progress_.Finish();
      PrintError(Shown(e.what()));
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
    if (std::ferror(stdout) && !output_failed_) {
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

  const Options& options_;
  TrafficLog log_;
  Progress progress_;
  CommandPane command_pane_;
  ModemPane modem_pane_;
  DialogueStop stop_;
  Watchdog watchdog_;
  StagingFolder staging_;
  TBComPort com_;
  CliPort port_;
  std::unique_ptr<MessageRecord> kept_;
  MessageOutput output_;
  InboxReader inbox_;
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
};

int Usage(const std::string& message) {
  PrintError(message);
  std::fprintf(stderr, "Try \"vestrel-sms --help\".\n");
  return kExitUsage;
}

int Version() {
  std::string version;
  try {
    version = ReadFileVersion(FileNameBytes(platform::ExecutablePath()));
  } catch (const std::exception&) {
  }
  if (version.empty()) {
    PrintError("this executable holds no version information");
    return kExitUsage;
  }
  std::printf("vestrel-sms %s\n", platform::Cp1251ToUtf8(version).c_str());
  return kExitDone;
}

int Ports() {
  const auto devices = ListSerialDevices();
  for (const SerialDeviceEntry& d : devices) {
    if (d.target.empty())
      std::printf("%s\n", d.path.c_str());
    else
      std::printf("%s -> %s\n", d.path.c_str(), d.target.c_str());
  }
  if (devices.empty() && StandardErrorIsTerminal())
    std::fprintf(stderr, "no serial devices found\n");
  return kExitDone;
}

int SendCommand(const Options& options, std::FILE* log_file) {
  std::string utf8;
  if (options.text) {
    utf8 = *options.text;
  } else {
    utf8.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    utf8 = std::string(WithoutFinalLineBreak(utf8));
  }
  std::string text;
  std::string number;
  std::optional<std::u32string> concatenated;
  try {
    if (options.separate) {
      text = SmsTextFromUtf8(utf8);
    } else {
      concatenated = SmsCodePointsFromUtf8(utf8);
      text = Cp1251Approximation(*concatenated);
    }
  } catch (const UsageError& e) {
    return Usage(e.what());
  }
  if (text.empty()) return Usage("the text is empty; nothing sent");
  if (concatenated) {
    const std::size_t parts = PlanParts(*concatenated).parts.size();
    if (parts > kMaxConcatenatedParts)
      return Usage("the text needs " + std::to_string(parts) + " SMS, more than the " +
                   std::to_string(kMaxConcatenatedParts) +
                   " that one message can link; nothing sent (--separate sends it as"
                   " separate SMS)");
  }
  try {
    // The window's check, before the port is touched.
    number = CheckedRecipient(platform::Cp1251FromUtf8(options.number));
  } catch (const platform::Exception& e) {
    PrintError(Shown(e.what()));
    return kExitNumberRefused;
  }
  Session session(options, log_file);
  return session.Send(number, text, concatenated);
}

}  // namespace

int Run(int argc, char** argv) {
  const ConsoleSession console;
  Options options;
  try {
    options = ParseCommandLine(CommandLineArguments(argc, argv));
  } catch (const UsageError& e) {
    return Usage(e.what());
  }
  switch (options.command) {
    case Command::Help:
      std::fputs(HelpText().c_str(), stdout);
      return kExitDone;
    case Command::Version:
      return Version();
    case Command::Ports:
      return Ports();
    case Command::Archive:
      return ArchiveCommand(options);
    case Command::Send:
    case Command::Read:
      break;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> log_file(nullptr, std::fclose);
  if (options.log_file) {
    log_file.reset(OpenLogFile(*options.log_file));
    if (!log_file)
      return Usage("cannot open the log file \"" + *options.log_file +
                   "\": " + std::strerror(errno));
  }
  // A closed output ends a reading (see Session::OnChunk), not the process.
  IgnoreBrokenPipe();
  if (options.command == Command::Send) return SendCommand(options, log_file.get());
  Session session(options, log_file.get());
  return session.Read();
}

}  // namespace vestrel::cli
