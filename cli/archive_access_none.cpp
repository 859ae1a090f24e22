// vestrel-sms without the message archive (a build without SQLite): send and
// read work as everywhere and keep nothing; the archive command says that this
// build has none.
#include <cstdio>

#include "cli/archive_access.h"
#include "cli/help_text.h"

namespace vestrel::cli {

std::unique_ptr<MessageRecord> OpenMessageRecord(const Options&, std::function<std::string()>) {
  return nullptr;
}

int ArchiveCommand(const Options&) {
  std::fprintf(stderr,
               "vestrel-sms: this build of vestrel-sms has no message archive: it keeps "
               "nothing of what it reads and sends, so there is nothing to list\n");
  return kExitArchive;
}

// Without an archive no date is read: whatever --since holds, the archive
// command ends with the message above.
std::optional<std::string> NormalizeSinceOption(std::string_view text) {
  return std::string(text);
}

ArchiveHelp ArchiveHelpText() {
  ArchiveHelp help;
  help.command = "  archive             not in this build: it keeps no message archive (exit 7)\n";
  help.json = "                      and index when known) instead of the text line\n";
  help.no_archive = R"(  --no-archive        send, read: keep nothing (this build never keeps
                      anything)
)";
  help.exit_code = "  7    the archive command: this build has no message archive\n";
  return help;
}

}  // namespace vestrel::cli
