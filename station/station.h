#pragma once
// What a front end (the Qt window, the Windows window) holds that is not a
// widget: the modem's port with its line set up, the dialogues over it, the
// archive they record into, start-up from Pelmora.ini, and what each button
// and menu item sets going. A front end draws, gives its logs and fields, and
// forwards each handler here.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "comport/b_com_port.h"
#include "messaging/dialogue_stop.h"
#include "messaging/inbox_reader.h"
#include "messaging/messaging_io.h"
#include "messaging/sms_submission.h"
#include "station/comport_modem.h"

namespace vestrel {
namespace archive {
class Archive;
}

namespace station {

// What the station picks up from its surroundings. Production uses the defaults.
struct Options {
  // Where Pelmora.ini and the help document are looked up; empty: the
  // executable folder.
  std::filesystem::path folder;
  // Devices of the port; null: the system's serial devices.
  std::shared_ptr<SerialDeviceFactory> port_factory;
  // Durations of the modem dialogues.
  MessagingDurations durations;
  // The message archive's file; empty: as Pelmora.ini names it, else the
  // user's data folder.
  std::filesystem::path archive_file;
};

// What the front end shows and where the operator types.
struct FrontEnd {
  ShadowPane::Display command_log;  // Memo1
  ShadowPane::Display modem_log;    // Memo2
  InputField& number;               // Edit1
  InputField& text;                 // Memo3
  // After every dialogue (the archive's window shows what it wrote).
  std::function<void()> dialogue_over;
  // A close asked for during a dialogue may now go ahead; called from inside
  // the handler, so the front end closes once it has returned.
  std::function<void()> close_later;
};

class Station {
 public:
  Station(Options options, FrontEnd front_end);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // FormCreate: reads Pelmora.ini (writing it with the default port when it
  // is missing) and opens the port; throws what the port throws.
  void FormCreate();
  // Button1: sends Memo3's text to Edit1's number; a part the modem did not
  // take is reported once the send is over.
  void SendSms();
  // Button4: counts, reads and deletes the messages in the phone.
  void ReadSms();
  // Button2, Button3.
  void OpenPort();
  void ClosePort();
  // Button6: the raw command field's text and a carriage return (Windows-1251).
  void SendRawCommand(const std::string& command);
  // BComPort1RxChar: the handler of received characters.
  void ReceivedChars(int count);
  // The window's close: true when it may close now; false when a dialogue
  // runs, which then stops at its next command boundary and close_later
  // follows.
  bool CloseRequested();
  // N1: the operator's guide beside the program.
  std::filesystem::path HelpDocument() const;

  // The stop of the dialogues, for a request that cannot wait for the event
  // loop (a signal).
  std::atomic<bool>& DialogueStopFlag() { return stop.Flag(); }
  const std::filesystem::path& Folder() const { return folder_; }
  // What was read and sent, kept on disk; null where the build keeps none.
  archive::Archive* Archive() const;

 private:
  std::filesystem::path folder_;
  std::unique_ptr<TBComPort> com_;

 public:
  // The pieces the front end's handlers reach: BComPort1, the dialogues and
  // the bytes of the two logs.
  TBComPort& BComPort1;
  DialogueStop stop;
  ComPortModem port;
  ShadowPane command_log;  // the bytes of Memo1
  ShadowPane modem_log;    // the bytes of Memo2
  SmsSubmission sms;
  InboxReader inbox;

 private:
  template <typename Dialogue>
  void RunDialogue(Dialogue&& dialogue);
  void SetUpArchive(const std::filesystem::path& file);

  FrontEnd front_end_;
  std::unique_ptr<MessageRecord> record_;
  archive::Archive* archive_ = nullptr;
  int dialogues_running_ = 0;
};

// station_archive_*.cpp, one per build: the dialogues' record kept in the
// archive file, or nothing where the build has no archive. port_name gives
// the port's name at each record; *archive is set to the archive in use.
std::unique_ptr<MessageRecord> OpenArchiveRecord(const std::filesystem::path& file,
                                                 std::function<std::string()> port_name,
                                                 archive::Archive** archive);

}  // namespace station
}  // namespace vestrel
