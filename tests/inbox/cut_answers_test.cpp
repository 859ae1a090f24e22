// Answers that reach the program cut at any byte: every message of a
// recorded reading is shown exactly once, wherever the cuts fall.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "messaging/inbox_reader.h"
#include "tests/sms/messaging_test_util.h"

namespace vestrel {
namespace {

using test::FakePort;
using test::W;

struct Recorded {
  std::string stream;              // what the modem sends during the reading
  std::vector<std::string> shown;  // the message lines it must produce, in order
};

std::string Hex(int value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (int shift = 12; shift >= 0; shift -= 4) out += digits[(value >> shift) & 15];
  return out;
}

// A reading of messages stored from index base on, echo on, as a modem
// answers it; each text is Cyrillic of the given length.
Recorded Record(int base, int messages, int length) {
  Recorded r;
  r.stream = "at+cmgf=1\r\r\nOK\r\nAT+CPMS=\"ME\"\r\r\n+CPMS: " + std::to_string(messages) +
             ",50," + std::to_string(messages) + ",50," + std::to_string(messages) +
             ",50\r\n\r\nOK\r\n";
  for (int index = 0; index <= messages; ++index) {
    const std::string i = std::to_string(index);
    r.stream += "AT+CMGR=" + i + "\r\r\n";
    if (index < base) {
      r.stream += "+CMS ERROR: 321\r\n";
    } else if (index - base < messages) {
      const int n = index - base;
      const std::string number = "+7916100000" + std::to_string(n % 10);
      std::string body;
      std::string text;
      for (int c = 0; c < length; ++c) {
        const int letter = 0x0410 + (n * 7 + c) % 32;  // А..Я
        body += Hex(letter);
        text += static_cast<char>(0xC0 + (letter - 0x0410));
      }
      r.stream += "+CMGR: \"REC UNREAD\",\"" + number + "\",,\"26/12/08,10:15:00+12\"\r\n" + body +
                  "\r\n\r\nOK\r\n";
      r.shown.push_back(W("№ тел: ") + number +
                        W(" Дата и время отправки: 26/12/08,10:15:00 Текст: ") + text);
    } else {
      r.stream += "+CMS ERROR: 321\r\n";
    }
    r.stream += "AT+CMGD=" + i + "\r\r\nOK\r\n";
  }
  return r;
}

// Runs a reading whose stream arrives in the given chunks; the message lines shown.
std::vector<std::string> Shown(const std::vector<std::string>& chunks) {
  FakePort port;
  ShadowPane command_log;
  ShadowPane modem_log;
  InboxReader reader(port, command_log, modem_log, MessagingDurations{0, 0},
                     ::testing::TempDir() + "vestrel-cut-" + std::to_string(getpid()) + ".sms");
  reader.Button4Click();
  for (const std::string& chunk : chunks) {
    port.pending += chunk;
    reader.BComPort1RxChar(static_cast<int>(chunk.size()));
  }
  std::vector<std::string> lines;
  const std::string marker = W("№ тел: ");
  const std::string text = modem_log.Text();
  for (std::size_t at = text.find(marker); at != std::string::npos;
       at = text.find(marker, at + 1)) {
    const std::size_t end = text.find("\r\n", at);
    lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
  }
  return lines;
}

TEST(CutAnswers, EveryCutPositionShowsEveryMessageOnce) {
  for (int base : {0, 1}) {
    const Recorded r = Record(base, 3, 5);
    ASSERT_EQ(Shown({r.stream}), r.shown);
    for (std::size_t cut = 1; cut < r.stream.size(); ++cut) {
      EXPECT_EQ(Shown({r.stream.substr(0, cut), r.stream.substr(cut)}), r.shown)
          << "base " << base << ", cut at " << cut;
    }
  }
}

TEST(CutAnswers, ManyCutsAndLongReadings) {
  // Three cuts at random places, a fixed seed so that a failure repeats.
  std::mt19937 random(20261208);
  const Recorded three = Record(1, 3, 12);
  for (int round = 0; round < 2000; ++round) {
    std::uniform_int_distribution<std::size_t> at(1, three.stream.size() - 1);
    std::vector<std::size_t> cuts = {at(random), at(random), at(random)};
    std::sort(cuts.begin(), cuts.end());
    std::vector<std::string> chunks;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
      chunks.push_back(three.stream.substr(from, cut - from));
      from = cut;
    }
    chunks.push_back(three.stream.substr(from));
    ASSERT_EQ(Shown(chunks), three.shown) << "cuts " << cuts[0] << " " << cuts[1] << " " << cuts[2];
  }
  // Twenty messages of 70 Cyrillic letters, handed over 4095 bytes at a time
  // as a terminal's buffer does.
  const Recorded twenty = Record(0, 20, 70);
  std::vector<std::string> chunks;
  for (std::size_t from = 0; from < twenty.stream.size(); from += 4095)
    chunks.push_back(twenty.stream.substr(from, 4095));
  EXPECT_EQ(Shown(chunks), twenty.shown);
  // Byte by byte.
  std::vector<std::string> bytes;
  for (char c : three.stream) bytes.emplace_back(1, c);
  EXPECT_EQ(Shown(bytes), three.shown);
}

}  // namespace
}  // namespace vestrel
