#pragma once
// Helpers of the shell tests: whole-file access, an unwritable folder, and
// recording the exception handler (temporary folders and the QApplication come
// from tests/support).

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/qt_glue.h"
#include "tests/support/files.h"
#include "tests/support/qt_environment.h"
#include "tests/support/temp_dir.h"

namespace vestrel::test {

// A folder where no file can be created, even by root: a folder with its write
// bits removed where that holds, else a folder of a read-only file system.
inline std::filesystem::path UnwritableFolder(const TempDir& dir) {
  const auto folder = dir / "locked";
  std::filesystem::create_directory(folder);
  std::filesystem::permissions(
      folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  const auto probe = folder / "probe";
  if (!std::ofstream(probe)) return folder;
  std::filesystem::remove(probe);
  return "/proc/self/fdinfo";  // root ignores permission bits; procfs takes no new files
}

// Records every exception handed to the application's handler, instead of a
// modal box, while it lives.
class RecordedErrors {
 public:
  struct Entry {
    std::string message;
    bool window_visible;  // was any top-level window visible at that moment
  };
  RecordedErrors() {
    previous_ = platform::SetExceptionHandler([this](std::exception_ptr error) {
      bool visible = false;
      for (QWidget* w : QApplication::topLevelWidgets()) visible = visible || w->isVisible();
      entries_.push_back({platform::ExceptionMessage(error), visible});
    });
  }
  ~RecordedErrors() { platform::SetExceptionHandler(previous_); }
  const std::vector<Entry>& entries() const { return entries_; }
  std::vector<std::string> messages() const {
    std::vector<std::string> out;
    for (const auto& e : entries_) out.push_back(e.message);
    return out;
  }

 private:
  platform::ExceptionHandler previous_;
  std::vector<Entry> entries_;
};

}  // namespace vestrel::test
