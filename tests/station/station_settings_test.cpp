// Pelmora.ini as every front end reads it: the keys of the one table, the
// start-up settings, and which file names the archive.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>

#include "archive/archive_path.h"
#include "platform/cp1251.h"
#include "platform/profile.h"
#include "station/settings.h"
#include "tests/support/temp_dir.h"

namespace vestrel::station {
namespace {

using platform::Cp1251FromUtf8;

void WriteIni(const std::filesystem::path& file, const std::string& utf8_lines) {
  std::ofstream(file, std::ios::binary) << Cp1251FromUtf8(utf8_lines);
}

TEST(StationSettings, KeysReadAsEachFrontEndReadsThem) {
  struct Row {
    const char* lines;  // empty: no file at all
    IniKey key;
    std::optional<std::string> expected;  // UTF-8
  };
  const Row rows[] = {
      {"[MODEM]\r\nCOM Порт=COM3\r\n", IniKey::kPort, "COM3"},
      {"[modem]\r\ncom порт=/dev/ttyUSB0\r\n", IniKey::kPort, "/dev/ttyUSB0"},
      {"[MODEM]\r\nCOM Порт=\r\n", IniKey::kPort, std::nullopt},
      {"[OTHER]\r\nCOM Порт=COM3\r\n", IniKey::kPort, std::nullopt},
      {"", IniKey::kPort, std::nullopt},
      {"[MODEM]\r\nАрхив=архив.sqlite\r\n", IniKey::kArchive, "архив.sqlite"},
      {"[MODEM]\r\nСклейка=1\r\n", IniKey::kConcatenate, "1"},
      {"[MODEM]\r\nЧтение=PDU\r\nПамять=SM\r\n", IniKey::kReading, "PDU"},
      {"[MODEM]\r\nЧтение=PDU\r\nПамять=SM\r\n", IniKey::kMemory, "SM"},
  };
  for (const Row& row : rows) {
    test::TempDir dir;
    const auto file = dir / kIniFileName;
    if (*row.lines) WriteIni(file, row.lines);
    std::optional<std::string> got = ReadKey(file, row.key);
    if (got) got = platform::Cp1251ToUtf8(*got);
    EXPECT_EQ(got, row.expected) << row.lines << " / " << Entry(row.key).name_utf8;
  }
}

TEST(StationSettings, StartUpWritesAMissingFileWithTheDefaultPort) {
  test::TempDir dir;
  const StartUpSettings first = ReadStartUpSettings(dir.path());
  EXPECT_EQ(first.port, "COM11");
  EXPECT_FALSE(first.concatenate);
  EXPECT_EQ(ReadKey(dir / kIniFileName, IniKey::kPort), "COM11");

  WriteIni(dir / kIniFileName, "[MODEM]\r\nСклейка=1\r\n");
  const StartUpSettings second = ReadStartUpSettings(dir.path());
  EXPECT_EQ(second.port, "COM11");  // a file without the key: the default, nothing written
  EXPECT_TRUE(second.concatenate);
}

TEST(StationSettings, TheFirstFileThatNamesAnArchiveWins) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "user");
  std::filesystem::create_directories(dir / "program");
  const auto user = dir / "user" / "vestrel-sms.ini";
  const auto program = dir / "program" / kIniFileName;
  EXPECT_EQ(ArchiveFile({user, program}), archive::ResolveArchivePath({}, {}));
  WriteIni(program, "[MODEM]\r\nАрхив=kept.sqlite\r\n");
  EXPECT_EQ(ArchiveFile({user, program}), dir / "program" / "kept.sqlite");
  WriteIni(user, "[MODEM]\r\nАрхив=/var/lib/kept.sqlite\r\n");
  EXPECT_EQ(ArchiveFile({user, program}), "/var/lib/kept.sqlite");
  EXPECT_EQ(ArchiveFile({{}, program}), dir / "program" / "kept.sqlite");
}

}  // namespace
}  // namespace vestrel::station
