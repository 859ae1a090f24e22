// modem-sim: a GSM modem on a pseudo-terminal, for tests and demonstrations.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "tools/modem-sim/modem.h"
#include "tools/modem-sim/pty_link.h"
#include "tools/modem-sim/scenario.h"
#include "tools/modem-sim/sim_loop.h"
#include "tools/modem-sim/transcript.h"

namespace {

constexpr const char* kUsage =
    "usage: modem-sim --link PATH [--scenario FILE] [--transcript FILE]\n"
    "Creates a pseudo-terminal that answers like a GSM modem, makes PATH a\n"
    "symbolic link to its slave, prints the slave's path and runs until\n"
    "SIGINT or SIGTERM.\n";

struct Options {
  std::filesystem::path link;
  std::optional<std::filesystem::path> scenario;
  std::optional<std::filesystem::path> transcript;
};

std::optional<Options> ParseArgs(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) return std::nullopt;
    if (arg == "--link") {
      o.link = argv[++i];
    } else if (arg == "--scenario") {
      o.scenario = argv[++i];
    } else if (arg == "--transcript") {
      o.transcript = argv[++i];
    } else {
      return std::nullopt;
    }
  }
  if (o.link.empty()) return std::nullopt;
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vestrel::sim;
  const auto options = ParseArgs(argc, argv);
  if (!options) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  // Signals arrive through a descriptor, so the loop sleeps in one poll().
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int stop_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (stop_fd < 0) {
    std::fprintf(stderr, "modem-sim: signalfd: %s\n", std::strerror(errno));
    return 1;
  }

  Pty pty;
  bool linked = false;
  try {
    const Scenario scenario =
        options->scenario ? LoadScenario(*options->scenario) : DefaultScenario();
    Transcript transcript;
    if (options->transcript) transcript.Open(*options->transcript);
    Modem modem(scenario, transcript);

    pty = OpenPty();
    MakeLink(options->link, pty.slave_path);
    linked = true;
    transcript.Write({{"type", "start"},
                      {"link", options->link.string()},
                      {"slave", pty.slave_path},
                      {"pid", getpid()}});
    transcript.Write(modem.StoreRecord("start"));
    std::printf("%s\n", pty.slave_path.c_str());
    std::fflush(stdout);

    SimLoop loop(pty.master, pty.slave_path, stop_fd, scenario, modem, transcript);
    loop.Run();

    RemoveLink(options->link, pty.slave_path);
    linked = false;
    transcript.Write(modem.StoreRecord("exit"));
    transcript.Write({{"type", "exit"}});
  } catch (const std::exception& e) {
    if (linked) RemoveLink(options->link, pty.slave_path);
    std::fprintf(stderr, "modem-sim: %s\n", e.what());
    return 1;
  }
  return 0;
}
