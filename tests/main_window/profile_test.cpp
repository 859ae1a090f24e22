// Profile strings: the INI rules that Pelmora.ini relies on.

#include "platform/profile.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/cp1251.h"
#include "platform/exceptions.h"
#include "platform/system_reason.h"
#include "platform/text_case.h"
#include "shell_test_support.h"

namespace vestrel {
namespace {

using platform::Cp1251FromUtf8;
using platform::ReadProfileValue;
using platform::WriteProfileValue;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kKey = Cp1251FromUtf8("COM Порт");

TEST(ProfileRead, MissingFileSectionOrKeyGiveTheDefault) {
  TempDir dir;
  const auto ini = dir / "Pelmora.ini";
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), "COM11");
  EXPECT_FALSE(std::filesystem::exists(ini)) << "reading must not create the file";

  const std::string other = "[OTHER]\r\n" + kKey + "=COM3\r\n";
  WriteFile(ini, other);
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), "COM11");
  WriteFile(ini, "[MODEM]\r\nSpeed=9600\r\n");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), "COM11");
  EXPECT_EQ(ReadFile(ini), "[MODEM]\r\nSpeed=9600\r\n");
}

TEST(ProfileRead, EmptyValueIsEmptyNotTheDefault) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[MODEM]\r\n" + kKey + "=\r\n");
  EXPECT_EQ(ReadProfileValue(dir / "a.ini", "MODEM", kKey, "COM11"), "");
  WriteFile(dir / "b.ini", "[MODEM]\r\n" + kKey + " =   \r\n");
  EXPECT_EQ(ReadProfileValue(dir / "b.ini", "MODEM", kKey, "COM11"), "");
}

TEST(ProfileRead, SectionAndKeyIgnoreCaseInLatinAndCyrillic) {
  TempDir dir;
  const auto ini = dir / "Pelmora.ini";
  WriteFile(ini, "[modem]\r\n" + Cp1251FromUtf8("com пОРТ") + "=/dev/ttyUSB0\r\n");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), "/dev/ttyUSB0");
  // A different Cyrillic letter is a different key.
  WriteFile(ini, "[MODEM]\r\n" + Cp1251FromUtf8("COM Парт") + "=COM2\r\n");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), "COM11");
}

TEST(ProfileRead, LayoutVariantsOfTheSameKey) {
  TempDir dir;
  const auto ini = dir / "Pelmora.ini";
  // Spaces around names and value, LF line ends, comments, a quoted value.
  WriteFile(ini, "; port of the modem\n  [ MODEM ]  \n;" + kKey + "=COM9\n\t" + kKey +
                     "  =  \"COM 5\"  \n");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), "COM 5");
  // The first section of that name and the first key in it count.
  WriteFile(
      ini, "[MODEM]\r\n" + kKey + "=COM1\r\n" + kKey + "=COM2\r\n[MODEM]\r\n" + kKey + "=COM3\r\n");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), "COM1");
  // The last line may lack its line end.
  WriteFile(ini, "[MODEM]\r\n" + kKey + "=COM4");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), "COM4");
  // A key of another section is not taken.
  WriteFile(ini, "[MODEM]\r\n[OTHER]\r\n" + kKey + "=COM4\r\n");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), "COM11");
}

TEST(ProfileRead, ValueIsCutAt2047Bytes) {
  TempDir dir;
  const auto ini = dir / "Pelmora.ini";
  std::string value;
  for (int i = 0; i < 3000; ++i) value += static_cast<char>('a' + i % 26);
  WriteFile(ini, "[MODEM]\r\n" + kKey + "=" + value + "\r\n");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), value.substr(0, 2047));
  WriteFile(ini, "[MODEM]\r\n" + kKey + "=" + value.substr(0, 2047) + "\r\n");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), value.substr(0, 2047));
  WriteFile(ini, "[MODEM]\r\n" + kKey + "=" + value.substr(0, 2046) + "\r\n");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11").size(), 2046u);
}

TEST(ProfileRead, Utf8FileFromALinuxEditorIsRead) {
  TempDir dir;
  const auto ini = dir / "Pelmora.ini";
  WriteFile(ini, "[MODEM]\nCOM Порт=/dev/ttyACM0\n");  // UTF-8 bytes of this source
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), "/dev/ttyACM0");
  WriteFile(ini, "\xEF\xBB\xBF[MODEM]\nCOM Порт=Порт1\n");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "COM11"), Cp1251FromUtf8("Порт1"));
}

TEST(ProfileWrite, CreatesTheFileWithOneSectionAndOneKey) {
  TempDir dir;
  const auto ini = dir / "Pelmora.ini";
  ASSERT_TRUE(WriteProfileValue(ini, "MODEM", kKey, "COM11"));
  EXPECT_EQ(ReadFile(ini), "[MODEM]\r\nCOM \xCF\xEE\xF0\xF2=COM11\r\n");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "x"), "COM11");
  EXPECT_FALSE(std::filesystem::exists(dir / "Pelmora.ini.tmp"));
  // Nothing but the file itself is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(ProfileWrite, ALinkLeftUnderATemporaryNameIsNotFollowed) {
  TempDir dir;
  const auto ini = dir / "Pelmora.ini";
  const auto target = dir / "target";
  WriteFile(target, "keep");
  std::filesystem::create_symlink(target, dir / "Pelmora.ini.tmp");
  ASSERT_TRUE(WriteProfileValue(ini, "MODEM", kKey, "COM11"));
  EXPECT_EQ(ReadFile(target), "keep");
  EXPECT_EQ(ReadProfileValue(ini, "MODEM", kKey, "x"), "COM11");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "Pelmora.ini.tmp"));
}

TEST(ProfileWrite, KeepsEveryOtherLine) {
  TempDir dir;
  const auto ini = dir / "Pelmora.ini";
  WriteFile(ini, "; note\r\n[MODEM]\r\nSpeed=9600\r\n" + kKey + "=COM1\r\n\r\n[Other]\r\nA=1");
  ASSERT_TRUE(WriteProfileValue(ini, "modem", kKey, "COM7"));
  EXPECT_EQ(ReadFile(ini),
            "; note\r\n[MODEM]\r\nSpeed=9600\r\n" + kKey + "=COM7\r\n\r\n[Other]\r\nA=1");
  ASSERT_TRUE(WriteProfileValue(ini, "Other", "B", "2"));
  EXPECT_EQ(ReadFile(ini), "; note\r\n[MODEM]\r\nSpeed=9600\r\n" + kKey +
                               "=COM7\r\n\r\n[Other]\r\nA=1\r\nB=2\r\n");
  ASSERT_TRUE(WriteProfileValue(ini, "MODEM", "Parity", "none"));
  ASSERT_TRUE(WriteProfileValue(ini, "New", "C", "3"));
  EXPECT_EQ(ReadFile(ini),
            "; note\r\n[MODEM]\r\nSpeed=9600\r\n" + kKey +
                "=COM7\r\nParity=none\r\n\r\n[Other]\r\nA=1\r\nB=2\r\n[New]\r\nC=3\r\n");
}

TEST(ProfileWrite, UnwritableFolderFailsAndLeavesNothing) {
  TempDir dir;
  const auto folder = test::UnwritableFolder(dir);
  const auto ini = folder / "Pelmora.ini";
  EXPECT_FALSE(WriteProfileValue(ini, "MODEM", kKey, "COM11"));
  EXPECT_FALSE(std::filesystem::exists(ini));

  platform::IniFile file(ini);
  EXPECT_FALSE(file.Exists());
  try {
    file.WriteString("MODEM", kKey, "COM11");
    FAIL() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.Message(), Cp1251FromUtf8("Не удаётся записать в файл " + ini.string()));
  }
}

TEST(ProfileWrite, MessageNamesTheFullPathInWindows1251) {
  TempDir dir;
  const auto folder = dir / "файл";  // a regular file where the folder should be
  WriteFile(folder, "x");
  platform::IniFile file(folder / "Pelmora.ini");
  try {
    file.WriteString("MODEM", kKey, "COM11");
    FAIL() << "no exception";
  } catch (const platform::Exception& e) {
    EXPECT_EQ(e.Message(),
              Cp1251FromUtf8("Не удаётся записать в файл " + (folder / "Pelmora.ini").string()));
  }
}

// The reasons the program names in its messages, in Russian; an unknown one by its code.
TEST(SystemReason, CommonReasonsInRussianOthersByCode) {
  const struct {
    int error;
    const char* reason;
  } cases[] = {
      {EACCES, "нет прав доступа"},
      {ENOSPC, "нет места на диске"},
      {EROFS, "файловая система доступна только для чтения"},
      {ENOENT, "нет такого файла или папки"},
      {9999, "системная ошибка 9999"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::ErrnoReason(c.error), c.reason) << c.error;
}

TEST(Cp1251Case, LowerCaseCoversLatinAndCyrillic) {
  EXPECT_EQ(platform::Cp1251LowerCase(Cp1251FromUtf8("AZaz09 АЯЁҐЄІЇЎЈЅЂЉЊЋЌЏ")),
            Cp1251FromUtf8("azaz09 аяёґєіїўјѕђљњћќџ"));
  EXPECT_EQ(platform::Cp1251LowerCase(Cp1251FromUtf8("«№€»")), Cp1251FromUtf8("«№€»"));
  EXPECT_TRUE(platform::Cp1251EqualNoCase(Cp1251FromUtf8("Порт"), Cp1251FromUtf8("пОРТ")));
  EXPECT_FALSE(platform::Cp1251EqualNoCase(Cp1251FromUtf8("Порт"), Cp1251FromUtf8("Порты")));
}

}  // namespace
}  // namespace vestrel
