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
#include "main_window/form_messaging.h"
#include "main_window/log_view.h"
#include "station/station.h"

namespace vestrel {

class TTrayIcon;
class ArchiveWindow;

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
  using Options = station::Options;

  TForm1();
  explicit TForm1(Options options);
  ~TForm1() override;

  // The stop of the dialogues, for a request that cannot wait for the
  // event loop (a signal).
  std::atomic<bool>& DialogueStopFlag();

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

  // The port, the modem dialogues over it (with Memo1, Memo2, Edit1 and
  // Memo3) and the archive they record into; closed and freed before the
  // controls go away.
  std::unique_ptr<station::Station> Messaging;
  // The station's serial port.
  TBComPort* BComPort1 = nullptr;
  // The notification-area icon; minimising the window moves it there.
  std::unique_ptr<TTrayIcon> TrayIcon1;
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
  void CreateControls();
  void CreateMenu();
  void ConnectHandlers();
  void SetTabOrder();

  // Edit1 and Memo3 as the station reads them.
  std::unique_ptr<LineEditField> number_;
  std::unique_ptr<PlainTextField> text_;
};

}  // namespace vestrel
