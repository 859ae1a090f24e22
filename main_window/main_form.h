#pragma once
// TForm1: the operator's main window. The left half sends and reads SMS by
// hand, the right half shows the traffic with the modem and holds the port
// controls. Handlers only hand over to the port and the modem dialogues.

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "comport/b_com_port.h"
#include "main_window/log_view.h"
#include "messaging/messaging_io.h"

namespace vestrel {

struct FormMessaging;
class TTrayIcon;
class ArchiveWindow;
namespace archive {
class Archive;
class ArchiveRecord;
}  // namespace archive

// A word-wrapping label that breaks at spaces and shows every further space of
// a gap as one empty line, so a caption with spaced-out letters reads from top
// to bottom in a narrow column.
class TWrapLabel : public QLabel {
 public:
  explicit TWrapLabel(QWidget* parent = nullptr);
  // The lines the caption is drawn in for a given width.
  static std::vector<QString> WrapLines(const QString& text, int width, const QFontMetrics& fm);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // What the window picks up from its surroundings. Production uses the defaults.
  struct Options {
    // Where Pelmora.ini and the help document are looked up; empty: the
    // executable folder.
    std::filesystem::path folder;
    // Devices of BComPort1; null: the system's serial devices.
    std::shared_ptr<SerialDeviceFactory> port_factory;
    // Durations of the modem dialogues.
    MessagingDurations durations;
    // The message archive's file; empty: as Pelmora.ini names it, else the
    // user's data folder.
    std::filesystem::path archive_file;
  };

  TForm1();
  explicit TForm1(Options options);
  ~TForm1() override;

  // The stop of the dialogues, for a request that cannot wait for the
  // event loop (a signal).
  std::atomic<bool>& DialogueStopFlag();

  static const std::string& IniSection();         // "MODEM"
  static const std::string& IniPortKey();         // "COM Порт"
  static const std::string& DefaultPortName();    // "COM11"
  static const std::string& IniArchiveKey();      // "Архив": another archive file
  static const std::string& IniConcatenateKey();  // "Склейка": 1 sends one long message
  static const std::string& IniReadingModeKey();  // "Чтение": PDU reads in PDU mode
  static const std::string& IniMemoryKey();       // "Память": SM, ME or MT
  static constexpr const char* kIniFileName = "Pelmora.ini";
  // A file name on disk, not program text: UTF-8 like every Linux file name.
  static constexpr const char* kHelpDocumentName = "Подготовка программы к работе.doc";

  // Controls, named as the operator's documentation and the dialogues know them.
  QWidget* ClientArea;
  QPushButton* Button4;  // ReadSMS
  QPushButton* Button1;  // SendSMS
  QLabel* Label1;
  QLineEdit* Edit1;  // recipient number
  QLabel* Label2;
  QPlainTextEdit* Memo3;  // SMS text
  TWrapLabel* Label4;
  QFrame* Splitter1;
  TWrapLabel* Label3;
  LogView* Memo2;         // modem log
  QPlainTextEdit* Memo1;  // command log
  QLineEdit* Edit2;       // raw command (disabled)
  QPushButton* Button2;   // PortOpen
  QPushButton* Button3;   // PortClose
  QPushButton* Button6;   // SendATinCOM
  QMenuBar* MainMenu1;
  QMenu* N3;    // Справка
  QAction* N1;  // Подготовка к работе
  QAction* N4;  // О программе...
  QAction* N2;  // Выход
  QAction* N5;  // Архив

  // The serial port; closed and freed before the controls go away.
  std::unique_ptr<TBComPort> BComPort1;
  // The modem dialogues over BComPort1, Memo1, Memo2, Edit1 and Memo3.
  std::unique_ptr<FormMessaging> Messaging;
  // The notification-area icon; minimising the window moves it there.
  std::unique_ptr<TTrayIcon> TrayIcon1;
  // What was read and sent, kept on disk; the dialogues record into it.
  std::unique_ptr<archive::Archive> Archive1;
  std::unique_ptr<archive::ArchiveRecord> ArchiveRecord1;
  // Made at its first showing.
  std::unique_ptr<ArchiveWindow> ArchiveWindow1;

  // Handlers. Each runs on the user-interface thread; the button and menu
  // slots hand any exception to the application's handler.
  void FormCreate(QObject* Sender);
  void Button1Click(QObject* Sender);
  void Button2Click(QObject* Sender);
  void Button3Click(QObject* Sender);
  void Button4Click(QObject* Sender);
  void Button6Click(QObject* Sender);
  void N1Click(QObject* Sender);
  void N2Click(QObject* Sender);
  void N4Click(QObject* Sender);
  void N5Click(QObject* Sender);
  // Runs on the user-interface thread through the port's delivery; an
  // exception goes back to the port's event thread, not to a message box.
  void BComPort1RxChar(TBComPort* Sender, int Count);

 protected:
  // A close asked for in the middle of a dialogue ends the dialogue at its
  // next command boundary; the window closes once it has unwound.
  void closeEvent(QCloseEvent* event) override;
  // Keeps the window at its one size when a window manager maximises it or
  // makes it full-screen.
  void changeEvent(QEvent* event) override;

 private:
  // Runs a handler that talks to the modem; a dialogue stopped for a close
  // ends quietly, and the close then goes ahead.
  template <typename Dialogue>
  void RunDialogue(Dialogue&& dialogue);

  void CreateControls();
  void CreateMenu();
  void ConnectHandlers();
  void SetTabOrder();
  void SetUpArchive(const std::filesystem::path& file);

  std::filesystem::path folder_;
  int dialogues_running_ = 0;
};

}  // namespace vestrel
