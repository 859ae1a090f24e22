#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "about/elf_section.h"
#include "about/file_version.h"
#include "about/version_block.h"
#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/exe_path.h"
#include "tests/support/temp_dir.h"

extern "C" const unsigned char vestrel_version_block[];

namespace vestrel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// The project version (CMakeLists.txt at the top), as the block must carry it.
const std::string kVersion = VESTREL_VERSION;
const std::u16string kVersion16(kVersion.begin(), kVersion.end());

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::uint16_t U16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
std::uint32_t U32(const Bytes& b, std::size_t at) {
  return U16(b, at) | U16(b, at + 2) << 16;
}

// The description in the repository, as the executable carries it.
VersionDescription ProgramDescription() {
  return ParseVersionDescription(ReadText(VESTREL_VERSION_DESCRIPTION));
}

// A scratch folder with ELF files made by objcopy around given blocks.
class VersionFiles : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    const auto path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  // A copy of a system program with the block added as its version section.
  std::string ElfWithBlock(const std::string& name, const Bytes& block) {
    const auto bin = Write(name + ".bin", block);
    const auto out = (dir_ / name).string();
    const std::string cmd = "objcopy --add-section .vestrel_version=" + bin + " /bin/true " + out;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return out;
  }

  test::TempDir temp_{"vestrel-about"};
  const fs::path dir_ = temp_.path();
};

TEST(VersionBlock, NodeLayoutByHand) {
  VersionNode node{u"AB", false, {1, 2, 3}, std::nullopt, {}};
  node.children.push_back(VersionNode{u"C", true, {}, u"xy", {}});
  const Bytes b = SerializeVersionNode(node);
  const Bytes expected = {
      // wLength 34, wValueLength 3 (bytes), wType 0 (binary), "AB" and its zero
      34, 0, 3, 0, 0, 0, 'A', 0, 'B', 0, 0, 0,
      // the value, then padding to a 32-bit boundary
      1, 2, 3, 0,
      // the child: wLength 18, wValueLength 3 (characters with the zero), wType 1
      // (text), "C" and its zero, padding, then "xy" and its zero
      18, 0, 3, 0, 1, 0, 'C', 0, 0, 0, 0, 0, 'x', 0, 'y', 0, 0, 0};
  EXPECT_EQ(b, expected);
}

TEST(VersionBlock, ProgramBlockHeaderAndFixedInfo) {
  const Bytes b = BuildVersionBlock(ProgramDescription());
  ASSERT_GE(b.size(), 92u);
  EXPECT_EQ(U16(b, 0), b.size());
  EXPECT_EQ(U16(b, 2), 52);  // VS_FIXEDFILEINFO
  EXPECT_EQ(U16(b, 4), 0);
  std::u16string key;
  for (std::size_t at = 6; U16(b, at) != 0; at += 2) key.push_back(U16(b, at));
  EXPECT_EQ(key, u"VS_VERSION_INFO");
  // 6 + 32 bytes of key: the fixed information starts at 40.
  EXPECT_EQ(U32(b, 40), 0xFEEF04BDu);
  EXPECT_EQ(U32(b, 44), 0x00010000u);
  // The file and the product version, each as two words of two 16-bit halves.
  const std::uint32_t ms = VESTREL_VERSION_MAJOR << 16 | VESTREL_VERSION_MINOR;
  const std::uint32_t ls = VESTREL_VERSION_PATCH << 16 | VESTREL_VERSION_TWEAK;
  EXPECT_EQ(U32(b, 48), ms);
  EXPECT_EQ(U32(b, 52), ls);
  EXPECT_EQ(U32(b, 56), ms);
  EXPECT_EQ(U32(b, 60), ls);
  EXPECT_EQ(U32(b, 64), 0x3Fu);
  EXPECT_EQ(U32(b, 68), 0u);
  EXPECT_EQ(U32(b, 72), 0x40004u);
  EXPECT_EQ(U32(b, 76), 1u);
}

TEST(VersionBlock, QueriesLikeTheSystemLookup) {
  const Bytes b = BuildVersionBlock(ProgramDescription());
  const auto fixed = QueryVersionValue(b, "\\");
  ASSERT_TRUE(fixed);
  EXPECT_EQ(fixed->binary.size(), 52u);

  const auto translation = QueryVersionValue(b, "\\VarFileInfo\\Translation");
  ASSERT_TRUE(translation);
  EXPECT_FALSE(translation->text);
  EXPECT_EQ(translation->binary, (Bytes{0x19, 0x04, 0xE3, 0x04}));

  const auto version = QueryVersionValue(b, "StringFileInfo\\041904E3\\FileVersion");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->value, kVersion16);
  // Keys compare without regard to case; doubled separators are one.
  EXPECT_EQ(QueryVersionValue(b, "\\\\stringfileinfo\\041904e3\\\\FILEVERSION")->value, kVersion16);
  EXPECT_EQ(QueryVersionValue(b, "StringFileInfo\\041904E3\\ProductVersion")->value, u"1.0.0.0");
  EXPECT_EQ(QueryVersionValue(b, "StringFileInfo\\041904E3\\LegalCopyright")->value,
            u"\u00A9 2026 Vestrel developers");
  EXPECT_EQ(QueryVersionValue(b, "StringFileInfo\\041904E3\\CompanyName")->value, u"");

  EXPECT_FALSE(QueryVersionValue(b, "StringFileInfo\\041904E\\FileVersion"));
  EXPECT_FALSE(QueryVersionValue(b, "StringFileInfo\\0041904E3\\FileVersion"));
  EXPECT_FALSE(QueryVersionValue(b, "StringFileInfo\\041904E3\\NoSuchString"));
  EXPECT_FALSE(QueryVersionValue(b, "VarFileInfo\\Translation\\More"));
}

TEST(VersionBlock, DamagedBlocksYieldNothingAndReadNothingOutside) {
  const Bytes b = BuildVersionBlock(ProgramDescription());
  // Every cut of the block: the root's length then reaches past the end.
  for (std::size_t n = 0; n < b.size(); ++n) {
    const Bytes cut(b.begin(), b.begin() + n);
    EXPECT_FALSE(QueryVersionValue(cut, "StringFileInfo\\041904E3\\FileVersion")) << n;
  }
  // Every length field made too long or zero, one at a time: no value found
  // outside the block, and nothing read past its end (checked under ASan).
  for (std::size_t at = 0; at + 1 < b.size(); at += 2) {
    for (std::uint16_t v : {std::uint16_t{0}, std::uint16_t{0xFFFF}, std::uint16_t{7}}) {
      Bytes damaged = b;
      damaged[at] = static_cast<std::uint8_t>(v);
      damaged[at + 1] = static_cast<std::uint8_t>(v >> 8);
      const auto value = QueryVersionValue(damaged, "StringFileInfo\\041904E3\\FileVersion");
      // At most the nine characters the value's own length allows (its zero
      // overwritten included).
      if (value && value->text) {
        EXPECT_LE(value->value.size(), 9u);
      }
    }
  }
  // Not a version block at all.
  const Bytes other = {16, 0, 0, 0, 0, 0, 'X', 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(QueryVersionValue(other, "\\"));
}

TEST(VersionDescriptionText, ErrorsNameTheLine) {
  try {
    ParseVersionDescription("[fixed]\nFileVersion = 1.0.x.27\n");
    FAIL() << "accepted a bad version";
  } catch (const platform::Exception& e) {
    EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
  }
  EXPECT_THROW(ParseVersionDescription("[nonsense]\n"), platform::Exception);
  EXPECT_THROW(ParseVersionDescription("[strings 0419]\n"), platform::Exception);
  EXPECT_THROW(ParseVersionDescription("[translations]\n0x10000 0\n"), platform::Exception);
  EXPECT_THROW(ParseVersionDescription("[strings 041904E3]\nA = \xFF\n"), platform::Exception);
}

// The executable that runs this test carries the same block as the program.
TEST(ReadFileVersion, OwnExecutableShowsTheProgramVersion) {
  const std::string self = platform::ExecutablePath().string();
  EXPECT_EQ(ReadFileVersion(self), kVersion);
  const auto section = ReadElfSection(self, ".vestrel_version");
  ASSERT_TRUE(section);
  const Bytes linked(vestrel_version_block, vestrel_version_block + section->size());
  EXPECT_EQ(*section, linked);
  EXPECT_EQ(*section, BuildVersionBlock(ProgramDescription()));
  EXPECT_EQ(ReadVersionInfoSize(self), section->size());
}

TEST(ReadFileVersion, TheProgramItselfWhenBuilt) {
  const char* bin = std::getenv("VESTREL_BIN_DIR");
  const fs::path program = fs::path(bin ? bin : "") / "Vestrel";
  if (!fs::exists(program)) GTEST_SKIP() << "the program is not built in " << program;
  EXPECT_EQ(ReadFileVersion(program.string()), kVersion);
}

TEST_F(VersionFiles, NoFileNoBlockNoElf) {
  EXPECT_EQ(ReadFileVersion(""), "");
  EXPECT_EQ(ReadFileVersion((dir_ / "missing").string()), "");
  EXPECT_EQ(ReadFileVersion("/bin/true"), "");  // ELF without the section
  EXPECT_EQ(ReadVersionInfoSize("/bin/true"), 0u);
  EXPECT_EQ(ReadFileVersion(Write("text", Bytes{'h', 'e', 'l', 'l', 'o'})), "");
  EXPECT_EQ(ReadFileVersion(dir_.string()), "");  // a folder
  // An ELF header whose section table lies past the end of the file.
  Bytes head(64, 0);
  const std::string self = platform::ExecutablePath().string();
  std::ifstream(self, std::ios::binary).read(reinterpret_cast<char*>(head.data()), 64);
  EXPECT_EQ(ReadFileVersion(Write("head-only", head)), "");
}

// A block of the given translations and string tables, nothing else.
Bytes Block(std::vector<std::pair<std::uint16_t, std::uint16_t>> translations,
            std::vector<VersionDescription::StringTable> tables) {
  VersionDescription d;
  d.translations = std::move(translations);
  d.string_tables = std::move(tables);
  return BuildVersionBlock(d);
}

// The program's block with its translation list replaced by these bytes.
Bytes WithTranslationBytes(Bytes list) {
  VersionNode tree = VersionTree(ProgramDescription());
  tree.children.back().children.back().binary = std::move(list);
  return SerializeVersionNode(tree);
}

// Which FileVersion a reader shows for a block in an ELF file: the first
// translation whose table has one, looked up by the eight-digit key.
TEST_F(VersionFiles, FirstTranslationWithAFileVersionWins) {
  const Bytes program = BuildVersionBlock(ProgramDescription());
  Bytes longer = program;
  longer.resize(program.size() + 13, 0xEE);
  VersionDescription no_list = ProgramDescription();
  no_list.translations.clear();
  const std::pair<std::uint16_t, std::uint16_t> en{0x0409, 0x04B0}, ru{0x0419, 0x04E3};
  const struct {
    const char* name;
    Bytes block;
    std::string shown;
  } rows[] = {
      {"only-second",
       Block({en, ru}, {{"040904B0", {{"ProductName", "Vestrel"}}},
                        {"041904E3", {{"FileVersion", "2.5 \xD0\x91\xD0\xB5\xD1\x82\xD0\xB0"}}}}),
       platform::Cp1251FromUtf8("2.5 Бета")},
      {"both",
       Block({en, ru},
             {{"040904B0", {{"FileVersion", "first"}}}, {"041904E3", {{"FileVersion", "x"}}}}),
       "first"},
      {"neither",
       Block({en, ru}, {{"040904B0", {{"ProductName", "x"}}}, {"041904E3", {{"Comments", "x"}}}}),
       ""},
      // 0x1009 is written 01009 and code page 0 as 00: neither names its table...
      {"odd",
       Block({{0x1009, 0x04E3}, {0x0419, 0x0000}, ru},
             {{"100904E3", {{"FileVersion", "wrong-language"}}},
              {"04190000", {{"FileVersion", "wrong-codepage"}}},
              {"041904E3", {{"FileVersion", "2.3.4.5"}}}}),
       "2.3.4.5"},
      // ... but the key the odd language does make is found.
      {"made", Block({{0x1009, 0x04E3}}, {{"0100904E3", {{"FileVersion", "odd"}}}}), "odd"},
      {"short-list", WithTranslationBytes({0x19, 0x04, 0xE3}), ""},
      {"seven-bytes", WithTranslationBytes({0x19, 0x04, 0xE3, 0x04, 1, 2, 3}), kVersion},
      {"no-list", BuildVersionBlock(no_list), ""},
      {"cut-1", Bytes(program.begin(), program.begin() + 1), ""},
      {"cut-40", Bytes(program.begin(), program.begin() + 40), ""},
      {"cut-half", Bytes(program.begin(), program.begin() + program.size() / 2), ""},
      {"cut-last", Bytes(program.begin(), program.end() - 1), ""},
      {"longer", longer, kVersion},  // bytes after a whole block do no harm
  };
  for (const auto& row : rows)
    EXPECT_EQ(ReadFileVersion(ElfWithBlock(row.name, row.block)), row.shown) << row.name;
}

TEST_F(VersionFiles, BigEndian32BitElf) {
  const auto bin = Write("block.bin", BuildVersionBlock(ProgramDescription()));
  const auto out = (dir_ / "be32.o").string();
  // objcopy names the section after the input file; rename it to ours.
  const std::string cmd = "cd " + dir_.string() +
                          " && objcopy -I binary -O elf32-big --rename-section "
                          ".data=.vestrel_version block.bin " +
                          out;
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  EXPECT_EQ(ReadFileVersion(out), kVersion);
}

}  // namespace
}  // namespace vestrel
