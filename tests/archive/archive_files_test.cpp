// Where the archive lives and how its folder and file are made, on the
// system's own file functions (run under wine for Windows too).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/archive_files.h"
#include "archive/archive_path.h"
#include "platform/utf8.h"

namespace vestrel::archive {
namespace {

namespace fs = std::filesystem;
using platform::PathFromUtf8;
using platform::PathToUtf8;

class ArchiveFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() / ("vestrel-archive-files-" + std::to_string(stamp));
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  fs::path root_;
};

TEST_F(ArchiveFiles, FoldersAndFileAreMadeOnceAndCyrillicNamesSurvive) {
  const fs::path file = root_ / PathFromUtf8("почта") / "новая" / PathFromUtf8("архив.sqlite");
  EXPECT_EQ(files::PrepareFile(file).problem, files::Problem::kNone);
  EXPECT_TRUE(fs::is_regular_file(file));
  EXPECT_EQ(fs::file_size(file), 0u);

  // A second start finds the file and keeps what is in it.
  std::ofstream(file, std::ios::binary) << "kept";
  EXPECT_EQ(files::PrepareFile(file).problem, files::Problem::kNone);
  EXPECT_EQ(fs::file_size(file), 4u);

  const std::string utf8 = PathToUtf8(file);
  EXPECT_NE(utf8.find("почта"), std::string::npos);
  EXPECT_TRUE(utf8.ends_with("архив.sqlite"));
  EXPECT_EQ(PathFromUtf8(utf8), file);
}

TEST_F(ArchiveFiles, AFileWhereAFolderMustBeIsReportedWithItsName) {
  std::ofstream(root_ / "busy") << "a file, not a folder";
  const files::Prepared prepared = files::PrepareFile(root_ / "busy" / "archive.sqlite");
  EXPECT_EQ(prepared.problem, files::Problem::kFolderNotCreatable);
  EXPECT_EQ(prepared.where, root_ / "busy");
  EXPECT_FALSE(prepared.detail.empty());
}

// Another user's file or folder behind a link must stay as it is.
TEST_F(ArchiveFiles, NothingIsFollowedThroughALink) {
  for (const std::string linked : {"folder", "archive.sqlite", "archive.sqlite-wal",
                                   "archive.sqlite-shm", "archive.sqlite-journal"}) {
    const fs::path case_root = root_ / linked;
    const fs::path theirs = case_root / "theirs";
    fs::create_directories(theirs);
    std::ofstream(theirs / "their.sqlite", std::ios::binary) << "their bytes";
    const fs::path folder = case_root / "vestrel";
    std::error_code error;
    if (linked == "folder") {
      fs::create_directory_symlink(theirs, folder, error);
    } else {
      fs::create_directory(folder);
      fs::create_symlink(theirs / "their.sqlite", folder / linked, error);
    }
    if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();

    const files::Prepared prepared = files::PrepareFile(folder / "archive.sqlite");
    EXPECT_EQ(prepared.problem, files::Problem::kLink) << linked;
    EXPECT_EQ(prepared.where, linked == "folder" ? folder : folder / linked) << linked;
    EXPECT_EQ(fs::file_size(theirs / "their.sqlite"), 11u) << linked;
    EXPECT_FALSE(fs::exists(theirs / "archive.sqlite")) << linked;
  }
}

TEST_F(ArchiveFiles, ConfiguredNamesAreUtf8AndRelativeToTheConfiguration) {
  const fs::path ini_folder = root_ / PathFromUtf8("программа");
  EXPECT_EQ(ResolveArchivePath(" сообщения.sqlite ", ini_folder),
            ini_folder / PathFromUtf8("сообщения.sqlite"));
  const fs::path absolute = root_ / PathFromUtf8("архив") / "a.sqlite";
  EXPECT_EQ(ResolveArchivePath(PathToUtf8(absolute), ini_folder), absolute);
  EXPECT_EQ(ResolveArchivePath("", ini_folder), DefaultArchivePath());
}

#ifdef _WIN32
TEST(ArchivePath, TheDefaultIsUnderTheLocalApplicationData) {
  const auto local = files::Environment("LOCALAPPDATA");
  ASSERT_TRUE(local);
  EXPECT_EQ(DefaultArchivePath(), PathFromUtf8(*local) / "vestrel" / "archive.sqlite");
  EXPECT_TRUE(files::HomeFolder().has_value());
}
#endif

}  // namespace
}  // namespace vestrel::archive
