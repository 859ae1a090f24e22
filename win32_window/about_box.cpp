#include "win32_window/about_box.h"

#include <vector>

#include "about/about_texts.h"
#include "about/file_version.h"
#include "platform/cp1251.h"
#include "platform/exe_path.h"
#include "platform/shell.h"
#include "platform/win32_ui.h"

namespace vestrel::win32 {
namespace {

enum Control : int { kImage1 = 301, kLabel1, kLabel2, kLabel3, kLabel4, kLabel5 };
constexpr int kDesignClientWidth = 350;
constexpr int kDesignClientHeight = 171;
constexpr int kButtonWidth = 75;
// The outer width: Label1's right edge and 20 pixels.
constexpr int kOuterWidth = 76 + 185 + 20;
// The dialog frame, fixed, and no title-bar buttons.
constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | DS_MODALFRAME;

HFONT PixelFont(const wchar_t* face, int height, bool underline) {
  return ::CreateFontW(-height, 0, 0, 0, FW_BOLD, FALSE, underline, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}

// A label sized to its text, as the box's labels size themselves.
HWND MakeLabel(HWND dialog, int id, const std::string& text, HFONT font, int left, int top,
               int width, int height, bool link) {
  const std::wstring caption = platform::WideFromCp1251(text);
  HDC dc = ::GetDC(dialog);
  HGDIOBJ old = ::SelectObject(dc, font);
  SIZE extent{};
  ::GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
  ::SelectObject(dc, old);
  ::ReleaseDC(dialog, dc);
  if (width <= 0) width = extent.cx;
  if (height <= 0) height = extent.cy;
  HWND label = ::CreateWindowExW(
      0, L"STATIC", caption.c_str(),
      WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | (link ? SS_NOTIFY : 0), left, top, width,
      height, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      ::GetModuleHandleW(nullptr), nullptr);
  ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return label;
}

// The in-memory template of an empty dialog: the controls are made at
// creation, in pixels.
std::vector<WORD> DialogTemplate() {
  std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  auto* header = reinterpret_cast<DLGTEMPLATE*>(words.data());
  header->style = kDialogStyle;
  header->cdit = 0;
  words.push_back(0);  // no menu
  words.push_back(0);  // the standard dialog class
  const std::wstring caption = platform::WideFromCp1251(platform::Cp1251FromUtf8("О программе..."));
  for (wchar_t c : caption) words.push_back(static_cast<WORD>(c));
  words.push_back(0);
  return words;
}

}  // namespace

TAboutBox::TAboutBox() {
  // The version line is read once per run, here.
  std::string version;
  try {
    version = ReadFileVersion(platform::Cp1251FromWide(platform::ExecutablePath().wstring()));
  } catch (const std::exception&) {
  }
  version_line_ = platform::Cp1251FromUtf8("Версия: ") + version;
}

void TAboutBox::ShowModal(HWND owner) {
  const std::vector<WORD> words = DialogTemplate();
  ::DialogBoxIndirectParamW(::GetModuleHandleW(nullptr),
                            reinterpret_cast<const DLGTEMPLATE*>(words.data()), owner, DialogProc,
                            reinterpret_cast<LPARAM>(this));
}

void TAboutBox::FormCreate(HWND dialog) {
  RECT frame{0, 0, kDesignClientWidth, kDesignClientHeight};
  ::AdjustWindowRectEx(&frame, kDialogStyle, FALSE, WS_EX_DLGMODALFRAME);
  ::SetWindowPos(dialog, nullptr, kDialogLeft, kDialogTop, kOuterWidth, frame.bottom - frame.top,
                 SWP_NOZORDER);
  // Centred on the outer width, not the client width, as the box always was:
  // (281 - 75) / 2 = 103.
  const int button_left = (kOuterWidth - kButtonWidth) / 2;

  fonts_[0] = PixelFont(L"MS Sans Serif", 21, false);
  fonts_[1] = PixelFont(L"MS Sans Serif", 16, false);
  fonts_[2] = PixelFont(L"MS Sans Serif", 12, false);
  fonts_[3] = PixelFont(L"MS Sans Serif", 15, true);
  fonts_[4] = PixelFont(L"Times New Roman", 12, true);

  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  HWND image = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP, 0, 0, 71, 71,
                                 dialog, reinterpret_cast<HMENU>(kImage1), instance, nullptr);
  picture_ = static_cast<HBITMAP>(::LoadImageW(instance, MAKEINTRESOURCEW(kPictureResource),
                                               IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  ::SendMessageW(image, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_));

  // Label1 wraps and keeps its width.
  MakeLabel(dialog, kLabel1, "Vestrel", fonts_[0], 76, 0, 185, 48, false);
  MakeLabel(dialog, kLabel2, version_line_, fonts_[1], 80, 48, 0, 0, false);
  MakeLabel(dialog, kLabel3, about_texts::kCopyright, fonts_[2], 3, 72, 0, 0, false);
  MakeLabel(dialog, kLabel4, std::string("E-mail: ") + about_texts::kMailAddress, fonts_[3], 3, 96,
            0, 0, true);
  MakeLabel(dialog, kLabel5, about_texts::kSiteUrl, fonts_[4], 4, 117, 0, 0, true);
  HWND ok = ::CreateWindowExW(
      0, L"BUTTON", L"Ok", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, button_left, 141,
      kButtonWidth, 25, dialog, reinterpret_cast<HMENU>(IDOK), instance, nullptr);
  ::SendMessageW(ok, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_[3]), FALSE);
  ::SetFocus(ok);
}

INT_PTR TAboutBox::Handle(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      FormCreate(dialog);
      return FALSE;  // the focus is set
    case WM_CTLCOLORSTATIC: {
      const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(lparam));
      HDC dc = reinterpret_cast<HDC>(wparam);
      ::SetBkMode(dc, TRANSPARENT);
      if (id == kLabel1)
        ::SetTextColor(dc, RGB(255, 0, 0));
      else if (id == kLabel2 || id == kLabel4 || id == kLabel5)
        ::SetTextColor(dc, RGB(0, 0, 255));
      else
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_SETCURSOR: {
      const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(wparam));
      if (id != kLabel4 && id != kLabel5) return FALSE;
      ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
      ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:
          ::EndDialog(dialog, IDOK);
          return TRUE;
        case kLabel4:
          // The shell's answer is not examined.
          platform::ShellOpenUrl(std::string("mailto:") + about_texts::kMailAddress);
          return TRUE;
        case kLabel5:
          platform::ShellOpenUrl(about_texts::kSiteUrl);
          return TRUE;
        default:
          return FALSE;  // Escape does nothing: the box has no cancel
      }
    case WM_DESTROY:
      for (HFONT& font : fonts_) {
        if (font) ::DeleteObject(font);
        font = nullptr;
      }
      if (picture_) ::DeleteObject(picture_);
      picture_ = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK TAboutBox::DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
  auto* self = reinterpret_cast<TAboutBox*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  return self ? self->Handle(dialog, message, wparam, lparam) : FALSE;
}

}  // namespace vestrel::win32
