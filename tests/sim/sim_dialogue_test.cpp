// The simulator as the program meets it: a client on the pty link, the
// reading dialogue in text mode, the message store and the transcript.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "tests/support/modem_sim.h"
#include "tests/support/pty_client.h"

namespace vestrel::test {
namespace {

using namespace std::chrono_literals;

constexpr char kPrivetHex[] =
    "041F04400438043204350442002100200412044104420440043504470430002004370430043204420440043000"
    "200432002000310030003A00300030002E";
constexpr char kHelloHex[] =
    "00480065006C006C006F002000660072006F006D00200074006800650020006F00660066006900630065";

class SimDialogue : public ModemSimTest {};

// One row of a dialogue: a command and the modem's whole answer, or only its
// first bytes where the rest is checked elsewhere.
struct Exchange {
  std::string command;
  std::string answer;
  bool only_start = false;
};
constexpr bool kStart = true;

void ExpectExchanges(PtyClient& port, const std::vector<Exchange>& rows) {
  for (const Exchange& row : rows) {
    const std::string answer = port.Command(row.command);
    EXPECT_EQ(row.only_start ? answer.substr(0, row.answer.size()) : answer, row.answer)
        << row.command;
  }
}

TEST_F(SimDialogue, ReadsAndDeletesTheDemoStoreAsTheProgramDoes) {
  StartSim("demo");
  PtyClient port(sim().link());

  EXPECT_EQ(port.Command("at+cmgf=1"), "at+cmgf=1\r\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CPMS=\"ME\""),
            "AT+CPMS=\"ME\"\r\r\n+CPMS: 3,50,3,50,3,50\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGR=0"), "AT+CMGR=0\r\r\n+CMS ERROR: 321\r\n");
  EXPECT_EQ(port.Command("AT+CMGD=0"), "AT+CMGD=0\r\r\n+CMS ERROR: 321\r\n");
  EXPECT_EQ(port.Command("AT+CMGR=1"),
            std::string("AT+CMGR=1\r\r\n+CMGR: \"REC UNREAD\",\"+79161234567\",,"
                        "\"26/12/08,10:15:00+12\"\r\n") +
                kPrivetHex + "\r\n\r\nOK\r\n");
  // Reading marks the message as read.
  EXPECT_EQ(port.Command("AT+CMGR=1"),
            std::string("AT+CMGR=1\r\r\n+CMGR: \"REC READ\",\"+79161234567\",,"
                        "\"26/12/08,10:15:00+12\"\r\n") +
                kPrivetHex + "\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGD=1"), "AT+CMGD=1\r\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGR=1"), "AT+CMGR=1\r\r\n+CMS ERROR: 321\r\n");
  EXPECT_EQ(port.Command("AT+CMGR=2"),
            std::string("AT+CMGR=2\r\r\n+CMGR: \"REC UNREAD\",\"+79031112233\",,"
                        "\"26/12/08,11:20:30+12\"\r\n") +
                kHelloHex + "\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGD=2"), "AT+CMGD=2\r\r\nOK\r\n");
  // A 7-bit message comes as plain text.
  EXPECT_EQ(port.Command("AT+CMGR=3"),
            "AT+CMGR=3\r\r\n+CMGR: \"REC READ\",\"+447700900123\",,\"26/12/07,18:05:12+00\"\r\n"
            "Call me back please\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGD=3"), "AT+CMGD=3\r\r\nOK\r\n");
  // An empty place within the memory is deleted without complaint.
  EXPECT_EQ(port.Command("AT+CMGD=4"), "AT+CMGD=4\r\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGD=51"), "AT+CMGD=51\r\r\n+CMS ERROR: 321\r\n");
  EXPECT_EQ(port.Command("AT+CPMS?"),
            "AT+CPMS?\r\r\n+CPMS: \"ME\",0,50,\"ME\",0,50,\"ME\",0,50\r\n\r\nOK\r\n");
  port.Close();

  ASSERT_EQ(sim().Stop(), 0);
  EXPECT_TRUE(sim().StoredMessages("ME").empty());
  EXPECT_EQ(sim().Store().value("reason", ""), "exit");
  std::vector<int> deleted;
  for (const auto& r : sim().OfType("delete")) {
    if (r.value("deleted", false)) deleted.push_back(r.value("index", -1));
  }
  EXPECT_EQ(deleted, (std::vector<int>{1, 2, 3}));
  const auto commands = sim().Commands();
  ASSERT_EQ(commands.size(), 15u);
  EXPECT_EQ(commands[0], "at+cmgf=1");
  EXPECT_EQ(commands[1], "AT+CPMS=\"ME\"");
  // The transcript holds every byte both ways.
  EXPECT_EQ(sim().Received().substr(0, 23), "at+cmgf=1\rAT+CPMS=\"ME\"\r");
  EXPECT_EQ(sim().Sent().substr(0, 16), "at+cmgf=1\r\r\nOK\r\n");
}

TEST_F(SimDialogue, EchoFramingAndCommandSyntax) {
  StartSim("empty");
  PtyClient port(sim().link());
  const std::vector<Exchange> syntax = {
      {"AT", "AT\r\r\nOK\r\n"},
      {"ATE0", "ATE0\r\r\nOK\r\n"},  // the echo of the command itself stays
      {"AT", "\r\nOK\r\n"},
      {"at+cmgf?", "\r\n+CMGF: 0\r\n\r\nOK\r\n"},
      {"AT+CMGF=1", "\r\nOK\r\n"},
      {"aT+cMgF?", "\r\n+CMGF: 1\r\n\r\nOK\r\n"},
      {"AT+CMGF=?", "\r\n+CMGF: (0,1)\r\n\r\nOK\r\n"},
      {"AT+CMGF=2", "\r\nERROR\r\n"},
      {"AT+CMGF=0;+CMGF?", "\r\n+CMGF: 0\r\n\r\nOK\r\n"},
      {"AT+NOSUCH", "\r\nERROR\r\n"},
      {"ATX9", "\r\nERROR\r\n"},
      {"hello", "\r\nERROR\r\n"},
      {"AT+CMGR=\"1", "\r\nERROR\r\n"},
      {"AT+CSCS?", "\r\n+CSCS: \"IRA\"\r\n\r\nOK\r\n"},
      {"AT+CSCS=\"UCS2\"", "\r\nOK\r\n"},
      {"AT+CSCS=\"KOI8\"", "\r\nERROR\r\n"},
  };
  ExpectExchanges(port, syntax);
  // A bare CR and a CR LF ending are no commands; backspace edits the line.
  port.Write("\r");
  port.Write("AT+CMGF\b\bGF?\r\n");
  EXPECT_EQ(port.ReadAnswer(), "\r\n+CMGF: 0\r\n\r\nOK\r\n");
  // ATZ brings back the echo, the mode and the character set.
  const std::vector<Exchange> after_reset = {
      {"AT+CMGF=1;E0", "\r\nOK\r\n"},
      {"ATZ", "\r\nOK\r\n"},
      {"AT+CMGF?;+CSCS?", "AT+CMGF?;+CSCS?\r\r\n+CMGF: 0\r\n+CSCS: \"IRA\"\r\n\r\nOK\r\n"},
  };
  ExpectExchanges(port, after_reset);
  // Two commands in one write are answered in turn.
  port.Write("AT\rATE1\r");
  EXPECT_EQ(port.ReadUntil("ATE1\r\r\nOK\r\n"), "AT\r\r\nOK\r\nATE1\r\r\nOK\r\n");
  // An overlong line is refused as a whole.
  EXPECT_EQ(port.Command("AT" + std::string(3000, '1')).substr(3002), "\r\r\nERROR\r\n");
}

TEST_F(SimDialogue, MessageStorageSelection) {
  StartSim("demo");
  PtyClient port(sim().link());
  ASSERT_EQ(port.Command("ATE0;+CMGF=1"), "ATE0;+CMGF=1\r\r\nOK\r\n");
  const std::vector<Exchange> storage = {
      {"AT+CPMS=?", "\r\n+CPMS: (\"ME\",\"SM\"),(\"ME\",\"SM\"),(\"ME\",\"SM\")\r\n\r\nOK\r\n"},
      {"AT+CPMS=\"SM\"", "\r\n+CPMS: 0,20,3,50,3,50\r\n\r\nOK\r\n"},
      {"AT+CPMS=\"ME\",\"SM\"", "\r\n+CPMS: 3,50,0,20,3,50\r\n\r\nOK\r\n"},
      {"AT+CPMS=\"sm\",\"ME\",\"SM\"", "\r\n+CPMS: 0,20,3,50,0,20\r\n\r\nOK\r\n"},
      {"AT+CPMS?", "\r\n+CPMS: \"SM\",0,20,\"ME\",3,50,\"SM\",0,20\r\n\r\nOK\r\n"},
      {"AT+CMGR=1", "\r\n+CMS ERROR: 321\r\n"},  // reads go to the first memory
      {"AT+CPMS=\"XX\"", "\r\n+CMS ERROR: 302\r\n"},
      {"AT+CPMS=\"ME\",\"ME\",\"ME\",\"ME\"", "\r\nERROR\r\n"},
      {"AT+CPMS=\"ME\"", "\r\n+CPMS: 3,50,3,50,0,20\r\n\r\nOK\r\n"},
      {"AT+CMGR=1", "\r\n+CMGR: \"REC UNREAD\",", kStart},
  };
  ExpectExchanges(port, storage);
}

TEST_F(SimDialogue, StoredOutgoingMessagesAndListing) {
  StartSimJson(
      {{"storages",
        {{{"name", "ME"},
          {"capacity", 5},
          {"messages",
           {{{"index", 1},
             {"number", "+79161234567"},
             {"time", "26/12/08,10:15:00+12"},
             {"text", "Hi"}},
            {{"index", 2}, {"status", "STO SENT"}, {"number", "+79031112233"}, {"text", "Ок"}},
            {{"index", 3},
             {"status", "sto unsent"},
             {"number", "112"},
             {"name", "Help"},
             {"text", "draft"}},
            {{"index", 4},
             {"status", "REC READ"},
             {"number", "+79265554433"},
             {"name", "Ivan"},
             {"time", "26/12/08,12:00:00+12"},
             {"raw", "it's a raw line"}}}}}}}});
  PtyClient port(sim().link());
  ASSERT_EQ(port.Command("ATE0;+CMGF=1"), "ATE0;+CMGF=1\r\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGR=2"),
            "\r\n+CMGR: \"STO SENT\",\"+79031112233\",\r\n041E043A\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGR=3"),
            "\r\n+CMGR: \"STO UNSENT\",\"112\",\"Help\"\r\ndraft\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGR=4"),
            "\r\n+CMGR: \"REC READ\",\"+79265554433\",\"Ivan\",\"26/12/08,12:00:00+12\"\r\n"
            "it's a raw line\r\n\r\nOK\r\n");
  // Without a parameter the list holds the unread ones, and reading them marks them.
  EXPECT_EQ(port.Command("AT+CMGL"),
            "\r\n+CMGL: 1,\"REC UNREAD\",\"+79161234567\",,\"26/12/08,10:15:00+12\"\r\nHi\r\n"
            "\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGL=\"REC UNREAD\""), "\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGL=\"ALL\""),
            "\r\n+CMGL: 1,\"REC READ\",\"+79161234567\",,\"26/12/08,10:15:00+12\"\r\nHi\r\n"
            "+CMGL: 2,\"STO SENT\",\"+79031112233\",,\r\n041E043A\r\n"
            "+CMGL: 3,\"STO UNSENT\",\"112\",\"Help\",\r\ndraft\r\n"
            "+CMGL: 4,\"REC READ\",\"+79265554433\",\"Ivan\",\"26/12/08,12:00:00+12\"\r\n"
            "it's a raw line\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGL=\"STO UNSENT\"").substr(0, 14), "\r\n+CMGL: 3,\"ST");
  EXPECT_EQ(port.Command("AT+CMGL=\"NEW\""), "\r\n+CMS ERROR: 305\r\n");
  EXPECT_EQ(port.Command("AT+CMGL=4"), "\r\n+CMS ERROR: 305\r\n");
  // The character set reaches numbers and 7-bit bodies, not UCS-2 bodies.
  EXPECT_EQ(port.Command("AT+CSCS=\"UCS2\";+CMGR=1"),
            "\r\n+CMGR: \"REC READ\",\"002B00370039003100360031003200330034003500360037\",,"
            "\"26/12/08,10:15:00+12\"\r\n00480069\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGR=2").substr(0, 53),
            "\r\n+CMGR: \"STO SENT\",\"002B0037003900300033003100310031");
  // Deleting by flag: 1 = every read message, 4 = everything.
  EXPECT_EQ(port.Command("AT+CMGD=1,1"), "\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CPMS?"), "\r\n+CPMS: \"ME\",2,5,\"ME\",2,5,\"ME\",2,5\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGD=?"), "\r\n+CMGD: (2,3),(0-4)\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGD=1,5"), "\r\nERROR\r\n");
  EXPECT_EQ(port.Command("AT+CMGD=0,4"), "\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGD=?"), "\r\n+CMGD: (),(0-4)\r\n\r\nOK\r\n");
  ASSERT_EQ(sim().Stop(), 0);
  EXPECT_TRUE(sim().StoredMessages().empty());
}

TEST_F(SimDialogue, ServesOneClientAfterAnother) {
  StartSim("demo");
  for (int round = 1; round <= 5; ++round) {
    {
      PtyClient port(sim().link());
      EXPECT_EQ(port.Command("AT"), "AT\r\r\nOK\r\n") << "round " << round;
      // Half a command left behind is forgotten with the client.
      port.Write("AT+CMG");
    }
    // A client that comes back before the modem could notice the close would
    // find the half command still there, as on a real line.
    ASSERT_TRUE(sim().WaitForCount("client_closed", round));
  }
  PtyClient port(sim().link());
  EXPECT_EQ(port.Command("AT+CPMS?"),
            "AT+CPMS?\r\r\n+CPMS: \"ME\",3,50,\"ME\",3,50,\"ME\",3,50\r\n\r\nOK\r\n");
  ASSERT_TRUE(sim().WaitForCount("client_opened", 5));
  EXPECT_EQ(sim().OfType("client_closed").size(), 5u);
  std::vector<std::string> expected(5, "AT");
  expected.push_back("AT+CPMS?");
  EXPECT_EQ(sim().Commands(), expected);
}

TEST_F(SimDialogue, AnswerForAClientThatLeftGoesNowhere) {
  nlohmann::json scenario = ScenarioJson("demo");
  scenario["timing"] = {{"answer_delay_ms", 300}};
  StartSimJson(scenario);
  {
    PtyClient port(sim().link());
    port.Write("AT+CMGD=2\r");
    EXPECT_EQ(port.ReadUntil("\r"), "AT+CMGD=2\r");
  }
  ASSERT_TRUE(sim().WaitForCount("client_closed", 1));
  PtyClient port(sim().link());
  EXPECT_EQ(port.Command("AT+CPMS?"),
            "AT+CPMS?\r\r\n+CPMS: \"ME\",2,50,\"ME\",2,50,\"ME\",2,50\r\n\r\nOK\r\n");
  // Nothing of the old answer came late.
  EXPECT_EQ(port.ReadFor(std::chrono::milliseconds(400)), "");
  ASSERT_EQ(sim().Stop(), 0);
  EXPECT_EQ(sim().StoredMessages().size(), 2u);
}

// The program's reading of these two scenarios is checked end to end; here
// the places around their messages.
TEST_F(SimDialogue, IndexBaseZeroAndGaps) {
  const std::string missing = "\r\n+CMS ERROR: 321\r\n";
  const struct {
    const char* scenario;
    std::vector<Exchange> rows;
  } scenarios[] = {
      {"base0",
       {{"AT+CPMS=\"ME\"", "\r\n+CPMS: 3,50,3,50,3,50\r\n\r\nOK\r\n"},
        {"AT+CMGR=0", "\r\n+CMGR: \"REC UNREAD\",\"+79161234567\",,\"26/12", kStart},
        {"AT+CMGR=2", "\r\n+CMGR: \"REC READ\",", kStart},
        {"AT+CMGR=3", missing},
        {"AT+CMGD=49", "\r\nOK\r\n"},
        {"AT+CMGD=50", missing}}},
      {"gaps",
       {{"AT+CPMS=\"ME\"", "\r\n+CPMS: 2,10,2,10,2,10\r\n\r\nOK\r\n"},
        {"AT+CMGR=0", missing},
        {"AT+CMGR=11", missing},
        {"AT+CMGR=3", missing},
        {"AT+CMGD=3", "\r\nOK\r\n"},  // an empty place is deleted without complaint
        {"AT+CMGR=4", "\r\n+CMGR: \"REC UNREAD\"", kStart},
        {"AT+CMGR=7", "\r\n+CMGR: \"REC READ\",", kStart},
        {"AT+CMGD=4;+CMGD=7", "\r\nOK\r\n"}}},
  };
  for (const auto& [scenario, rows] : scenarios) {
    SCOPED_TRACE(scenario);
    StartSim(scenario);
    PtyClient port(sim().link());
    ASSERT_EQ(port.Command("ATE0;+CMGF=1"), "ATE0;+CMGF=1\r\r\nOK\r\n");
    ExpectExchanges(port, rows);
    port.Close();
    EXPECT_EQ(sim().Stop(), 0);
  }
  EXPECT_TRUE(sim().StoredMessages().empty());
}

TEST_F(SimDialogue, FaultsOfTheSampleScenario) {
  StartSim("faults");
  PtyClient port(sim().link());
  ASSERT_EQ(port.Command("at+cmgf=1"), "at+cmgf=1\r\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGR=0"), "AT+CMGR=0\r\r\n+CMS ERROR: 500\r\n");
  EXPECT_EQ(port.Command("AT+CMGR=2"),
            std::string("AT+CMGR=2\r\r\n+CMTI: \"ME\",5\r\n\r\n+CMGR: \"REC UNREAD\","
                        "\"+79031112233\",,\"26/12/08,11:20:30+12\"\r\n") +
                kHelloHex + "\r\n\r\nOK\r\n");
  // The unsolicited line comes once, the error answer every time.
  EXPECT_EQ(port.Command("AT+CMGR=2").substr(0, 18), "AT+CMGR=2\r\r\n+CMGR:");
  EXPECT_EQ(port.Command("at+cmgr=0"), "at+cmgr=0\r\r\n+CMS ERROR: 500\r\n");
  ASSERT_EQ(sim().Stop(), 0);

  // Echo goes out at once, as one block; answers after the delay, in pieces
  // of at most 7 bytes.
  double command_at = -1;
  int since_command = 0;
  int pieces = 0;
  for (const auto& r : sim().All()) {
    const std::string type = r.value("type", "");
    if (type == "command") {
      command_at = r.value("t", 0.0);
      since_command = 0;
    } else if (type == "tx" && command_at >= 0) {
      const std::string data = BytesOf(r.value("data", ""));
      if (++since_command == 1) {
        EXPECT_EQ(data.back(), '\r') << "echo " << data;
        continue;
      }
      EXPECT_LE(data.size(), 7u) << data;
      if (since_command == 2) {
        EXPECT_GE(r.value("t", 0.0) - command_at, 19.0);
      }
      ++pieces;
    }
  }
  EXPECT_GT(pieces, 30);
  EXPECT_EQ(sim().OfType("unsolicited").size(), 1u);
  EXPECT_EQ(sim().OfType("scripted_error").size(), 2u);
  // An error answer stands for the command: nothing was read.
  for (const auto& r : sim().OfType("read")) EXPECT_NE(r.value("index", -1), 0);
}

TEST_F(SimDialogue, HangsUpAfterTheChosenCommand) {
  StartSimJson({{"faults", {{"hangup_after", 2}, {"split", {{"bytes", 3}, {"delay_ms", 1}}}}},
                {"delete_empty", "+CMS ERROR: 321"}});
  PtyClient port(sim().link());
  EXPECT_EQ(port.Command("AT+CMGD=1"), "AT+CMGD=1\r\r\n+CMS ERROR: 321\r\n");
  EXPECT_EQ(port.Command("AT+CMGF?"), "AT+CMGF?\r\r\n+CMGF: 0\r\n\r\nOK\r\n");
  EXPECT_TRUE(port.WaitHangup());
  ASSERT_TRUE(sim().WaitForCount("hangup", 1));
  EXPECT_TRUE(sim().running());
  EXPECT_EQ(sim().Stop(), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(sim().link())));
  EXPECT_EQ(sim().Store().value("reason", ""), "exit");
}

TEST_F(SimDialogue, PacingSendsOneByteAtATimeNoFasterThanTheLineRate) {
  StartSimJson({{"timing", {{"pacing", true}, {"baud", 9600}}}});
  PtyClient port(sim().link());
  EXPECT_EQ(port.Command("AT+CPMS?"),
            "AT+CPMS?\r\r\n+CPMS: \"ME\",0,50,\"ME\",0,50,\"ME\",0,50\r\n\r\nOK\r\n");
  ASSERT_EQ(sim().Stop(), 0);
  std::vector<double> times;
  for (const auto& r : sim().OfType("tx")) {
    EXPECT_EQ(BytesOf(r.value("data", "")).size(), 1u);
    times.push_back(r.value("t", 0.0));
  }
  ASSERT_EQ(times.size(), 55u);  // echo and answer
  // 10 bits a byte at 9600 bit/s: 55 bytes span at least 54 character times.
  EXPECT_GE(times.back() - times.front(), 54 * 10 * 1000.0 / 9600 - 0.5);
}

TEST_F(SimDialogue, SurvivesGarbageAndAnswersAfterwards) {
  StartSim("demo");
  PtyClient port(sim().link());
  // Pieces of commands, PDUs, control characters and stray bytes, in a fixed
  // pseudo-random order.
  const std::vector<std::string> pieces = {
      "AT", "at",      "+CMGS=", "+CMGR=", "+CMGD=", "+CMGL=", "+CPMS=",   "+CMGF=",  "+CSCS=",
      "E0", "Z",       ";",      ",",      "\"",     "\"ME\"", "\"UCS2\"", "1",       "0",
      "26", "4",       "\r",     "\r",     "\n",     "\x1A",   "\x1B",     "\b",      "?",
      "=?", "0011000", "B91",    "F1",     "\xFF",   "\x80",   "\x00",     "\"ALL\"", "-1"};
  std::mt19937 rng(7);
  std::string garbage;
  while (garbage.size() < 20000) garbage += pieces[rng() % pieces.size()];
  for (std::size_t pos = 0; pos < garbage.size(); pos += 512) {
    port.Write(std::string_view(garbage).substr(pos, 512));
    port.ReadFor(std::chrono::milliseconds(2));
  }
  // Leave a prompt if one is open, forget a half line, then talk as usual.
  // The garbage holds no "GSM", so this answer marks the end of its answers.
  port.Write("\x1B\rATZ\rAT+CSCS=\"GSM\"\r");
  const std::string tail = port.ReadUntil("AT+CSCS=\"GSM\"\r\r\nOK\r\n");
  EXPECT_NE(tail.find("AT+CSCS=\"GSM\"\r\r\nOK\r\n"), std::string::npos);
  EXPECT_EQ(port.Command("AT+CMGF=1"), "AT+CMGF=1\r\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CPMS?").substr(0, 19), "AT+CPMS?\r\r\n+CPMS: \"");
  ASSERT_EQ(sim().Stop(), 0);
  EXPECT_GT(sim().Commands().size(), 100u);
}

TEST(SimStartup, RefusesBadScenariosAndKeepsForeignFiles) {
  const std::vector<std::pair<nlohmann::json, std::string>> bad = {
      {{{"colour", "red"}}, "unknown key \"colour\""},
      {{{"storages",
         {{{"name", "ME"},
           {"capacity", 3},
           {"messages", {{{"index", 4}, {"status", "STO SENT"}, {"number", "1"}}}}}}}},
       "messages[0].index: 4 is outside ME (1..3)"},
      {{{"storages",
         {{{"name", "ME"},
           {"messages",
            {{{"index", 1},
              {"number", "+7916"},
              {"time", "26/12/08,10:15:00+12"},
              {"text", "Привет"},
              {"coding", "gsm7"}}}}}}}},
       "does not fit one message in gsm7"},
      {{{"storages",
         {{{"name", "ME"},
           {"messages", {{{"index", 1}, {"number", "+7916"}, {"time", "yesterday"}}}}}}}},
       "is not yy/MM/dd,hh:mm:ss+zz"},
      {{{"storages", {{{"name", "ME"}, {"messages", {{{"index", 1}, {"status", "NEW"}}}}}}}},
       "unknown status \"NEW\""},
      {{{"storages", {{{"name", "ME"}, {"messages", {{{"index", 1}}}}}}}}, "is not an address"},
      {{{"faults", {{"hangup_after", -1}}}}, "hangup_after: must be between 0"},
  };
  for (const auto& [scenario, message] : bad) {
    try {
      ModemSim::FromJson(scenario);
      ADD_FAILURE() << "accepted " << scenario.dump();
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }

  // The link replaces an old symbolic link and goes at the end; the slave
  // path printed on standard output is the link's target.
  TempDir dir;
  const auto link = dir.path() / "modem";
  const auto transcript = dir.path() / "t.jsonl";
  std::filesystem::create_symlink("/nonexistent", link);
  const std::string binary = (BinDir() / "modem-sim").string();
  FILE* out =
      popen(("exec " + binary + " --link " + link.string() + " --transcript " + transcript.string())
                .c_str(),
            "r");
  ASSERT_NE(out, nullptr);
  char slave[256] = {};
  ASSERT_NE(fgets(slave, sizeof slave, out), nullptr);
  EXPECT_EQ(std::filesystem::read_symlink(link).string() + "\n", slave);
  {
    PtyClient port(link.string());
    EXPECT_EQ(port.Command("AT"), "AT\r\r\nOK\r\n");
  }
  std::ifstream in(transcript);
  std::string first;
  std::getline(in, first);
  const int pid = nlohmann::json::parse(first).value("pid", 0);
  ASSERT_GT(pid, 0);
  kill(pid, SIGINT);
  EXPECT_EQ(pclose(out), 0);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));

  std::ofstream(dir.path() / "file") << "keep";
  const std::string cmd = binary + " --link " + (dir.path() / "file").string() + " 2>/dev/null";
  EXPECT_NE(std::system(cmd.c_str()), 0);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.path() / "file"));
  EXPECT_EQ(std::system((binary + " --bogus 2>/dev/null").c_str()) >> 8, 2);
}

}  // namespace
}  // namespace vestrel::test
