// vestrel_window_spy.exe: reads the windows of a running program from outside,
// as a window spy does, for the black-box run of Vestrel.exe under wine.
//
//   vestrel_window_spy controls TITLE   each child of the visible top-level window
//                                    TITLE: "class id left top width height
//                                    enabled|disabled text", positions in its client area
//   vestrel_window_spy box TITLE        the same for a visible dialog box TITLE
//   vestrel_window_spy origin TITLE     the client area's top-left corner on the screen
//   vestrel_window_spy frame TITLE      the window's outer left, top, width and
//                                    height, then its client area's width and height
//   vestrel_window_spy text TITLE ID    the text of control ID
//
// Text is printed as UTF-8. Exit status 1 when no such window is visible.

#include <windows.h>
// After <windows.h>:
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                        nullptr, nullptr);
  return text;
}

std::wstring WindowText(HWND window) {
  // WM_GETTEXT reads another process's edit controls too.
  const auto length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const auto got = ::SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                  reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(got));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  ::GetClassNameW(window, name, 256);
  return name;
}

// Line breaks and tabs written out, so that one control is one line.
std::string OneLine(const std::wstring& text) {
  std::wstring shown;
  for (wchar_t c : text) {
    if (c == L'\r')
      shown += L"\\r";
    else if (c == L'\n')
      shown += L"\\n";
    else
      shown.push_back(c);
  }
  return Utf8(shown);
}

// The first visible top-level window with this title (and class, when given).
HWND FindVisible(const std::wstring& title, const std::wstring& window_class) {
  struct Search {
    std::wstring title;
    std::wstring window_class;
    HWND found = nullptr;
  } search{title, window_class};
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if (!::IsWindowVisible(window) || WindowText(window) != s->title) return TRUE;
        if (!s->window_class.empty() && ClassOf(window) != s->window_class) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argc < 3) {
    std::fputs("usage: vestrel_window_spy controls|box|origin|frame|text TITLE [ID]\n", stderr);
    return 2;
  }
  const std::wstring verb = argv[1];
  // A dialog box (a message box, the About box) has the dialog class; the
  // main window of the same title does not.
  HWND window = FindVisible(argv[2], verb == L"box" ? L"#32770" : L"");
  if (!window) return 1;
  char line[512];
  if (verb == L"origin") {
    POINT origin{0, 0};
    ::ClientToScreen(window, &origin);
    std::snprintf(line, sizeof line, "%ld %ld", origin.x, origin.y);
    Print(line);
  } else if (verb == L"frame") {
    RECT r;
    RECT client;
    ::GetWindowRect(window, &r);
    ::GetClientRect(window, &client);
    std::snprintf(line, sizeof line, "%ld %ld %ld %ld %ld %ld", r.left, r.top, r.right - r.left,
                  r.bottom - r.top, client.right, client.bottom);
    Print(line);
  } else if (verb == L"text" && argc > 3) {
    HWND control = ::GetDlgItem(window, static_cast<int>(std::wcstol(argv[3], nullptr, 10)));
    if (!control) return 1;
    Print(OneLine(WindowText(control)));
  } else if (verb == L"controls" || verb == L"box") {
    std::vector<HWND> children;
    ::EnumChildWindows(
        window,
        [](HWND child, LPARAM param) -> BOOL {
          reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
      RECT r;
      ::GetWindowRect(child, &r);
      ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
      std::snprintf(line, sizeof line, "%s %d %ld %ld %ld %ld %s ", Utf8(ClassOf(child)).c_str(),
                    ::GetDlgCtrlID(child), r.left, r.top, r.right - r.left, r.bottom - r.top,
                    ::IsWindowEnabled(child) ? "enabled" : "disabled");
      Print(line + OneLine(WindowText(child)));
    }
  } else {
    return 2;
  }
  return 0;
}
