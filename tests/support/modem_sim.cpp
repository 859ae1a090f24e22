#include "tests/support/modem_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/utf8.h"

extern char** environ;

namespace vestrel::test {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kStopTimeout = std::chrono::seconds(10);

std::filesystem::path FromEnv(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::filesystem::path(value) : std::filesystem::path(fallback);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Concat(const Records& records, std::string_view type) {
  std::string out;
  for (const auto& r : records) {
    if (r.value("type", "") == type) out += BytesOf(r.value("data", ""));
  }
  return out;
}

}  // namespace

std::filesystem::path SourceDir() {
  return FromEnv("VESTREL_SOURCE_DIR", VESTREL_DEFAULT_SOURCE_DIR);
}

std::filesystem::path BinDir() {
  return FromEnv("VESTREL_BIN_DIR", VESTREL_DEFAULT_BIN_DIR);
}

std::filesystem::path ScenarioPath(const std::string& name) {
  return SourceDir() / "tools" / "modem-sim" / "scenarios" / (name + ".json");
}

nlohmann::json ScenarioJson(const std::string& name) {
  std::ifstream in(ScenarioPath(name));
  return nlohmann::json::parse(in);
}

std::string BytesOf(const std::string& utf8) {
  const auto code_points = platform::Utf8ToCodePoints(utf8);
  if (!code_points) throw std::runtime_error("transcript byte data is not UTF-8");
  std::string out;
  for (char32_t cp : *code_points) {
    if (cp > 0xFF) throw std::runtime_error("transcript byte data holds a character above U+00FF");
    out += static_cast<char>(cp);
  }
  return out;
}

ModemSim::ModemSim(std::optional<std::filesystem::path> scenario) {
  Start(scenario);
}

std::unique_ptr<ModemSim> ModemSim::FromJson(const nlohmann::json& scenario) {
  std::unique_ptr<ModemSim> sim(new ModemSim(Deferred{}));
  const auto path = sim->dir() / "scenario.json";
  std::ofstream(path, std::ios::binary) << scenario.dump(2);
  sim->Start(path);
  return sim;
}

std::filesystem::path ModemSim::transcript_path() const {
  return dir() / "transcript.jsonl";
}

void ModemSim::Start(const std::optional<std::filesystem::path>& scenario) {
  link_ = (dir() / "modem").string();
  const std::string binary = (BinDir() / "modem-sim").string();
  const std::string transcript = transcript_path().string();
  const std::string errors = (dir() / "stderr.txt").string();
  std::vector<std::string> args = {binary, "--link", link_, "--transcript", transcript};
  if (scenario) {
    args.push_back("--scenario");
    args.push_back(scenario->string());
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error(std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    pid_ = -1;
    throw std::runtime_error("cannot start " + binary + ": " + std::strerror(rc));
  }
  stdout_fd_ = out[0];

  // The simulator prints the slave's path once the link is in place.
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{stdout_fd_, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buf[256];
    const ssize_t n = read(stdout_fd_, buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<std::size_t>(n));
  }
  if (line.find('\n') == std::string::npos) {
    Stop();
    throw std::runtime_error("modem-sim did not start: " + ReadFile(errors));
  }
  slave_ = line.substr(0, line.find('\n'));
}

ModemSim::~ModemSim() {
  Stop();
}

int ModemSim::Stop() {
  if (pid_ <= 0) return status_.value_or(-1);
  kill(pid_, SIGTERM);
  int wstatus = 0;
  const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
  pid_t done = 0;
  while ((done = waitpid(pid_, &wstatus, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (done == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &wstatus, 0);
    status_ = -SIGKILL;
  } else if (WIFEXITED(wstatus)) {
    status_ = WEXITSTATUS(wstatus);
  } else {
    status_ = WIFSIGNALED(wstatus) ? -WTERMSIG(wstatus) : -1;
  }
  pid_ = -1;
  if (stdout_fd_ >= 0) close(stdout_fd_);
  stdout_fd_ = -1;
  return *status_;
}

Records ModemSim::All() const {
  Records out;
  const std::string text = ReadFile(transcript_path());
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    out.push_back(nlohmann::json::parse(text.substr(start, end - start)));
  }
  return out;
}

Records ModemSim::OfType(std::string_view type) const {
  Records out;
  for (auto& r : All()) {
    if (r.value("type", "") == type) out.push_back(std::move(r));
  }
  return out;
}

std::vector<std::string> ModemSim::Commands() const {
  std::vector<std::string> out;
  for (const auto& r : OfType("command")) out.push_back(BytesOf(r.value("line", "")));
  return out;
}

Records ModemSim::Sms() const {
  return OfType("sms");
}

std::string ModemSim::Received() const {
  return Concat(All(), "rx");
}

std::string ModemSim::Sent() const {
  return Concat(All(), "tx");
}

nlohmann::json ModemSim::Store() const {
  const Records stores = OfType("store");
  return stores.empty() ? nlohmann::json() : stores.back();
}

Records ModemSim::StoredMessages(const std::string& storage) const {
  const nlohmann::json store = Store();
  if (store.is_null()) return {};
  for (const auto& s : store.at("storages")) {
    if (s.value("name", "") == storage) return s.at("messages").get<Records>();
  }
  return {};
}

bool ModemSim::WaitFor(const std::function<bool(const Records&)>& pred,
                       std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (pred(All())) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool ModemSim::WaitForCount(std::string_view type, std::size_t count,
                            std::chrono::milliseconds timeout) const {
  return WaitFor(
      [&](const Records& all) {
        std::size_t n = 0;
        for (const auto& r : all) n += r.value("type", "") == type;
        return n >= count;
      },
      timeout);
}

void ModemSimTest::TearDown() {
  if (sim_) {
    EXPECT_EQ(sim_->Stop(), 0) << "modem-sim did not end cleanly";
  }
}

ModemSim& ModemSimTest::StartSim(const std::string& name_or_path) {
  const bool is_path = name_or_path.find('/') != std::string::npos;
  sim_ = std::make_unique<ModemSim>(is_path ? std::filesystem::path(name_or_path)
                                            : ScenarioPath(name_or_path));
  return *sim_;
}

ModemSim& ModemSimTest::StartSimJson(const nlohmann::json& scenario) {
  sim_ = ModemSim::FromJson(scenario);
  return *sim_;
}

}  // namespace vestrel::test
