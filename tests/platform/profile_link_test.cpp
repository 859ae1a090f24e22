// Pelmora.ini as the package installs it: a link beside the executable to the
// administrator's copy under /etc.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/cp1251.h"
#include "platform/profile.h"
#include "tests/support/temp_dir.h"

namespace vestrel::platform {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class LinkedIni : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(etc_);
    fs::create_directories(program_);
    fs::create_symlink(etc_ / "Pelmora.ini", link_);
  }

  const test::TempDir dir_{"vestrel-linked-ini"};
  const fs::path etc_ = dir_ / "etc" / "vestrel";
  const fs::path program_ = dir_ / "opt" / "vestrel";
  const fs::path link_ = program_ / "Pelmora.ini";
  const std::string key_ = Cp1251FromUtf8("COM Порт");
};

TEST_F(LinkedIni, MissingTargetIsCreatedThroughTheLinkAndTheLinkStays) {
  IniFile ini(link_);
  EXPECT_FALSE(ini.Exists());
  ini.WriteString("MODEM", key_, "COM11");
  EXPECT_TRUE(fs::is_symlink(link_));
  EXPECT_EQ(ReadAll(etc_ / "Pelmora.ini"), "[MODEM]\r\n" + key_ + "=COM11\r\n");
  EXPECT_TRUE(ini.Exists());
  EXPECT_EQ(ini.ReadString("MODEM", key_, "COM1"), "COM11");
  EXPECT_FALSE(fs::exists(etc_ / "Pelmora.ini.tmp"));
  EXPECT_EQ(std::distance(fs::directory_iterator(program_), {}), 1);
}

TEST_F(LinkedIni, AnEditedTargetIsReadAndRewrittenInPlace) {
  std::ofstream(etc_ / "Pelmora.ini", std::ios::binary) << "[MODEM]\n" << key_ << "=/dev/ttyUSB0\n";
  IniFile ini(link_);
  EXPECT_EQ(ini.ReadString("MODEM", key_, "COM11"), "/dev/ttyUSB0");
  ini.WriteString("MODEM", key_, "/dev/ttyACM0");
  EXPECT_TRUE(fs::is_symlink(link_));
  EXPECT_EQ(IniFile(etc_ / "Pelmora.ini").ReadString("MODEM", key_, ""), "/dev/ttyACM0");
}

TEST_F(LinkedIni, RelativeLinksAndChainsAreFollowed) {
  fs::remove(link_);
  fs::create_symlink("../../etc/vestrel/Pelmora.ini", program_ / "step");
  fs::create_symlink("step", link_);
  IniFile(link_).WriteString("MODEM", key_, "COM3");
  EXPECT_TRUE(fs::is_symlink(link_));
  EXPECT_TRUE(fs::is_symlink(program_ / "step"));
  EXPECT_EQ(IniFile(etc_ / "Pelmora.ini").ReadString("MODEM", key_, ""), "COM3");
}

TEST_F(LinkedIni, ALinkThatLeadsInACircleEndsTheSearch) {
  fs::remove(link_);
  fs::create_symlink("Pelmora.ini", link_);
  EXPECT_FALSE(IniFile(link_).Exists());
  IniFile(link_).WriteString("MODEM", key_, "COM3");  // the circle is replaced by the file
  EXPECT_EQ(IniFile(link_).ReadString("MODEM", key_, ""), "COM3");
}

}  // namespace
}  // namespace vestrel::platform
