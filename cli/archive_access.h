#pragma once
// The message archive as vestrel-sms uses it: one file per build. A build with
// SQLite keeps what the dialogues pass and lists it (archive_access_sqlite.cpp);
// a build without it (the Windows cross build) keeps nothing and says so when
// asked for the list (archive_access_none.cpp).

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli/options.h"
#include "messaging/message_record.h"

namespace vestrel::cli {

// Where the dialogues' messages are kept besides the output: the one place
// that decides it for every command. Null: nowhere.
// port_name gives the port's name at each record.
std::unique_ptr<MessageRecord> OpenMessageRecord(const Options& options,
                                                 std::function<std::string()> port_name);

// The archive command: prints what the archive holds, newest first, in the
// form the options ask for; returns the exit code.
int ArchiveCommand(const Options& options);

// --since as the archive reads it: nothing when the text is no date it takes.
std::optional<std::string> NormalizeSinceOption(std::string_view text);

}  // namespace vestrel::cli
