#include "tests/main_window/desktop_session.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vestrel::test {
namespace {

using Clock = std::chrono::steady_clock;

std::optional<std::filesystem::path> FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::filesystem::path candidate =
        std::filesystem::path(dirs.substr(start, end - start)) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

// The environment of this process with some variables set and some removed.
std::vector<std::string> Environment(const std::map<std::string, std::string>& set,
                                     const std::vector<std::string>& removed) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (set.count(name)) continue;
    bool drop = false;
    for (const auto& r : removed) drop = drop || r == name;
    if (!drop) env.push_back(entry);
  }
  for (const auto& [name, value] : set) env.push_back(name + "=" + value);
  return env;
}

// Starts args[0] (a full path) with its output in log (thrown away when
// empty); -1 on failure.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::filesystem::path& cwd = {}, const std::filesystem::path& log = {}) {
  const std::string output = log.empty() ? "/dev/null" : log.string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<std::string> a = args, e = env;
  std::vector<char*> argv, envp;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  for (auto& s : e) envp.push_back(s.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, a[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void StopProcess(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  const auto until = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < until && ::waitpid(pid, nullptr, WNOHANG) == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (::waitpid(pid, nullptr, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  pid = -1;
}

// Windows vanish between two questions; a request about one that has gone
// only fails.
int IgnoreErrors(Display*, XErrorEvent*) {
  return 0;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Rect& r) {
  return out << r.width << "x" << r.height << "+" << r.x << "+" << r.y;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto until = Clock::now() + limit;
  while (Clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return done();
}

struct DesktopSession::X {
  Display* display = nullptr;
  Window root = 0;

  Atom Intern(const char* name) { return XInternAtom(display, name, False); }

  // A property of 32-bit items (CARDINAL, ATOM, WINDOW).
  std::vector<unsigned long> Longs(Window w, const char* name) {
    Atom type;
    int format;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> out;
    if (XGetWindowProperty(display, w, Intern(name), 0, 1024, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) == Success &&
        data && format == 32) {
      const auto* items = reinterpret_cast<const unsigned long*>(data);
      out.assign(items, items + count);
    }
    if (data) XFree(data);
    return out;
  }

  std::string Utf8(Window w, const char* name) {
    Atom type;
    int format;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string out;
    if (XGetWindowProperty(display, w, Intern(name), 0, 1024, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) == Success &&
        data && format == 8)
      out.assign(reinterpret_cast<const char*>(data), count);
    if (data) XFree(data);
    return out;
  }

  std::vector<Window> Children(Window w) {
    Window root_return, parent;
    Window* children = nullptr;
    unsigned int n = 0;
    std::vector<Window> out;
    if (XQueryTree(display, w, &root_return, &parent, &children, &n))
      out.assign(children, children + n);
    if (children) XFree(children);
    return out;
  }

  Window Parent(Window w) {
    Window root_return, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(display, w, &root_return, &parent, &children, &n)) return 0;
    if (children) XFree(children);
    return parent;
  }

  void Send(Window target, Window about, const char* message, long mask,
            std::initializer_list<long> data) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = about;
    event.xclient.message_type = Intern(message);
    event.xclient.format = 32;
    int i = 0;
    for (long d : data) event.xclient.data.l[i++] = d;
    XSendEvent(display, target, False, mask, &event);
    XSync(display, False);
  }
};

std::string DesktopSession::Missing() {
  std::string missing;
  for (const char* tool : {"Xvfb", "icewm", "xdotool"})
    if (!FindProgram(tool)) missing += std::string(missing.empty() ? "" : ", ") + tool;
  if (!missing.empty()) return "not installed: " + missing + " (scripts/setup installs them)";
  const char* bin = std::getenv("VESTREL_BIN_DIR");
  if (!bin || !std::filesystem::exists(std::filesystem::path(bin) / "Vestrel"))
    return "the built program is not at hand (run through CTest)";
  return {};
}

DesktopSession::DesktopSession() {
  try {
    Start();
  } catch (...) {
    Stop();
    throw;
  }
}

void DesktopSession::Start() {
  char pattern[] = "/tmp/vestrel-desktop-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  home_ = pattern;

  // The server picks a free display and writes its number to the pipe.
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  server_ = Spawn({FindProgram("Xvfb")->string(), "-displayfd", std::to_string(fds[1]), "-screen",
                   "0", "1024x768x24", "-nolisten", "tcp"},
                  Environment({}, {}));
  ::close(fds[1]);
  std::string number;
  const auto until = Clock::now() + std::chrono::seconds(30);
  while (server_ > 0 && Clock::now() < until && number.find('\n') == std::string::npos) {
    pollfd p{fds[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buffer[16];
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (number.find('\n') == std::string::npos) throw std::runtime_error("Xvfb did not start");
  display_ = ":" + number.substr(0, number.find('\n'));

  x_ = new X;
  XSetErrorHandler(IgnoreErrors);
  x_->display = XOpenDisplay(display_.c_str());
  if (!x_->display) throw std::runtime_error("cannot open display " + display_);
  x_->root = DefaultRootWindow(x_->display);

  window_manager_ = Spawn({FindProgram("icewm")->string()},
                          Environment({{"DISPLAY", display_},
                                       {"HOME", home_.string()},
                                       {"ICEWM_PRIVCFG", (home_ / "icewm").string()}},
                                      {}));
  // Up once it manages windows and owns the notification area.
  const Atom tray = x_->Intern("_NET_SYSTEM_TRAY_S0");
  const bool up = WaitUntil([&] {
    return !x_->Longs(x_->root, "_NET_SUPPORTING_WM_CHECK").empty() &&
           XGetSelectionOwner(x_->display, tray) != None;
  });
  if (!up) throw std::runtime_error("icewm did not come up on " + display_);
}

DesktopSession::~DesktopSession() {
  Stop();
}

void DesktopSession::Stop() {
  StopProcess(program_);
  if (pty_master_ >= 0) ::close(pty_master_);
  StopProcess(window_manager_);
  pty_master_ = -1;
  if (x_ && x_->display) XCloseDisplay(x_->display);
  delete x_;
  x_ = nullptr;
  StopProcess(server_);
  std::error_code ec;
  if (!home_.empty()) std::filesystem::remove_all(home_, ec);
}

WindowId DesktopSession::StartProgram() {
  // A port that opens: the program then starts without an error box.
  pty_master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (pty_master_ >= 0) ::fcntl(pty_master_, F_SETFD, FD_CLOEXEC);
  if (pty_master_ < 0 || ::grantpt(pty_master_) != 0 || ::unlockpt(pty_master_) != 0)
    throw std::runtime_error("no pseudo-terminal");
  termios raw{};
  ::tcgetattr(pty_master_, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(pty_master_, TCSANOW, &raw);
  const std::string slave = ::ptsname(pty_master_);

  const auto folder = home_ / "program";
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(std::filesystem::path(std::getenv("VESTREL_BIN_DIR")) / "Vestrel",
                             folder / "Vestrel");
  // Section MODEM, key "COM Порт" in Windows-1251.
  std::ofstream(folder / "Pelmora.ini", std::ios::binary)
      << "[MODEM]\r\nCOM \xCF\xEE\xF0\xF2=" << slave << "\r\n";

  // In a sanitizer build: the desktop libraries' own caches (fontconfig's,
  // and D-Bus's when Qt looks for a notification-area service) live as long
  // as the process and are no leak of the program's.
  const auto suppressions = home_ / "lsan.supp";
  std::ofstream(suppressions) << "leak:libfontconfig.so\nleak:libdbus-1.so\n";
  const char* lsan = std::getenv("LSAN_OPTIONS");
  const std::string lsan_options = (lsan && *lsan ? std::string(lsan) + ":" : std::string()) +
                                   "suppressions=" + suppressions.string();

  program_ =
      Spawn({(folder / "Vestrel").string()},
            Environment(
                {{"DISPLAY", display_}, {"QT_QPA_PLATFORM", "xcb"}, {"LSAN_OPTIONS", lsan_options}},
                {"DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY"}),
            folder, home_ / "program.log");
  if (program_ <= 0) throw std::runtime_error("the program did not start");
  WindowId main = 0;
  WaitUntil([&] {
    main = FindWindow("Vestrel", false);
    return main && Viewable(main) && Framed(main);
  });
  return main;
}

std::string DesktopSession::ProgramOutput() const {
  std::ifstream in(home_ / "program.log", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::optional<int> DesktopSession::WaitForProgramExit(std::chrono::milliseconds limit) {
  int status = 0;
  pid_t done = 0;
  WaitUntil([&] { return (done = ::waitpid(program_, &status, WNOHANG)) == program_; }, limit);
  if (done != program_) return std::nullopt;
  program_ = -1;
  if (!WIFEXITED(status)) return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

std::vector<WindowId> DesktopSession::ProgramWindows() {
  std::vector<WindowId> out;
  std::vector<Window> pending{x_->root};
  while (!pending.empty()) {
    const Window w = pending.back();
    pending.pop_back();
    const auto pid = x_->Longs(w, "_NET_WM_PID");
    if (!pid.empty() && static_cast<pid_t>(pid[0]) == program_) out.push_back(w);
    for (Window c : x_->Children(w)) pending.push_back(c);
  }
  return out;
}

void DesktopSession::HangUpPort() {
  if (pty_master_ >= 0) ::close(pty_master_);
  pty_master_ = -1;
}

WindowId DesktopSession::FindWindow(const std::string& title, bool dialog) {
  const Atom type =
      x_->Intern(dialog ? "_NET_WM_WINDOW_TYPE_DIALOG" : "_NET_WM_WINDOW_TYPE_NORMAL");
  for (WindowId w : ProgramWindows()) {
    if (x_->Utf8(w, "_NET_WM_NAME") != title) continue;
    const auto types = x_->Longs(w, "_NET_WM_WINDOW_TYPE");
    if (!types.empty() && types[0] == type) return w;
  }
  return 0;
}

WindowId DesktopSession::TrayIcon() {
  // Embedded in the notification area: inside another client's window and,
  // unlike a framed window, not managed by the window manager (no WM_STATE).
  const Atom wm_state = x_->Intern("WM_STATE");
  for (WindowId w : ProgramWindows()) {
    const Window parent = x_->Parent(w);
    if (!parent || parent == x_->root || !Viewable(w)) continue;
    int count = 0;
    Atom* atoms = XListProperties(x_->display, w, &count);
    bool managed = false;
    for (int i = 0; i < count; ++i) managed = managed || atoms[i] == wm_state;
    if (atoms) XFree(atoms);
    if (!managed && !x_->Longs(w, "_XEMBED_INFO").empty()) return w;
  }
  return 0;
}

std::optional<Rect> DesktopSession::OpenMenu() {
  // A menu is a window the window manager leaves alone (override-redirect);
  // its window type is not to be trusted once the window is shown again.
  for (WindowId w : ProgramWindows()) {
    XWindowAttributes a{};
    if (x_->Parent(w) == x_->root && XGetWindowAttributes(x_->display, w, &a) &&
        a.override_redirect && a.map_state == IsViewable && a.width > 1 && a.height > 1)
      return Client(w);
  }
  return std::nullopt;
}

bool DesktopSession::Focused(WindowId window) {
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(x_->display, &focus, &revert);
  return focus == window;
}

bool DesktopSession::Viewable(WindowId window) {
  XWindowAttributes a{};
  return XGetWindowAttributes(x_->display, window, &a) && a.map_state == IsViewable;
}

bool DesktopSession::Framed(WindowId window) {
  const Window parent = x_->Parent(window);
  return parent && parent != x_->root && x_->Longs(window, "_NET_FRAME_EXTENTS").size() == 4;
}

Rect DesktopSession::Frame(WindowId window) {
  Window top = window;
  for (Window p = x_->Parent(top); p && p != x_->root; p = x_->Parent(top)) top = p;
  XWindowAttributes a{};
  if (!XGetWindowAttributes(x_->display, top, &a)) return {};
  return {a.x, a.y, a.width + 2 * a.border_width, a.height + 2 * a.border_width};
}

Rect DesktopSession::Client(WindowId window) {
  XWindowAttributes a{};
  if (!XGetWindowAttributes(x_->display, window, &a)) return {};
  int x = 0, y = 0;
  Window child;
  XTranslateCoordinates(x_->display, window, x_->root, 0, 0, &x, &y, &child);
  return {x, y, a.width, a.height};
}

std::vector<std::string> DesktopSession::States(WindowId window) {
  std::vector<std::string> out;
  for (unsigned long atom : x_->Longs(window, "_NET_WM_STATE")) {
    char* name = XGetAtomName(x_->display, atom);
    if (name) {
      out.emplace_back(name);
      XFree(name);
    }
  }
  return out;
}

void DesktopSession::AddState(WindowId window, const char* state) {
  constexpr long kAdd = 1, kFromPager = 2;
  x_->Send(x_->root, window, "_NET_WM_STATE", SubstructureRedirectMask | SubstructureNotifyMask,
           {kAdd, static_cast<long>(x_->Intern(state)), 0, kFromPager, 0});
}

void DesktopSession::Minimise(WindowId window) {
  XIconifyWindow(x_->display, window, DefaultScreen(x_->display));
  XSync(x_->display, False);
}

void DesktopSession::RequestClose(WindowId window) {
  x_->Send(window, window, "WM_PROTOCOLS", NoEventMask,
           {static_cast<long>(x_->Intern("WM_DELETE_WINDOW")), CurrentTime});
}

void DesktopSession::RunTool(std::vector<std::string> args) {
  args[0] = FindProgram(args[0])->string();
  pid_t pid = Spawn(args, Environment({{"DISPLAY", display_}}, {}));
  if (pid > 0) ::waitpid(pid, nullptr, 0);
}

void DesktopSession::Click(int x, int y) {
  RunTool({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"});
}

void DesktopSession::Keys(const std::vector<std::string>& keys) {
  std::vector<std::string> args{"xdotool", "key"};
  args.insert(args.end(), keys.begin(), keys.end());
  RunTool(args);
}

WindowId DesktopSession::OpenAboutBox(WindowId main_window) {
  // "Справка" is the first item of the menu bar at the top of the window.
  const Rect client = Client(main_window);
  Click(client.x + 20, client.y + 10);
  std::optional<Rect> menu;
  if (!WaitUntil([&] { return (menu = OpenMenu()).has_value(); })) return 0;
  // Its second and last item, "О программе...", fills its lower half.
  Click(menu->x + menu->width / 2, menu->y + menu->height * 3 / 4);
  WindowId box = 0;
  WaitUntil([&] {
    box = FindWindow("О программе...", true);
    return box && Viewable(box) && Framed(box) && Focused(box);
  });
  return box;
}

}  // namespace vestrel::test
