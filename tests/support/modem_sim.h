// Test support for everything that talks to a modem: starts modem-sim on a
// pseudo-terminal of its own, hands out the path to open, stops it and reads
// back what it recorded.
//
//   vestrel::test::ModemSim sim(vestrel::test::ScenarioPath("demo"));
//   port.Open(sim.link());  ...
//   sim.Stop();
//   EXPECT_TRUE(sim.StoredMessages("ME").empty());
//
// The transcript holds one JSON object per line, each with "type" and "t"
// (milliseconds since the simulator started); see tools/modem-sim/README.md.
// Byte blocks ("rx", "tx") carry each byte as the character of the same code;
// Received() and Sent() give them back as bytes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/temp_dir.h"

namespace vestrel::test {

using Records = std::vector<nlohmann::json>;

// VESTREL_SOURCE_DIR / VESTREL_BIN_DIR from the test's environment (set by
// CTest), else the folders of the build that compiled this library.
std::filesystem::path SourceDir();
std::filesystem::path BinDir();
// "demo" -> <source>/tools/modem-sim/scenarios/demo.json
std::filesystem::path ScenarioPath(const std::string& name);
// The sample scenario's JSON, for a test to change before it starts the simulator.
nlohmann::json ScenarioJson(const std::string& name);

class ModemSim {
 public:
  // Starts the simulator with a scenario file (none: one empty memory "ME",
  // indexes from 1). Throws std::runtime_error with the simulator's own
  // message when it does not come up.
  explicit ModemSim(std::optional<std::filesystem::path> scenario = std::nullopt);
  // The scenario is written to a file in the simulator's folder first.
  static std::unique_ptr<ModemSim> FromJson(const nlohmann::json& scenario);
  ~ModemSim();  // stops it
  ModemSim(const ModemSim&) = delete;
  ModemSim& operator=(const ModemSim&) = delete;

  const std::string& link() const { return link_; }    // what a client opens
  const std::string& slave() const { return slave_; }  // /dev/pts/N
  const std::filesystem::path& dir() const { return dir_.path(); }
  std::filesystem::path transcript_path() const;

  // SIGTERM, then waits for the end (SIGKILL after 10 s). Returns the exit
  // status, 0 for a clean end; later calls return the same.
  int Stop();
  bool running() const { return pid_ > 0; }

  // Records written so far (complete lines only).
  Records All() const;
  Records OfType(std::string_view type) const;
  std::vector<std::string> Commands() const;  // "line" of every "command"
  Records Sms() const;                        // accepted submissions
  std::string Received() const;               // every byte the client wrote, in order
  std::string Sent() const;                   // every byte sent to the client, in order
  // The last "store" record (after a delete, at start and at exit).
  nlohmann::json Store() const;
  Records StoredMessages(const std::string& storage = "ME") const;

  // Re-reads the transcript until pred holds or the time is up.
  bool WaitFor(const std::function<bool(const Records&)>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  bool WaitForCount(std::string_view type, std::size_t count,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

 private:
  struct Deferred {};
  explicit ModemSim(Deferred) {}
  void Start(const std::optional<std::filesystem::path>& scenario);

  TempDir dir_;
  std::string link_;
  std::string slave_;
  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  std::optional<int> status_;
};

// Inverse of the transcript's byte mapping.
std::string BytesOf(const std::string& utf8);

// A GoogleTest fixture that owns one simulator and stops it after the test,
// expecting a clean exit.
class ModemSimTest : public ::testing::Test {
 protected:
  void TearDown() override;
  // A sample scenario by name ("demo") or a path to a scenario file.
  ModemSim& StartSim(const std::string& name_or_path);
  ModemSim& StartSimJson(const nlohmann::json& scenario);
  ModemSim& sim() { return *sim_; }

  std::unique_ptr<ModemSim> sim_;
};

}  // namespace vestrel::test
