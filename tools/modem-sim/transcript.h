// The simulator's record of a session: one JSON object per line, flushed as
// it is written, so that a test can read it while the simulator runs.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>

#include <nlohmann/json.hpp>

namespace vestrel::sim {

class Transcript {
 public:
  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  // Throws std::runtime_error when the file cannot be created.
  void Open(const std::filesystem::path& path);

  // Adds "t" (milliseconds since the simulator started) and writes the record.
  void Write(nlohmann::json record);
  // A file is open: records are worth building. Without one, a record of the
  // whole store after every delete would make a long reading quadratic.
  bool Enabled() const { return file_ != nullptr; }

 private:
  std::FILE* file_ = nullptr;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace vestrel::sim
