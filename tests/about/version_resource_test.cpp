// The version block of a Windows executable: the VERSIONINFO resource made
// from the version description, read back through the system's functions.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "about/file_version.h"
#include "about/version_block.h"
#include "platform/cp1251.h"
#include "platform/exe_path.h"

namespace vestrel {
namespace {

VersionDescription ProgramDescription() {
  std::ifstream in(VESTREL_VERSION_DESCRIPTION, std::ios::binary);
  EXPECT_TRUE(in) << VESTREL_VERSION_DESCRIPTION;
  return ParseVersionDescription(
      std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

std::string Self() {
  return platform::ExecutablePath().string();
}

std::string Version(const std::uint16_t (&v)[4]) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
         std::to_string(v[3]);
}

// The string a description gives to a name in its (one) string table.
std::string Described(const VersionDescription& d, const std::string& name) {
  for (const auto& [key, value] : d.string_tables.at(0).strings)
    if (key == name) return value;
  return "(missing)";
}

TEST(VersionResource, OwnExecutableShowsTheDescribedFileVersion) {
  const VersionDescription d = ProgramDescription();
  EXPECT_EQ(ReadFileVersion(Self()), Described(d, "FileVersion"));
  EXPECT_EQ(ReadFileVersion(Self()), Version(d.fixed.file_version));
}

TEST(VersionResource, FixedInformationTranslationAndStringsAreTheDescribedOnes) {
  const VersionDescription d = ProgramDescription();
  const std::uint32_t size = ReadVersionInfoSize(Self());
  ASSERT_GT(size, 0u);
  std::vector<std::uint8_t> block(size);
  ASSERT_TRUE(ReadVersionInfo(Self(), size, block.data()));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, kFixedFileInfoSignature);
  EXPECT_EQ(fixed->dwFileVersionMS,
            static_cast<DWORD>(d.fixed.file_version[0] << 16 | d.fixed.file_version[1]));
  EXPECT_EQ(fixed->dwFileVersionLS,
            static_cast<DWORD>(d.fixed.file_version[2] << 16 | d.fixed.file_version[3]));
  EXPECT_EQ(fixed->dwProductVersionLS,
            static_cast<DWORD>(d.fixed.product_version[2] << 16 | d.fixed.product_version[3]));
  EXPECT_EQ(fixed->dwFileFlagsMask, d.fixed.flags_mask);
  EXPECT_EQ(fixed->dwFileFlags, d.fixed.flags);
  EXPECT_EQ(fixed->dwFileOS, d.fixed.os);
  EXPECT_EQ(fixed->dwFileType, d.fixed.type);

  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4 * d.translations.size());
  const auto* pairs = static_cast<const WORD*>(value);
  EXPECT_EQ(pairs[0], d.translations.at(0).first);
  EXPECT_EQ(pairs[1], d.translations.at(0).second);

  // Every string of the table, non-ASCII ones included, as the description has it.
  const std::string key = d.string_tables.at(0).key;
  for (const auto& [name, text] : d.string_tables.at(0).strings) {
    SCOPED_TRACE(name);
    const std::string path = "\\StringFileInfo\\" + key + "\\" + name;
    const std::wstring wide(path.begin(), path.end());
    ASSERT_TRUE(::VerQueryValueW(block.data(), wide.c_str(), &value, &length));
    std::string cp1251;
    for (const wchar_t* c = static_cast<const wchar_t*>(value); *c; ++c)
      cp1251.push_back(static_cast<char>(platform::UnicodeToCp1251(*c).value_or('?')));
    EXPECT_EQ(cp1251, platform::Cp1251FromUtf8(text));
  }
}

TEST(VersionResource, FilesWithoutABlockGiveNothing) {
  EXPECT_EQ(ReadFileVersion(""), "");
  EXPECT_EQ(ReadFileVersion("no-such-file.exe"), "");
  // A file that exists but is no executable at all.
  const std::string text = (platform::ExecutableFolder() / "version-test.txt").string();
  std::ofstream(text) << "hello";
  EXPECT_EQ(ReadVersionInfoSize(text), 0u);
  EXPECT_EQ(ReadFileVersion(text), "");
  std::remove(text.c_str());
}

}  // namespace
}  // namespace vestrel
