// The build that the tests run: the same program, whose waits can be shortened
// so that a reading of the simulator's inbox takes seconds, not minutes.
#include <charconv>

#include "cli/options.h"

namespace vestrel::cli {
namespace {

bool ParseMs(std::string_view text, std::uint32_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

bool ParseTestingOption(std::string_view arg, MessagingDurations& durations) {
  constexpr std::string_view kOption = "--testing-durations=";
  if (arg.substr(0, kOption.size()) != kOption) return false;
  const std::string_view value = arg.substr(kOption.size());
  const std::size_t comma = value.find(',');
  MessagingDurations parsed;
  if (comma == std::string_view::npos || !ParseMs(value.substr(0, comma), parsed.modem_wait_ms) ||
      !ParseMs(value.substr(comma + 1), parsed.pump_pause_ms))
    throw UsageError("--testing-durations wants WAIT_MS,PAUSE_MS");
  durations = parsed;
  return true;
}

}  // namespace vestrel::cli
