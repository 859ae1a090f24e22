#pragma once
// A fresh folder under the system's temporary folder for one test, removed
// with everything in it at the end (also when a test took its write bits
// away), unless the environment has VESTREL_KEEP_TEMP=1.

#include <filesystem>
#include <string>
#include <string_view>

namespace vestrel::test {

class TempDir {
 public:
  // The folder's name starts with prefix and a dash.
  explicit TempDir(std::string_view prefix = "vestrel");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace vestrel::test
