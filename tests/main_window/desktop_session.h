#pragma once
// The built program on a desktop of its own: an X server without a screen
// (Xvfb), a window manager with a notification area (icewm), and the program
// started beside a Pelmora.ini that names a pseudo-terminal. The tests look
// at the windows as the window manager placed them and drive the program with
// the mouse and keyboard (xdotool), as an operator would.
//
// Everything that waits polls until a condition holds, with a generous limit.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vestrel::test {

using WindowId = unsigned long;

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Rect& r);

// Polls done until it holds or the limit has passed; returns its last answer.
bool WaitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(30));

class DesktopSession {
 public:
  // Empty when everything the session needs is at hand, else what is missing.
  static std::string Missing();

  // Starts the display and the window manager and waits until both are up;
  // throws std::runtime_error when they do not come up.
  DesktopSession();
  ~DesktopSession();
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  // Starts a copy of the built program in a folder of its own and waits
  // until its main window is shown and framed; returns that window.
  WindowId StartProgram();
  pid_t ProgramPid() const { return program_; }
  // Hangs up the program's port (the modem's end goes away): the program
  // reports the lost device.
  void HangUpPort();
  // What the program wrote to its standard output and error.
  std::string ProgramOutput() const;
  // The program's exit status once it has ended by itself within the limit.
  std::optional<int> WaitForProgramExit(std::chrono::milliseconds limit);

  // A top-level window of the program, of the normal or the dialog kind,
  // with this title (UTF-8), shown or not; 0 when there is none.
  WindowId FindWindow(const std::string& title, bool dialog);
  // The program's icon in the notification area; 0 when there is none.
  WindowId TrayIcon();
  // Where the program's open menu stands, if one is open.
  std::optional<Rect> OpenMenu();

  bool Viewable(WindowId window);
  // Whether the window has the keyboard.
  bool Focused(WindowId window);
  // Whether the window manager has put its frame around the window.
  bool Framed(WindowId window);
  // The window's frame as it stands on the screen (the window itself when
  // it has no frame), and the window's own area.
  Rect Frame(WindowId window);
  Rect Client(WindowId window);
  // The atoms of _NET_WM_STATE, by name.
  std::vector<std::string> States(WindowId window);

  // Requests to the window manager, as a pager or a task bar makes them.
  void AddState(WindowId window, const char* state);
  void Minimise(WindowId window);
  // WM_DELETE_WINDOW sent to the window itself, as a session ending or a
  // task manager's "close" sends it.
  void RequestClose(WindowId window);

  // Mouse and keyboard.
  void Click(int x, int y);
  void Keys(const std::vector<std::string>& keys);

  // Opens the Help menu's "О программе..." and waits until the box is
  // shown, framed and has the keyboard; returns the box.
  WindowId OpenAboutBox(WindowId main_window);

 private:
  void Start();
  void Stop();
  void RunTool(std::vector<std::string> args);
  std::vector<WindowId> ProgramWindows();

  struct X;
  X* x_ = nullptr;
  std::string display_;
  std::filesystem::path home_;
  pid_t server_ = -1;
  pid_t window_manager_ = -1;
  pid_t program_ = -1;
  int pty_master_ = -1;
};

}  // namespace vestrel::test
