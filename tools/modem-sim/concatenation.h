// Concatenated short messages (3GPP TS 23.040 9.2.3.24.1 and .8): the parts
// a sender links by a user-data header, joined back into one text once all
// of them have come.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

namespace vestrel::sim {

struct ConcatInfo {
  int reference = 0;  // 8- or 16-bit
  int total = 0;
  int sequence = 0;  // from 1
};

// The concatenation element of a user-data header (without its length
// octet); nullopt when there is none or it is one a receiver ignores.
std::optional<ConcatInfo> FindConcatInfo(std::string_view udh);

class PartJoiner {
 public:
  // Takes a part's text (UTF-8); the whole text when this part was the last
  // one missing. A part that came before is taken again (a resend).
  std::optional<std::string> Add(const std::string& number, const ConcatInfo& info,
                                 const std::string& text);

 private:
  using Key = std::tuple<std::string, int, int>;  // number, reference, total
  std::map<Key, std::map<int, std::string>> pending_;
};

}  // namespace vestrel::sim
