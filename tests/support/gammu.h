// python-gammu (/usr/bin/python3) as an independent PDU decoder for the tests.
#pragma once

#include <cctype>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/modem_sim.h"

namespace vestrel::test {

inline std::vector<nlohmann::json> RunGammuDecode(const std::string& mode,
                                                  const std::vector<std::string>& pdus) {
  std::string command =
      "/usr/bin/python3 " + (SourceDir() / "tests" / "support" / "gammu_decode.py").string() + mode;
  for (const auto& p : pdus) {
    for (char c : p) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) throw std::invalid_argument(p);
    }
    command += " " + p;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe.get())) > 0;) out.append(buf, n);
  std::vector<nlohmann::json> result;
  std::size_t start = 0;
  for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    result.push_back(nlohmann::json::parse(out.substr(start, end - start)));
  }
  if (result.empty() != pdus.empty()) throw std::runtime_error("python-gammu failed: " + out);
  return result;
}

// One object per PDU: number, text, coding, length, type, validity, udh,
// reference, time; or error.
inline std::vector<nlohmann::json> GammuDecode(const std::vector<std::string>& pdus) {
  auto result = RunGammuDecode("", pdus);
  if (result.size() != pdus.size()) throw std::runtime_error("python-gammu gave too few answers");
  return result;
}

// The messages the PDUs make once linked as a phone links concatenated
// parts: one object each with its part count ("parts") and joined "text".
inline std::vector<nlohmann::json> GammuLink(const std::vector<std::string>& pdus) {
  return RunGammuDecode(" --link", pdus);
}

}  // namespace vestrel::test
