#include "tools/modem-sim/transcript.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace vestrel::sim {

Transcript::~Transcript() {
  if (file_) std::fclose(file_);
}

void Transcript::Open(const std::filesystem::path& path) {
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) {
    throw std::runtime_error(path.string() + ": cannot be created: " + std::strerror(errno));
  }
}

void Transcript::Write(nlohmann::json record) {
  if (!file_) return;
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
  record["t"] = std::round(ms * 1000.0) / 1000.0;
  // Texts that are not UTF-8 are replaced rather than lose the whole record.
  const std::string line =
      record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fflush(file_);
}

}  // namespace vestrel::sim
