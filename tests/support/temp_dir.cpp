#include "tests/support/temp_dir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace vestrel::test {

TempDir::TempDir(std::string_view prefix) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) {
    throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
  }
  path_ = pattern;
}

TempDir::~TempDir() {
  // VESTREL_KEEP_TEMP=1 keeps the folders (transcripts, scenarios) for a look afterwards.
  const char* keep = std::getenv("VESTREL_KEEP_TEMP");
  if (keep && *keep && std::string(keep) != "0") {
    std::fprintf(stderr, "kept %s\n", path_.c_str());
    return;
  }
  std::error_code ec;
  // A test may have locked a folder inside; give the owner's bits back first.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
  }
  ec.clear();
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

}  // namespace vestrel::test
