// The dialogues' record: the failures told once, the send's answer lines
// whatever the chunks, and a send kept in the record's own archive.
#include "record/dialogue_record.h"

#include <gtest/gtest.h>

#include "platform/cp1251.h"
#include "tests/support/temp_dir.h"

namespace vestrel::record {
namespace {

TEST(RecordNotice, OneMessagePerReadingWhateverFailed) {
  FailureNotice notice;
  notice.Reset();
  notice.Note({});
  EXPECT_FALSE(notice.TakeMessage());
  notice.Note({archive::ArchiveError::kBusy, false, "первая"});
  notice.Note({archive::ArchiveError::kDiskFull, false, "вторая"});
  EXPECT_EQ(notice.TakeMessage(), std::string("Архив СМС недоступен: первая"));
  notice.Note({archive::ArchiveError::kDiskFull, false, "третья"});
  EXPECT_FALSE(notice.TakeMessage());
  notice.Reset();
  notice.Note({archive::ArchiveError::kDiskFull, false, "третья"});
  EXPECT_EQ(notice.TakeMessage(), std::string("Архив СМС недоступен: третья"));
}

TEST(RecordSendAnswers, AnswerLinesAreKeptWholeWhereverTheChunksAreCut) {
  const std::string stream =
      "AT+CMGS=23\r\r\n> 0011000B9197\x1A\r\n+CMGS: 12\r\n\r\nOK\r\n"
      "+CMTI: \"ME\",1\r\n+CMS ERROR: 500\r\n+CMGS+CMGS: 1\r\n+CMGS: 13\r";
  const std::vector<std::string> expected = {"+CMGS: 12", "+CMS ERROR: 500", "+CMGS: 13"};
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    SendAnswerLines answers;
    std::vector<std::string> seen = answers.Feed(stream.substr(0, cut));
    for (auto& line : answers.Feed(stream.substr(cut))) seen.push_back(line);
    ASSERT_EQ(seen, expected) << "cut at " << cut;
  }
  SendAnswerLines answers;
  EXPECT_TRUE(answers.Feed("+CMGS: 1").empty());
  answers.Reset();  // a new send: the held start is forgotten
  EXPECT_TRUE(answers.Feed("4\r\n").empty());
}

TEST(RecordSend, ASendIsKeptInTheRecordsOwnArchive) {
  test::TempDir dir;
  DialogueRecord record(dir / "archive.sqlite", [] { return std::string("COM7"); });
  record.SendStarted("79161234567", platform::Cp1251FromUtf8("Привет"), 1);
  record.PartWritten(1, "0011000B919761214365F70008AA0C041F04400438043204350442");
  record.ChunkReceived("\r\n+CMGS: 12\r\n\r\nOK\r\n", false);
  PartResult accepted;
  accepted.status = PartStatus::kAccepted;
  accepted.reference = 12;
  record.PartAnswered(1, accepted);
  record.SendEnded();
  EXPECT_FALSE(record.TakeFailure());
  std::vector<archive::SentRow> sent;
  ASSERT_TRUE(record.Archive().ListSent({}, sent).ok());
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].port, "COM7");
  EXPECT_EQ(sent[0].text, "Привет");
  EXPECT_EQ(sent[0].status, "accepted");
}

}  // namespace
}  // namespace vestrel::record
