#include "tools/modem-sim/concatenation.h"

namespace vestrel::sim {

std::optional<ConcatInfo> FindConcatInfo(std::string_view udh) {
  std::optional<ConcatInfo> found;
  std::size_t pos = 0;
  while (pos + 2 <= udh.size()) {
    const int iei = static_cast<unsigned char>(udh[pos]);
    const std::size_t len = static_cast<unsigned char>(udh[pos + 1]);
    if (pos + 2 + len > udh.size()) break;
    auto octet = [&](std::size_t i) {
      return static_cast<int>(static_cast<unsigned char>(udh[pos + 2 + i]));
    };
    ConcatInfo info;
    bool concat = false;
    if (iei == 0x00 && len == 3) {
      info = {octet(0), octet(1), octet(2)};
      concat = true;
    } else if (iei == 0x08 && len == 4) {
      info = {octet(0) * 256 + octet(1), octet(2), octet(3)};
      concat = true;
    }
    if (concat && info.total >= 1 && info.sequence >= 1 && info.sequence <= info.total)
      found = info;
    pos += 2 + len;
  }
  return found;
}

std::optional<std::string> PartJoiner::Add(const std::string& number, const ConcatInfo& info,
                                           const std::string& text) {
  const Key key{number, info.reference, info.total};
  auto& parts = pending_[key];
  parts[info.sequence] = text;
  if (static_cast<int>(parts.size()) < info.total) return std::nullopt;
  std::string whole;
  for (const auto& [sequence, part] : parts) whole += part;
  pending_.erase(key);
  return whole;
}

}  // namespace vestrel::sim
