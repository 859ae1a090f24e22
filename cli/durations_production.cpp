// The installed program: the dialogues always take the window's durations.
#include "cli/options.h"

namespace vestrel::cli {

bool ParseTestingOption(std::string_view, MessagingDurations&) {
  return false;
}

}  // namespace vestrel::cli
