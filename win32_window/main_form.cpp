#include "win32_window/main_form.h"

#include <utility>

#include "archive/archive.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/shell.h"
#include "platform/utf8.h"
#include "platform/win32_ui.h"
#include "win32_window/about_box.h"
#include "win32_window/form_messaging.h"
#include "win32_window/tray_icon.h"

namespace vestrel::win32 {
namespace {

constexpr wchar_t kFormClass[] = L"TForm1";
constexpr wchar_t kSplitterClass[] = L"TSplitter";
constexpr int kClientWidth = 568;
constexpr int kClientHeight = 351;
constexpr int kWindowLeft = 218;
constexpr int kWindowTop = 161;
// A single fixed border with the system menu and the minimise box only.
constexpr DWORD kFormStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

std::wstring Text(const char* utf8) {
  return platform::WideFromCp1251(platform::Cp1251FromUtf8(utf8));
}

// The divider: a bevelled bar that shows the resize cursor and is attached
// to nothing, so dragging it moves nothing.
LRESULT CALLBACK SplitterProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(window, &paint);
    RECT rect;
    ::GetClientRect(window, &rect);
    ::FillRect(dc, &rect, ::GetSysColorBrush(COLOR_GRADIENTACTIVECAPTION));
    ::DrawEdge(dc, &rect, BDR_RAISEDINNER, BF_RECT);
    ::EndPaint(window, &paint);
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void RegisterSplitterClass(HINSTANCE instance) {
  WNDCLASSW splitter{};
  splitter.lpfnWndProc = SplitterProc;
  splitter.hInstance = instance;
  splitter.hCursor = ::LoadCursorW(nullptr, IDC_SIZEWE);
  splitter.lpszClassName = kSplitterClass;
  ::RegisterClassW(&splitter);
}

// Runs a handler: an exception that leaves it goes to the application's
// handler (the error message box) and the window goes on.
template <typename Handler>
void Guarded(Handler handler) {
  platform::RunGuarded(handler);
}

}  // namespace

TForm1::TForm1(const std::string& title, HICON icon, Options options) : title_(title) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  RegisterSplitterClass(instance);
  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kFormClass;
  ::RegisterClassW(&wc);

  CreateMenuBar();
  RECT frame{0, 0, kClientWidth, kClientHeight};
  ::AdjustWindowRectEx(&frame, kFormStyle, TRUE, 0);
  window_ = ::CreateWindowExW(0, kFormClass, L"Vestrel", kFormStyle, kWindowLeft, kWindowTop,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr,
                              MainMenu1, instance, this);
  if (!window_) {
    throw platform::Exception(platform::Cp1251FromUtf8("Unable to create the main window: error " +
                                                       std::to_string(::GetLastError())));
  }
  // A menu bar that wraps would take client height: the client area is
  // checked and the frame grown to keep it whole.
  RECT client;
  ::GetClientRect(window_, &client);
  if (client.bottom != kClientHeight) {
    RECT outer;
    ::GetWindowRect(window_, &outer);
    ::SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left,
                   outer.bottom - outer.top + kClientHeight - client.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  platform::SetMessageBoxOwner(window_);
  platform::SetDialogWindow(window_);

  // "MS Sans Serif" 8 points (-11 pixels); where it is missing the system
  // puts its substitute in.
  font_ = ::CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_DONTCARE, L"MS Sans Serif");
  CreateControls();

  number_ = std::make_unique<EditField>(Edit1);
  text_ = std::make_unique<EditField>(Memo3);
  Messaging = std::make_unique<station::Station>(
      std::move(options),
      station::FrontEnd{
          CommandLogDisplay(Memo1), ModemLogDisplay(Memo2), *number_, *text_, {}, [this] {
            if (window_) ::PostMessageW(window_, WM_CLOSE, 0, 0);
          }});
  BComPort1 = &Messaging->BComPort1;
  BComPort1->OnRxChar = [this](TBComPort* sender, int count) { BComPort1RxChar(sender, count); };

  TrayIcon1 = std::make_unique<TTrayIcon>(window_, title_);
  TrayIcon1->SetActOnMinimize(true);
  TrayIcon1->SetHint("Vestrel");
  TrayIcon1->SetIcon(icon);

  // The creation handler runs last; its failure is reported and the window
  // is still created and shown.
  platform::RunGuarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
  TrayIcon1.reset();
  // Closing the port may still run a delivery that touches the logs.
  Messaging.reset();
  BComPort1 = nullptr;
  if (window_) ::DestroyWindow(window_);
  platform::SetDialogWindow(nullptr);
  platform::SetMessageBoxOwner(nullptr);
  if (font_) ::DeleteObject(font_);
}

void TForm1::CreateMenuBar() {
  MainMenu1 = ::CreateMenu();
  N3 = ::CreatePopupMenu();
  ::AppendMenuW(N3, MF_STRING, kN1, Text("Подготовка к работе").c_str());
  ::AppendMenuW(N3, MF_STRING, kN4, Text("О программе...").c_str());
  ::AppendMenuW(MainMenu1, MF_POPUP, reinterpret_cast<UINT_PTR>(N3), Text("Справка").c_str());
  ::AppendMenuW(MainMenu1, MF_STRING, kN2, Text("Выход").c_str());
  ::AppendMenuW(MainMenu1, MF_STRING, kN5, Text("Архив").c_str());
}

void TForm1::CreateControls() {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  const auto make = [&](const wchar_t* kind, const std::wstring& caption, DWORD style,
                        DWORD ex_style, int id, RECT r) {
    HWND control = ::CreateWindowExW(
        ex_style, kind, caption.c_str(), WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right,
        r.bottom, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return control;
  };
  const DWORD button = BS_PUSHBUTTON | WS_TABSTOP;
  const DWORD memo = ES_MULTILINE | WS_TABSTOP;
  const DWORD edge = WS_EX_CLIENTEDGE;
  // Made in the tab order (Memo1, Button1, Memo2, Edit2, Button2, Button3,
  // Button4, Button6, Edit1, Memo3): the Tab key follows the order of creation.
  Memo1 = make(L"EDIT", L"", memo | ES_READONLY | WS_VSCROLL | ES_AUTOVSCROLL, edge, kMemo1,
               {224, 224, 185, 89});
  Button1 = make(L"BUTTON", L"SendSMS", button, 0, kButton1, {8, 40, 75, 25});
  // No word wrap and no horizontal bar: long lines run past the right edge.
  Memo2 = make(L"EDIT", L"", memo | ES_READONLY | WS_VSCROLL | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
               edge, kMemo2, {224, 0, 337, 217});
  Edit2 = make(L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP | WS_DISABLED, edge, kEdit2,
               {224, 320, 185, 21});
  Button2 = make(L"BUTTON", L"PortOpen", button, 0, kButton2, {448, 240, 75, 25});
  Button3 = make(L"BUTTON", L"PortClose", button, 0, kButton3, {448, 280, 75, 25});
  Button4 = make(L"BUTTON", L"ReadSMS", button, 0, kButton4, {8, 8, 75, 25});
  Button6 = make(L"BUTTON", L"SendATinCOM", button, 0, kButton6, {448, 320, 81, 25});
  Edit1 = make(L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, edge, kEdit1, {8, 88, 121, 21});
  Memo3 =
      make(L"EDIT", L"", memo | ES_WANTRETURN | ES_AUTOVSCROLL, edge, kMemo3, {8, 128, 169, 217});
  Label1 = make(L"STATIC", Text("Номер (без \"+\")"), SS_LEFT | SS_NOPREFIX, 0, kLabel1,
                {8, 72, 80, 13});
  Label2 = make(L"STATIC", Text("Текст СМС"), SS_LEFT | SS_NOPREFIX, 0, kLabel2, {8, 112, 56, 13});
  // Narrow word-wrapping labels: each spaced-out letter stands on its own
  // line, and the caption reads from top to bottom.
  Label4 = make(L"STATIC", Text("Р у ч н о й      р е ж и м     С М С"), SS_LEFT | SS_NOPREFIX, 0,
                kLabel4, {184, 8, 12, 208});
  Splitter1 = make(kSplitterClass, L"", 0, 0, kSplitter1, {200, 0, 3, kClientHeight});
  Label3 = make(L"STATIC", Text("С л у ж е б н а я   ч а с т ь"), SS_LEFT | SS_NOPREFIX, 0, kLabel3,
                {208, 8, 8, 195});
  // No length limit in any field or pane.
  for (HWND edit : {Memo1, Memo2, Memo3, Edit1, Edit2}) ::SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
}

void TForm1::Show(int show_command) {
  ::ShowWindow(window_, show_command);
  if (show_command != SW_SHOWMINNOACTIVE) ::UpdateWindow(window_);
}

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->window_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TForm1*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return ::DefWindowProcW(window, message, wparam, lparam);
  return self->WndProc(message, wparam, lparam);
}

LRESULT TForm1::WndProc(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      // Menu items and button clicks; notifications of the edit fields pass.
      if (HIWORD(wparam) == 0 || HIWORD(wparam) == BN_CLICKED) Command(LOWORD(wparam));
      return 0;
    case WM_SIZE:
      if (wparam == SIZE_MINIMIZED && TrayIcon1) TrayIcon1->AppMinimize();
      return 0;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DESTROY:
      ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      window_ = nullptr;
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(window_, message, wparam, lparam);
  }
}

void TForm1::Command(int id) {
  switch (id) {
    case kButton1:
      return Guarded([this] { Button1Click(); });
    case kButton2:
      return Guarded([this] { Button2Click(); });
    case kButton3:
      return Guarded([this] { Button3Click(); });
    case kButton4:
      return Guarded([this] { Button4Click(); });
    case kButton6:
      return Guarded([this] { Button6Click(); });
    case kN1:
      return Guarded([this] { N1Click(); });
    case kN2:
      return Guarded([this] { N2Click(); });
    case kN4:
      return Guarded([this] { N4Click(); });
    case kN5:
      return Guarded([this] { N5Click(); });
    default:
      return;
  }
}

void TForm1::Close() {
  // A close asked for in the middle of a dialogue ends the dialogue at its
  // next command boundary; the window closes once it has unwound.
  if (!Messaging->CloseRequested()) return;
  // The port goes while the panes that its deliveries write still stand.
  BComPort1->Close();
  TrayIcon1.reset();
  ::DestroyWindow(window_);
}

// ---- Handlers ----

void TForm1::FormCreate() {
  Messaging->FormCreate();
}

void TForm1::Button1Click() {
  Messaging->SendSms();
}

void TForm1::Button2Click() {
  Messaging->OpenPort();
}

void TForm1::Button3Click() {
  Messaging->ClosePort();
}

void TForm1::Button4Click() {
  Messaging->ReadSms();
}

void TForm1::Button6Click() {
  Messaging->SendRawCommand(EditField(Edit2).Text());
}

void TForm1::N1Click() {
  // The guide's Cyrillic name goes to the shell as UTF-16; whether anything
  // could open it is not reported.
  platform::ShellOpenFile(Messaging->HelpDocument(), "open");
}

void TForm1::N2Click() {
  ::SendMessageW(window_, WM_CLOSE, 0, 0);
}

void TForm1::N4Click() {
  if (about_box_) about_box_->ShowModal(window_);
}

void TForm1::N5Click() {
  // The window has no listing of its own: where the build keeps an archive
  // the box says where and how to list it, else that there is none.
  if (archive::Archive* kept = Messaging->Archive()) {
    platform::ShowMessageBox(
        platform::Cp1251FromUtf8("Архив сообщений: " + platform::PathToUtf8(kept->file()) +
                                 "\r\nСписок покажет команда: vestrel-sms.exe archive"),
        title_, MB_ICONINFORMATION);
    return;
  }
  platform::ShowMessageBox(
      platform::Cp1251FromUtf8("Эта сборка программы не ведёт архив сообщений: в ней нет SQLite. "
                               "Архив ведёт сборка для Windows с SQLite (vcpkg или MSYS2) и "
                               "сборка для Linux."),
      title_, MB_ICONINFORMATION);
}

void TForm1::BComPort1RxChar(TBComPort*, int Count) {
  Messaging->ReceivedChars(Count);
}

}  // namespace vestrel::win32
