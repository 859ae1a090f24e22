// Answers that reach the program cut at any byte: every message of a
// reading is shown exactly once, wherever the cuts fall.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "messaging/inbox_reader.h"
#include "tests/messaging/sms/messaging_test_util.h"

namespace vestrel {
namespace {

using test::FakePort;
using test::W;

struct Recorded {
  std::map<std::string, std::string> answers;  // the modem's answer to each command, echo included
  std::string stream;                          // what the modem sends during the reading
  std::vector<std::string> shown;              // the message lines it must produce, in order
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
  const std::string n = std::to_string(messages);
  r.answers["at+cmgf=1"] = "at+cmgf=1\r\r\nOK\r\n";
  r.answers["AT+CPMS=\"ME\""] =
      "AT+CPMS=\"ME\"\r\r\n+CPMS: " + n + ",50," + n + ",50," + n + ",50\r\n\r\nOK\r\n";
  r.stream = r.answers["at+cmgf=1"] + r.answers["AT+CPMS=\"ME\""];
  for (int index = 0; index <= messages; ++index) {
    const std::string i = std::to_string(index);
    std::string& read = r.answers["AT+CMGR=" + i];
    read = "AT+CMGR=" + i + "\r\r\n";
    if (index >= base && index - base < messages) {
      const int m = index - base;
      const std::string number = "+7916100000" + std::to_string(m % 10);
      std::string body;
      std::string text;
      for (int c = 0; c < length; ++c) {
        const int letter = 0x0410 + (m * 7 + c) % 32;  // А..Я
        body += Hex(letter);
        text += static_cast<char>(0xC0 + (letter - 0x0410));
      }
      read += "+CMGR: \"REC UNREAD\",\"" + number + "\",,\"26/12/08,10:15:00+12\"\r\n" + body +
              "\r\n\r\nOK\r\n";
      r.shown.push_back(W("№ тел: ") + number +
                        W(" Дата и время отправки: 26/12/08,10:15:00 Текст: ") + text);
    } else {
      read += "+CMS ERROR: 321\r\n";
    }
    r.answers["AT+CMGD=" + i] = "AT+CMGD=" + i + "\r\r\nOK\r\n";
    r.stream += read + r.answers["AT+CMGD=" + i];
  }
  return r;
}

// Runs a reading whose modem answers each command at once and whose bytes
// are handed over in chunks of the given sizes (then all the rest); the
// message lines shown.
std::vector<std::string> Shown(const Recorded& r, const std::vector<std::size_t>& chunks) {
  FakePort port;
  port.on_write = [&](const std::string& command) {
    // Cuts may make the reading read on past the stream: those places are empty.
    const std::string line = command.substr(0, command.size() - 1);
    const auto it = r.answers.find(line);
    port.pending += it != r.answers.end()          ? it->second
                    : line.starts_with("AT+CMGR=") ? command + "\r\n+CMS ERROR: 321\r\n"
                                                   : command + "\r\nOK\r\n";
  };
  ShadowPane command_log;
  ShadowPane modem_log;
  InboxReader reader(port, command_log, modem_log, MessagingDurations{0, 0, 50},
                     ::testing::TempDir() + "vestrel-cut-" + std::to_string(getpid()) + ".sms");
  reader.Button4Click();
  std::string received;
  auto hand_over = [&](std::size_t size) {
    const std::string before = port.pending;
    reader.BComPort1RxChar(static_cast<int>(size));
    received += before.substr(0, std::min(size, before.size()));
  };
  for (const std::size_t size : chunks) hand_over(size);
  while (!port.pending.empty()) hand_over(port.pending.size());
  EXPECT_EQ(received.substr(0, r.stream.size()), r.stream);
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
    ASSERT_EQ(Shown(r, {}), r.shown);
    for (std::size_t cut = 1; cut < r.stream.size(); ++cut)
      EXPECT_EQ(Shown(r, {cut}), r.shown) << "base " << base << ", cut at " << cut;
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
    ASSERT_EQ(Shown(three, {cuts[0], cuts[1] - cuts[0], cuts[2] - cuts[1]}), three.shown)
        << "cuts " << cuts[0] << " " << cuts[1] << " " << cuts[2];
  }
  // Twenty messages of 70 Cyrillic letters, handed over 4095 bytes at a time
  // as a terminal's buffer does.
  const Recorded twenty = Record(0, 20, 70);
  EXPECT_EQ(Shown(twenty, std::vector<std::size_t>(twenty.stream.size() / 4095 + 1, 4095)),
            twenty.shown);
  // Byte by byte.
  EXPECT_EQ(Shown(three, std::vector<std::size_t>(three.stream.size(), 1)), three.shown);
}

}  // namespace
}  // namespace vestrel
