// The modem log's bytes and line index: wherever the bytes were cut between
// changes, the lines are those of the whole text.

#include "messaging/log_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace vestrel {
namespace {

// CR LF, LF and a lone CR each end a line.
std::vector<std::string> SplitWhole(const std::string& text) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += text[i];
    }
  }
  return lines;
}

std::vector<std::string> Lines(const LogText& log) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < log.LineCount(); ++i) lines.push_back(log.Line(i));
  return lines;
}

struct Change {
  char how;  // 'P' in front, 'A' at the end, 'S' the whole text
  std::string bytes;
};

void Apply(LogText& log, const Change& change) {
  if (change.how == 'P') log.Prepend(change.bytes);
  if (change.how == 'A') log.Append(change.bytes);
  if (change.how == 'S') log.Assign(change.bytes);
}

TEST(LogTextTest, LinesAreThoseOfTheWholeText) {
  struct Case {
    std::vector<Change> changes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {{}, {""}},
      {{{'A', "a\r"}, {'A', "\nb"}}, {"a", "b"}},
      {{{'P', "\nb"}, {'P', "a\r"}}, {"a", "b"}},
      {{{'P', "b"}, {'P', "a\r"}}, {"a", "b"}},
      {{{'A', "a\r"}, {'A', "\r\n"}}, {"a", "", ""}},
      {{{'S', "x\r\ny"}, {'P', "\r"}, {'A', "\n"}}, {"", "x", "y", ""}},
      {{{'P', "\r\n\r\n"}, {'P', ""}, {'A', ""}}, {"", "", ""}},
      {{{'A', "a\n\rb"}}, {"a", "", "b"}},
      {{{'A', "old\r\nlog"}, {'S', "\n"}}, {"", ""}},
  };
  for (const Case& c : cases) {
    LogText log;
    std::string text;
    for (const Change& change : c.changes) {
      Apply(log, change);
      text = change.how == 'P'   ? change.bytes + text
             : change.how == 'A' ? text + change.bytes
                                 : change.bytes;
    }
    EXPECT_EQ(log.Text(), text);
    EXPECT_EQ(Lines(log), c.lines) << testing::PrintToString(text);
  }
}

// Pieces of letters and line-break bytes put at either end in any order.
TEST(LogTextTest, RandomPiecesAtBothEndsIndexLikeTheWholeText) {
  std::mt19937 random(27);
  const char alphabet[] = {'a', 'b', '\r', '\n'};
  for (int round = 0; round < 200; ++round) {
    LogText log;
    std::string text;
    for (int change = 0; change < 20; ++change) {
      std::string piece(random() % 5, ' ');
      for (char& c : piece) c = alphabet[random() % 4];
      if (random() % 2) {
        log.Prepend(piece);
        text = piece + text;
      } else {
        log.Append(piece);
        text += piece;
      }
      ASSERT_EQ(Lines(log), SplitWhole(text)) << testing::PrintToString(text);
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < log.LineCount(); ++i) {
      EXPECT_GE(log.LineStart(i), start);
      start = log.LineStart(i);
    }
  }
}

}  // namespace
}  // namespace vestrel
