#include "archive/archive_path.h"

#include "archive/archive_files.h"
#include "platform/utf8.h"

namespace vestrel::archive {

std::filesystem::path ResolveArchivePath(std::string_view configured,
                                         const std::filesystem::path& relative_to) {
  while (!configured.empty() && (configured.front() == ' ' || configured.front() == '\t'))
    configured.remove_prefix(1);
  while (!configured.empty() && (configured.back() == ' ' || configured.back() == '\t'))
    configured.remove_suffix(1);
  if (configured.empty()) return DefaultArchivePath();
  if (configured == "~" || configured.starts_with("~/")) {
    const auto home = files::HomeFolder();
    if (home)
      return *home / platform::PathFromUtf8(configured.substr(configured.size() > 1 ? 2 : 1));
  }
  const std::filesystem::path given = platform::PathFromUtf8(configured);
  if (given.is_absolute()) return given;
  return relative_to / given;
}

}  // namespace vestrel::archive
