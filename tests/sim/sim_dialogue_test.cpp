// The simulator as the program meets it: a client on the pty link, the
// reading dialogue in text mode, the message store and the transcript.
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/modem_sim.h"
#include "tests/support/pty_client.h"

namespace vestrel::support {
namespace {

using namespace std::chrono_literals;

constexpr char kPrivetHex[] =
    "041F04400438043204350442002100200412044104420440043504470430002004370430043204420440043000"
    "200432002000310030003A00300030002E";
constexpr char kHelloHex[] =
    "00480065006C006C006F002000660072006F006D00200074006800650020006F00660066006900630065";

class SimDialogue : public ModemSimTest {};

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

  EXPECT_EQ(port.Command("AT"), "AT\r\r\nOK\r\n");
  EXPECT_EQ(port.Command("ATE0"), "ATE0\r\r\nOK\r\n");  // the echo of the command itself stays
  EXPECT_EQ(port.Command("AT"), "\r\nOK\r\n");
  EXPECT_EQ(port.Command("at+cmgf?"), "\r\n+CMGF: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGF=1"), "\r\nOK\r\n");
  EXPECT_EQ(port.Command("aT+cMgF?"), "\r\n+CMGF: 1\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGF=?"), "\r\n+CMGF: (0,1)\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGF=2"), "\r\nERROR\r\n");
  EXPECT_EQ(port.Command("AT+CMGF=0;+CMGF?"), "\r\n+CMGF: 0\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+NOSUCH"), "\r\nERROR\r\n");
  EXPECT_EQ(port.Command("ATX9"), "\r\nERROR\r\n");
  EXPECT_EQ(port.Command("hello"), "\r\nERROR\r\n");
  EXPECT_EQ(port.Command("AT+CMGR=\"1"), "\r\nERROR\r\n");
  EXPECT_EQ(port.Command("AT+CSCS?"), "\r\n+CSCS: \"IRA\"\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CSCS=\"UCS2\""), "\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CSCS=\"KOI8\""), "\r\nERROR\r\n");
  // A bare CR and a CR LF ending are no commands; backspace edits the line.
  port.Write("\r");
  port.Write("AT+CMGF\b\bGF?\r\n");
  EXPECT_EQ(port.ReadAnswer(), "\r\n+CMGF: 0\r\n\r\nOK\r\n");
  // ATZ brings back the echo, the mode and the character set.
  EXPECT_EQ(port.Command("AT+CMGF=1;E0"), "\r\nOK\r\n");
  EXPECT_EQ(port.Command("ATZ"), "\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGF?;+CSCS?"),
            "AT+CMGF?;+CSCS?\r\r\n+CMGF: 0\r\n+CSCS: \"IRA\"\r\n\r\nOK\r\n");
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
  EXPECT_EQ(port.Command("AT+CPMS=?"),
            "\r\n+CPMS: (\"ME\",\"SM\"),(\"ME\",\"SM\"),(\"ME\",\"SM\")\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CPMS=\"SM\""), "\r\n+CPMS: 0,20,3,50,3,50\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CPMS=\"ME\",\"SM\""), "\r\n+CPMS: 3,50,0,20,3,50\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CPMS=\"sm\",\"ME\",\"SM\""),
            "\r\n+CPMS: 0,20,3,50,0,20\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CPMS?"),
            "\r\n+CPMS: \"SM\",0,20,\"ME\",3,50,\"SM\",0,20\r\n\r\nOK\r\n");
  // Reads go to the first memory.
  EXPECT_EQ(port.Command("AT+CMGR=1"), "\r\n+CMS ERROR: 321\r\n");
  EXPECT_EQ(port.Command("AT+CPMS=\"XX\""), "\r\n+CMS ERROR: 302\r\n");
  EXPECT_EQ(port.Command("AT+CPMS=\"ME\",\"ME\",\"ME\",\"ME\""), "\r\nERROR\r\n");
  EXPECT_EQ(port.Command("AT+CPMS=\"ME\""), "\r\n+CPMS: 3,50,3,50,0,20\r\n\r\nOK\r\n");
  EXPECT_EQ(port.Command("AT+CMGR=1").substr(0, 22), "\r\n+CMGR: \"REC UNREAD\",");
}

}  // namespace
}  // namespace vestrel::support
