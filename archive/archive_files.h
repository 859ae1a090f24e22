#pragma once
// The archive's dealings with the file system that differ between systems:
// the home folder, and creating the folder and the file privately.

#include <filesystem>
#include <optional>
#include <string>

namespace vestrel::archive::files {

// The user's home folder, or nothing when it cannot be told.
std::optional<std::filesystem::path> HomeFolder();

// An environment variable, or nothing when unset or empty.
std::optional<std::string> Environment(const char* name);

enum class Problem {
  kNone,
  kFolderNotCreatable,  // a folder on the way is missing and cannot be made
  kFolderReadOnly,      // the folder exists but takes no new file
  kFileReadOnly,        // the file exists but cannot be opened for writing
  kNoSpace,             // no room for the file
  kLink,                // the folder, the file or one of SQLite's files beside it is a link
  kOther,
};

struct Prepared {
  Problem problem = Problem::kNone;
  std::filesystem::path where;  // the folder or file the problem is about
  std::string detail;           // the system's own words
};

// Makes the missing folders (owner only) and the file when missing (owner
// read and write only), and checks that the file opens for writing. The
// file's own folder, the file and the journal files SQLite keeps beside it
// (-wal, -shm, -journal) must not be links: whatever one names is left
// untouched. Folders further up may be links (a home folder often is).

Prepared PrepareFile(const std::filesystem::path& file);

// The names of the journal files SQLite keeps beside a database file.
inline constexpr const char* kJournalSuffixes[] = {"-wal", "-shm", "-journal"};

}  // namespace vestrel::archive::files
