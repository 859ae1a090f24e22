// Start-up benchmark: time from exec to the first expose of the main window,
// and peak RSS, for Vestrel beside two minimal Qt Widgets programs that show a
// window of the same size: an empty one (the floor), and one with a label
// showing a Cyrillic line (the label floor), which pays for the fonts as every
// window with text does. All run under the offscreen platform with the expose
// probe preloaded; medians over the runs.
//
// Vestrel runs as a copy in a temporary folder, with a Pelmora.ini there that
// names a pseudo-terminal, so that opening the port succeeds.
//
// Usage: vestrel_startup_bench [runs]   (default 15; 1 or 2 only check that it runs)

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Sample {
  double startup_ms = 0;
  double application_ms = 0;  // exec to the QApplication constructor
  long rss_kb = 0;
  std::string size;    // of the exposed window, "WxH"
  std::string window;  // object name of the exposed window
};

long long MonotonicNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "startup_bench: %s\n", what.c_str());
  std::exit(1);
}

std::vector<std::string> ChildEnvironment(const std::string& runtime_dir) {
  std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "LD_PRELOAD=" VESTREL_EXPOSE_PROBE,
                                  "XDG_RUNTIME_DIR=" + runtime_dir};
  for (const char* name : {"PATH", "HOME", "LANG", "LC_ALL"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  return env;
}

Sample RunOnce(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const std::string& cwd) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) Fail("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  // Qt's warnings would mix with the table; they go to a log beside the copy.
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (cwd + "/stderr.log").c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  pid_t pid = 0;
  const long long start = MonotonicNs();
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
    Fail("cannot start " + argv[0]);
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);

  std::string output;
  for (;;) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 30000) <= 0) {
      ::kill(pid, SIGKILL);
      Fail(argv[0] + " did not show a window within 30 s");
    }
    char buf[512];
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    output.append(buf, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  int status = 0;
  rusage usage{};
  if (::wait4(pid, &status, 0, &usage) != pid) Fail("wait4");

  Sample s;
  long long application = 0;
  if (const auto at = output.find("APPLICATION "); at != std::string::npos) {
    application = std::atoll(output.c_str() + at + 12);
  }
  std::istringstream in(output.substr(std::min(output.find("EXPOSED "), output.size())));
  std::string tag;
  long long exposed = 0;
  if (!(in >> tag >> exposed >> s.size >> s.window) || tag != "EXPOSED") {
    Fail(argv[0] + " printed no expose time stamp (exit status " + std::to_string(status) + ")");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    Fail(argv[0] + " did not end cleanly (status " + std::to_string(status) + ")");
  }
  s.startup_ms = static_cast<double>(exposed - start) / 1e6;
  s.application_ms = application ? static_cast<double>(application - start) / 1e6 : 0;
  s.rss_kb = usage.ru_maxrss;
  return s;
}

template <typename T>
T Median(std::vector<T> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = std::max(1, argc > 1 ? std::atoi(argv[1]) : 15);
  namespace fs = std::filesystem;

  char pattern[] = "/tmp/vestrel-startup-XXXXXX";
  if (!::mkdtemp(pattern)) Fail("mkdtemp");
  const fs::path dir = pattern;
  const fs::path runtime_dir = dir / "runtime";
  fs::create_directory(runtime_dir);
  fs::permissions(runtime_dir, fs::perms::owner_all);
  const fs::path program = dir / "Vestrel";
  fs::copy_file(VESTREL_PROGRAM, program);

  // The modem: a pseudo-terminal whose master stays open for all runs.
  int master = -1, slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) Fail("openpty");
  termios raw{};
  ::tcgetattr(master, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(master, TCSANOW, &raw);
  const std::string slave_path = ::ttyname(slave);
  ::close(slave);
  {
    // Section MODEM, key "COM Порт" in Windows-1251.
    std::ofstream ini(dir / "Pelmora.ini", std::ios::binary);
    ini << "[MODEM]\r\nCOM \xCF\xEE\xF0\xF2=" << slave_path << "\r\n";
  }

  const auto env = ChildEnvironment(runtime_dir.string());
  const std::string cwd = dir.string();

  // One unmeasured run each warms the page cache and font caches, and gives
  // the size of the main window for the floor.
  const Sample first = RunOnce({program.string()}, env, cwd);
  if (first.window != "Form1Window") {
    Fail("Vestrel's first window was " + first.window + ", not the main window (port not opened?)");
  }
  const auto x = first.size.find('x');
  const std::string width = first.size.substr(0, x), height = first.size.substr(x + 1);
  const std::vector<std::string> floor = {VESTREL_FLOOR_WINDOW, width, height};
  const std::vector<std::string> label_floor = {VESTREL_FLOOR_WINDOW, width, height, "label"};
  RunOnce(floor, env, cwd);
  RunOnce(label_floor, env, cwd);

  std::vector<double> startup, floor_startup, label_startup, app, floor_app, label_app;
  std::vector<long> rss, floor_rss, label_rss;
  // app_ms: from exec to the QApplication constructor (loading, static set-up).
  std::printf("%4s %11s %8s %9s %10s %8s %9s %10s %8s %9s\n", "run", "vestrel_ms", "app_ms",
              "rss_kb", "floor_ms", "app_ms", "rss_kb", "label_ms", "app_ms", "rss_kb");
  for (int i = 0; i < runs; ++i) {
    // Alternate, so that slow phases of the machine hit all alike.
    const Sample v = RunOnce({program.string()}, env, cwd);
    if (v.window != "Form1Window") Fail("Vestrel showed " + v.window + " first");
    const Sample f = RunOnce(floor, env, cwd);
    if (f.size != first.size) Fail("floor window has size " + f.size + ", not " + first.size);
    const Sample l = RunOnce(label_floor, env, cwd);
    if (l.size != first.size) Fail("label floor has size " + l.size + ", not " + first.size);
    startup.push_back(v.startup_ms);
    rss.push_back(v.rss_kb);
    floor_startup.push_back(f.startup_ms);
    floor_rss.push_back(f.rss_kb);
    label_startup.push_back(l.startup_ms);
    label_rss.push_back(l.rss_kb);
    app.push_back(v.application_ms);
    floor_app.push_back(f.application_ms);
    label_app.push_back(l.application_ms);
    std::printf("%4d %11.1f %8.1f %9ld %10.1f %8.1f %9ld %10.1f %8.1f %9ld\n", i + 1, v.startup_ms,
                v.application_ms, v.rss_kb, f.startup_ms, f.application_ms, f.rss_kb, l.startup_ms,
                l.application_ms, l.rss_kb);
  }
  // The modem must not have been written to by a start-up.
  pollfd p{master, POLLIN, 0};
  const bool wrote = ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
  ::close(master);
  fs::remove_all(dir);

  const double s = Median(startup), fs_ = Median(floor_startup), ls = Median(label_startup);
  const long r = Median(rss), fr = Median(floor_rss), lr = Median(label_rss);
  const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  std::printf(
      "window %s, %d runs each, medians; exec to QApplication %.1f ms (floor %.1f, label floor "
      "%.1f)\n",
      first.size.c_str(), runs, Median(app), Median(floor_app), Median(label_app));
  std::printf("start-up %.2f x floor, %.2f x label floor; RSS %.2f x floor, %.2f x label floor%s\n",
              ratio(s, fs_), ratio(s, ls), ratio(double(r), double(fr)),
              ratio(double(r), double(lr)), wrote ? " (the program wrote to the modem)" : "");
  std::printf(
      "RESULT startup_ms=%.1f floor_ms=%.1f rss_kb=%ld floor_rss_kb=%ld label_floor_ms=%.1f "
      "label_floor_rss_kb=%ld startup_ratio=%.2f rss_ratio=%.2f runs=%d\n",
      s, fs_, r, fr, ls, lr, ratio(s, ls), ratio(double(r), double(lr)), runs);
  return 0;
}
