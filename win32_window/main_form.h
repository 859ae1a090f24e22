#pragma once
// TForm1 with the Windows API's own controls: the operator's main window. The
// left half sends and reads SMS by hand, the right half shows the traffic with
// the modem and holds the port controls. Handlers only hand over to the port
// and the modem dialogues.

#include <windows.h>

#include <filesystem>
#include <memory>
#include <string>

#include "comport/b_com_port.h"
#include "station/station.h"

namespace vestrel::win32 {

class EditField;
class TTrayIcon;
class TAboutBox;

class TForm1 {
 public:
  using Options = station::Options;

  // Control identifiers: each button's and menu item's WM_COMMAND.
  enum Id : int {
    kButton1 = 101,
    kButton2,
    kButton3,
    kButton4,
    kButton6,
    kEdit1,
    kEdit2,
    kMemo1,
    kMemo2,
    kMemo3,
    kLabel1,
    kLabel2,
    kLabel3,
    kLabel4,
    kSplitter1,
    kN1 = 201,
    kN2,
    kN4,
    kN5,
  };

  TForm1(const std::string& title, HICON icon, Options options = {});
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  HWND Handle() const { return window_; }
  // Shows the window by the show command the program was started with; a
  // minimised start puts the program straight into the notification area.
  void Show(int show_command);
  void SetAboutBox(TAboutBox* box) { about_box_ = box; }

  // Controls, named as the operator's documentation and the dialogues know them.
  HWND Button4 = nullptr;  // ReadSMS
  HWND Button1 = nullptr;  // SendSMS
  HWND Label1 = nullptr;
  HWND Edit1 = nullptr;  // recipient number
  HWND Label2 = nullptr;
  HWND Memo3 = nullptr;  // SMS text
  HWND Label4 = nullptr;
  HWND Splitter1 = nullptr;
  HWND Label3 = nullptr;
  HWND Memo2 = nullptr;    // modem log
  HWND Memo1 = nullptr;    // command log
  HWND Edit2 = nullptr;    // raw command (disabled)
  HWND Button2 = nullptr;  // PortOpen
  HWND Button3 = nullptr;  // PortClose
  HWND Button6 = nullptr;  // SendATinCOM
  HMENU MainMenu1 = nullptr;
  HMENU N3 = nullptr;  // Справка

  // The port, the dialogues and start-up: everything that is not a control.
  std::unique_ptr<station::Station> Messaging;
  TBComPort* BComPort1 = nullptr;  // the station's port
  std::unique_ptr<TTrayIcon> TrayIcon1;

  void FormCreate();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button6Click();
  void N1Click();
  void N2Click();
  void N4Click();
  void N5Click();
  void BComPort1RxChar(TBComPort* Sender, int Count);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT WndProc(UINT message, WPARAM wparam, LPARAM lparam);
  void CreateControls();
  void CreateMenuBar();
  void Command(int id);
  void Close();

  std::string title_;
  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  HBRUSH splitter_brush_ = nullptr;
  TAboutBox* about_box_ = nullptr;
  std::unique_ptr<EditField> number_;
  std::unique_ptr<EditField> text_;
};

}  // namespace vestrel::win32
