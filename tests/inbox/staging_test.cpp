#include "messaging/staging.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/exceptions.h"
#include "tests/sms/messaging_test_util.h"
#include "tests/support/temp_dir.h"

namespace vestrel {
namespace {

using test::W;
namespace fs = std::filesystem;

std::vector<std::string> Texts(const std::vector<StagedLine>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines) out.push_back(l.text);
  return out;
}

using Lines = std::vector<std::string>;

TEST(StagedLines, LineRules) {
  EXPECT_EQ(Texts(SplitStagedLines("a\r\nb\r\n")), (Lines{"a", "b"}));
  EXPECT_EQ(Texts(SplitStagedLines("a\nb\n\r\n")), (Lines{"a", "b", ""}));
  EXPECT_EQ(Texts(SplitStagedLines("a\rb\r\r\n")), (Lines{"ab"}));  // other CRs dropped
  EXPECT_EQ(Texts(SplitStagedLines("a\r")), (Lines{"a"}));
  EXPECT_EQ(Texts(SplitStagedLines("tail")), (Lines{"tail"}));
  EXPECT_EQ(Texts(SplitStagedLines("")), (Lines{}));
  EXPECT_EQ(Texts(SplitStagedLines("\n\n")), (Lines{"", ""}));
  // Ctrl-Z cuts its line; the rest up to LF is skipped.
  EXPECT_EQ(Texts(SplitStagedLines("ab\x1A"
                                   "cd\r\nef\r\n")),
            (Lines{"ab", "ef"}));
  EXPECT_EQ(Texts(SplitStagedLines("ab\x1A\x1A\n")), (Lines{"ab"}));
  const auto lines = SplitStagedLines(
      "x\n\x1A"
      "after\nlast");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_FALSE(lines[0].starts_with_ctrl_z);
  EXPECT_TRUE(lines[1].starts_with_ctrl_z);
  EXPECT_EQ(lines[1].text, "");
  EXPECT_FALSE(lines[2].starts_with_ctrl_z);
  EXPECT_FALSE(SplitStagedLines("\r\x1A\n")[0].starts_with_ctrl_z);
}

const char kHeader[] = "+CMGR: \"REC UNREAD\",\"+79161234567\",,\"24/05/01,12:30:45+12\"";

TEST(StagedMessages, HeaderFieldsAndBodies) {
  auto m = ParseStaged(std::string("AT+CMGR=0\r\r\n") + kHeader +
                       "\r\n041F04400438043204350442\r\n\r\nOK\r\n\r\n");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].number, "+79161234567");
  EXPECT_EQ(m[0].time, "24/05/01,12:30:45");
  EXPECT_EQ(m[0].text, W("Привет"));
  EXPECT_EQ(MessageLogLine(m[0]),
            W("№ тел: +79161234567 Дата и время отправки: 24/05/01,12:30:45 Текст: Привет"));

  // REC READ; a name field instead of an empty one leaves the time empty.
  m = ParseStaged(
      "+CMGR: \"REC READ\",\"+79161234567\",\"Ivan\",\"24/05/01,12:30:45+12\"\r\nHi\r\n");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].number, "+79161234567");
  EXPECT_EQ(m[0].time, "");
  EXPECT_EQ(m[0].text, "Hi");

  // REC UNREAD wins over REC READ in the same line.
  m = ParseStaged("+CMGR: \"REC READ\",\"111111111111\" \"REC UNREAD\",\"222222222222\"\r\nx\r\n");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].number, "222222222222");

  // A short sender runs on into the rest of the header.
  m = ParseStaged("+CMGR: \"REC UNREAD\",\"900\",,\"24/05/01,12:30:45+12\"\r\n0041\r\n");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].number, "900\",,\"24/05");
  EXPECT_EQ(m[0].text, "A");

  // A stored outgoing message: no number; still shown.
  m = ParseStaged("+CMGR: \"STO UNSENT\",\"+79161234567\",,\r\n0041\r\n");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].number, "");
  EXPECT_EQ(m[0].time, "");

  // Fewer bytes when the line ends early.
  m = ParseStaged("+CMGR: \"REC UNREAD\",\"+7916");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].number, "+7916");
  EXPECT_EQ(m[0].text, "");  // the header was the last line
}

TEST(StagedMessages, BodiesAndLineOrder) {
  // Apostrophes become the letter "ь"; plain text stays; only the first body
  // line is shown; a body holding "+CMGR:" is not taken for a header.
  const std::string staged = std::string(kHeader) + "\r\nIt's 'ok'\r\nsecond line\r\n" + kHeader +
                             "\r\n+CMGR: 0027\r\n" + kHeader + "\r\n00270041\r\n";
  auto m = ParseStaged(staged);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].text, "It\xFCs \xFCok\xFC");
  EXPECT_EQ(m[1].text, "+CMGR: 0027");
  EXPECT_EQ(m[2].text,
            "\xFC"
            "A");

  // A line starting with Ctrl-Z where a header is looked for ends the file.
  m = ParseStaged(std::string(kHeader) +
                  "\r\n0041\r\n\x1A"
                  "junk\r\n" +
                  kHeader + "\r\n0042\r\n");
  ASSERT_EQ(m.size(), 1u);
  // ... but a body starting with Ctrl-Z is just empty.
  m = ParseStaged(std::string(kHeader) +
                  "\r\n\x1A"
                  "0041\r\n" +
                  kHeader + "\r\n0042\r\n");
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].text, "");
  EXPECT_EQ(m[1].text, "B");
  // Ctrl-Z inside a body cuts it.
  m = ParseStaged(std::string(kHeader) +
                  "\r\n0041\x1A"
                  "0042\r\n");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].text, "A");
  EXPECT_TRUE(ParseStaged("\r\n").empty());
}

TEST(SubstituteAll, ReplacesLeftToRightWithoutRescanning) {
  EXPECT_EQ(SubstituteAll("a'b''c", "'", "\xFC"),
            "a\xFC"
            "b\xFC\xFC"
            "c");
  EXPECT_EQ(SubstituteAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(SubstituteAll("abab", "ab", "abab"), "abababab");
  EXPECT_EQ(SubstituteAll("xyz", "", "q"), "xyz");
  EXPECT_EQ(SubstituteAll("", "a", "b"), "");
  EXPECT_EQ(SubstituteAll("aaa", "a", ""), "");
  EXPECT_EQ(SubstituteAll("no match", "q", "z"), "no match");
  EXPECT_EQ(SubstituteAll(std::string("a\0b", 3), std::string("\0", 1), "-"), "a-b");
}

class StagingFile : public ::testing::Test {
 protected:
  const test::TempDir temp_{"vestrel-staging"};
  const fs::path dir_ = temp_.path();
  const std::string path_ = (dir_ / "tmp.sms").string();
};

TEST_F(StagingFile, PrivateWrittenReadAndRemoved) {
  {
    std::ofstream old(path_);
    old << "old content that is longer";
  }
  fs::permissions(path_, fs::perms(0644));
  WriteStagingFile(path_, std::string("chunk\0\x1A\xFF", 8));
  struct stat st {};
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(TakeStagingFile(path_), std::string("chunk\0\x1A\xFF\r\n", 10));
  EXPECT_FALSE(fs::exists(path_));

  WriteStagingFile(path_, "");
  EXPECT_EQ(TakeStagingFile(path_), "\r\n");
  EXPECT_THROW(TakeStagingFile(path_), platform::Exception);  // gone
}

TEST_F(StagingFile, SymbolicLinkIsNeverFollowed) {
  const fs::path target = dir_ / "target";
  {
    std::ofstream t(target);
    t << "keep";
  }
  fs::create_symlink(target, path_);
  EXPECT_THROW(WriteStagingFile(path_, "chunk"), platform::Exception);
  EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));  // the link is removed
  std::ifstream t(target);
  std::string content((std::istreambuf_iterator<char>(t)), {});
  EXPECT_EQ(content, "keep");

  fs::create_symlink(target, path_);
  EXPECT_THROW(TakeStagingFile(path_), platform::Exception);
  EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));
  EXPECT_TRUE(fs::exists(target));

  EXPECT_THROW(WriteStagingFile((dir_ / "missing" / "tmp.sms").string(), "x"), platform::Exception);
}

}  // namespace
}  // namespace vestrel
