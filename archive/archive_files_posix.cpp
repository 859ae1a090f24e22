#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "archive/archive_files.h"
#include "archive/archive_path.h"

namespace vestrel::archive {
namespace files {
namespace {

Prepared Failed(Problem problem, const std::filesystem::path& where, int error) {
  return {problem, where, std::strerror(error)};
}

bool IsNoSpace(int error) {
  return error == ENOSPC || error == EDQUOT;
}

bool IsDenied(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

// mkdir of every missing folder on the way, each readable by the owner alone,
// as user data folders should be.
Prepared MakeFolders(const std::filesystem::path& folder) {
  std::filesystem::path sofar;
  for (const auto& part : folder) {
    sofar /= part;
    if (::mkdir(sofar.c_str(), 0700) == 0) continue;
    const int error = errno;
    struct stat st;
    if (error == EEXIST && ::stat(sofar.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    if (IsNoSpace(error)) return Failed(Problem::kNoSpace, sofar, error);
    return Failed(Problem::kFolderNotCreatable, sofar, error == EEXIST ? ENOTDIR : error);
  }
  return {};
}

bool IsLink(const std::filesystem::path& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

std::optional<std::filesystem::path> HomeFolder() {
  if (auto home = Environment("HOME")) return std::filesystem::path(*home);
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
      found->pw_dir && *found->pw_dir)
    return std::filesystem::path(found->pw_dir);
  return std::nullopt;
}

Prepared PrepareFile(const std::filesystem::path& file) {
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  if (Prepared made = MakeFolders(folder); made.problem != Problem::kNone) return made;
  if (IsLink(folder)) return Failed(Problem::kLink, folder, ELOOP);
  for (const char* suffix : kJournalSuffixes) {
    const std::filesystem::path journal = file.string() + suffix;
    if (IsLink(journal)) return Failed(Problem::kLink, journal, ELOOP);
  }

  // A new file is made here, private, so that SQLite (which would use 0644)
  // finds it and gives its journal files the same mode.
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    const bool narrowed = ::fchmod(fd, 0600) == 0;
    const int error = errno;
    ::close(fd);
    if (!narrowed) return Failed(Problem::kOther, file, error);
    return {};
  }
  int error = errno;
  if (error == EEXIST) {
    fd = ::open(file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      return {};
    }
    error = errno;
    if (error == ELOOP) return Failed(Problem::kLink, file, error);
    if (IsDenied(error)) return Failed(Problem::kFileReadOnly, file, error);
    return Failed(Problem::kOther, file, error);
  }
  if (IsDenied(error)) return Failed(Problem::kFolderReadOnly, folder, error);
  if (IsNoSpace(error)) return Failed(Problem::kNoSpace, folder, error);
  if (error == ENOENT || error == ENOTDIR)
    return Failed(Problem::kFolderNotCreatable, folder, error);
  return Failed(Problem::kOther, file, error);
}

}  // namespace files

std::filesystem::path DefaultArchivePath() {
  std::filesystem::path data;
  // Relative values are invalid by the XDG rules and are ignored.
  if (auto xdg = files::Environment("XDG_DATA_HOME"); xdg && xdg->front() == '/') {
    data = *xdg;
  } else {
    data = files::HomeFolder().value_or(std::filesystem::path("/")) / ".local" / "share";
  }
  return data / kArchiveFolderName / kArchiveFileName;
}

std::string DefaultArchivePathHelp() {
  return "$XDG_DATA_HOME/vestrel/archive.sqlite (else ~/.local/share/vestrel/)";
}

}  // namespace vestrel::archive
