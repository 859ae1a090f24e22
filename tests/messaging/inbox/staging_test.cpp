#include "messaging/staging.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/exceptions.h"
#include "platform/private_file.h"
#include "tests/messaging/sms/messaging_test_util.h"
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

  // The sender as the header quotes it, whatever its length; the time
  // whatever the name field holds; the zone as an offset.
  struct Row {
    const char* header;
    const char* number;
    const char* time;
    const char* sent_at;
  };
  const Row rows[] = {
      {"+CMGR: \"REC READ\",\"+79161234567\",\"Ivan, Jr\",\"24/05/01,12:30:45+12\"", "+79161234567",
       "24/05/01,12:30:45", "2024-05-01T12:30:45+03:00"},
      {"+CMGR: \"REC UNREAD\",\"+447700900123\",,\"26/12/08,10:15:01-22\"", "+447700900123",
       "26/12/08,10:15:01", "2026-12-08T10:15:01-05:30"},
      {"+CMGR: \"REC UNREAD\",\"ALFA-BANK\",,\"26/12/08,10:15:01+00\"", "ALFA-BANK",
       "26/12/08,10:15:01", "2026-12-08T10:15:01+00:00"},
      {"+CMGR: \"REC UNREAD\",\"900\",,\"24/05/01,12:30:45\"", "900", "24/05/01,12:30:45", ""},
  };
  for (const Row& row : rows) {
    m = ParseStaged(std::string(row.header) + "\r\n0041\r\n\r\nOK\r\n");
    ASSERT_EQ(m.size(), 1u) << row.header;
    EXPECT_EQ(m[0].number, row.number);
    EXPECT_EQ(m[0].time, row.time);
    EXPECT_EQ(m[0].sent_at, row.sent_at);
    EXPECT_EQ(m[0].text, "A");
  }

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
  // Apostrophes stay; plain text stays; every body line up to the empty line
  // before the final result is text; a body holding "+CMGR:" is not taken
  // for a header, nor an unsolicited line for the body.
  const std::string ok = "\r\n\r\nOK\r\n\r\n";
  const std::string staged = std::string(kHeader) + "\r\nIt's 'ok'\r\n\r\nsecond line" + ok +
                             kHeader + "\r\n+CMGR: 0027" + ok + kHeader +
                             "\r\n+CMTI: \"ME\",7\r\n00270041\r\n";
  auto m = ParseStaged(staged);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].text, "It's 'ok'\n\nsecond line");
  EXPECT_EQ(m[1].text, "+CMGR: 0027");
  EXPECT_EQ(m[2].text, "'A");

  // A line starting with Ctrl-Z is no header, and the parse goes on after it.
  m = ParseStaged(std::string(kHeader) +
                  "\r\n0041\r\n\x1A"
                  "junk\r\n" +
                  kHeader + "\r\n0042\r\n");
  ASSERT_EQ(m.size(), 2u);
  // A body starting with Ctrl-Z is just empty.
  m = ParseStaged(std::string(kHeader) +
                  "\r\n\x1A"
                  "0041" +
                  ok + kHeader + "\r\n0042\r\n");
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

TEST(StagedMessages, TextInsideAMessageIsNoHeader) {
  // A header is a line that begins with "+CMGR:" where an answer can start.
  auto m = ParseStaged("\r\nsome +CMGR: \"REC READ\",\"+79990000000\",,\"x\"\r\nbody\r\n");
  EXPECT_TRUE(m.empty());
  // Inside an answer, a line of the message that looks like a header is text.
  const std::string spoof = "+CMGR: \"REC READ\",\"+79990000000\",,\"26/12/08,10:15:00+12\"";
  m = ParseStaged("AT+CMGR=0\r\r\n" + std::string(kHeader) + "\r\nHello\r\n" + spoof +
                  "\r\nfake\r\n\r\nOK\r\nAT+CMGD=0\r\r\nOK\r\n");
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].number, "+79161234567");
  // After the final result code, and after the echo of a read, headers count again.
  m = ParseStaged(std::string(kHeader) + "\r\nA\r\nB\r\n\r\nERROR\r\n" + kHeader +
                  "\r\nC\r\nAT+CMGR=5\r\n" + kHeader + "\r\nHi\r\n");
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[2].text, "Hi");
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

// What the process sees of a staging: the bytes it gave back and whether
// the file was private while it existed is not observable afterwards, so
// these look at what stands on disk before and after.
TEST_F(StagingFile, StagedBytesComeBackAndNothingStays) {
  {
    std::ofstream old(path_);
    old << "old content that is longer";
  }
  const std::string chunk("chunk\0\x1A\xFF", 8);
  EXPECT_EQ(StageThroughFile(path_, chunk), chunk);
  EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));
  EXPECT_EQ(StageThroughFile(path_, ""), "");
  EXPECT_EQ(platform::StagePrivateFile(path_, "ab"), "ab");
  EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));
}

TEST_F(StagingFile, WhateverStandsUnderTheNameIsNeverWrittenThrough) {
  const fs::path target = dir_ / "target";
  const auto make_target = [&] {
    std::ofstream t(target);
    t << "keep";
  };
  const auto target_kept = [&] {
    std::ifstream t(target);
    std::string content((std::istreambuf_iterator<char>(t)), {});
    struct stat st {};
    return content == "keep" && stat(target.c_str(), &st) == 0 && (st.st_mode & 0777) == 0644;
  };
  make_target();
  fs::permissions(target, fs::perms(0644));

  // A symbolic link and a hard link: the name is replaced, the target kept.
  fs::create_symlink(target, path_);
  EXPECT_EQ(StageThroughFile(path_, "chunk"), "chunk");
  EXPECT_TRUE(target_kept());
  fs::create_hard_link(target, path_);
  EXPECT_EQ(StageThroughFile(path_, "chunk"), "chunk");
  EXPECT_TRUE(target_kept());
  EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));

  // A pipe would block an open for writing: it is removed, never opened.
  ASSERT_EQ(mkfifo(path_.c_str(), 0644), 0);
  EXPECT_EQ(StageThroughFile(path_, "chunk"), "chunk");
  EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));

  // A folder under the name, or no folder at all: the staging fails.
  fs::create_directory(path_);
  EXPECT_THROW(StageThroughFile(path_, "x"), platform::Exception);
  EXPECT_TRUE(fs::is_directory(path_));
  EXPECT_THROW(StageThroughFile((dir_ / "missing" / "tmp.sms").string(), "x"), platform::Exception);
}

}  // namespace
}  // namespace vestrel
