#include <stdexcept>

#include "cli/exec_runner.h"

namespace vestrel::cli {

struct ExecRunner::State {};

ExecRunner::ExecRunner(std::vector<std::string>, std::chrono::seconds, Note) {
  throw std::runtime_error("--exec is not available in this build");
}

ExecRunner::~ExecRunner() = default;

void ExecRunner::Add(ExecJob) {}

void ExecRunner::WaitIdle() {}

}  // namespace vestrel::cli
