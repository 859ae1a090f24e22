// Reading in PDU mode and from a chosen memory, against the simulator: the
// commands on the wire, the messages printed, and the parts of a
// concatenated message joined within one reading or across two.

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "tests/cli/cli_fixture.h"

namespace vestrel::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The reading's commands up to the first read.
std::vector<std::string> Opening(const std::vector<std::string>& commands) {
  return {commands.begin(), commands.begin() + std::min<std::size_t>(2, commands.size())};
}

nlohmann::json Part(int index, int sequence, const std::string& text) {
  return {{"index", index},
          {"number", "+79031112233"},
          {"time", "26/12/09,10:00:0" + std::to_string(sequence) + "+12"},
          {"text", text},
          {"coding", "ucs2"},
          {"part", {{"reference", 42}, {"total", 2}, {"sequence", sequence}}}};
}

nlohmann::json PhoneWith(const std::vector<nlohmann::json>& messages) {
  return {{"storages", {{{"name", "ME"}, {"capacity", 10}, {"messages", messages}}}}};
}

const std::string kJoined = Message("+79031112233", "26/12/09,10:00:01",
                                    "Первая часть длинного сообщения, и вторая его часть.");

TEST_F(CliE2e, PduReadingShowsEachMessageOnceFromTheChosenMemory) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> opening;
    std::vector<std::string> out;
    std::string left_memory;  // emptied by the reading
  };
  const Case cases[] = {
      {{"read", "--pdu", "--no-archive"},
       {"AT+CMGF=0", "AT+CPMS=\"ME\""},
       {Message("MyBank", "26/12/09,08:30:00", "Your code is 4711. Do not tell anyone."),
        Message("+79161234567", "26/12/09,09:15:00", "Привет! Встреча завтра в 10:00."), kJoined},
       "ME"},
      {{"read", "--pdu", "--memory", "sm", "--no-archive"},
       {"AT+CMGF=0", "AT+CPMS=\"SM\""},
       {Message("+447700900123", "26/12/08,18:05:12", "Stored on the SIM card"),
        Message("+79161234567", "26/12/08,19:00:00", "Тоже на SIM-карте")},
       "SM"},
      // Text mode from the SIM: the described dialogue with the other memory.
      {{"read", "--memory=SM", "--no-archive"},
       {"at+cmgf=1", "AT+CPMS=\"SM\""},
       {Message("+447700900123", "26/12/08,18:05:12", "Stored on the SIM card"),
        Message("+79161234567", "26/12/08,19:00:00", "Тоже на SIM-карте")},
       "SM"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    sim_.reset();
    StartSim("pdu");
    const Finished f = RunCli(c.args);
    EXPECT_EQ(f.exit_code, 0) << f.err;
    EXPECT_EQ(Lines(f.out), c.out);
    EXPECT_EQ(Opening(sim().Commands()), c.opening);
    EXPECT_TRUE(sim().StoredMessages(c.left_memory).empty());
  }
  // The JSON of a joined message says how many parts it has.
  sim_.reset();
  StartSim("pdu");
  const Finished f = RunCli({"read", "--pdu", "--json", "--no-archive"});
  const auto lines = Lines(f.out);
  ASSERT_EQ(lines.size(), 3u) << f.err;
  const auto joined = nlohmann::json::parse(lines[2]);
  EXPECT_EQ(joined["sent_at"], "2026-12-09T10:00:01+03:00");
  EXPECT_EQ(joined["parts"], 2);
  EXPECT_EQ(joined["complete"], true);
  EXPECT_EQ(nlohmann::json::parse(lines[0])["number"], "MyBank");
}

TEST_F(CliE2e, PartThatComesLaterCompletesTheKeptMessage) {
  const test::TempDir data;
  const char* previous = std::getenv("XDG_DATA_HOME");
  const std::string kept_previous = previous ? previous : "";
  ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  const std::string incomplete =
      Message("+79031112233", "26/12/09,10:00:01", "Первая часть длинного сообщения, ") +
      " [неполное СМС: пришло частей 1 из 2]";

  // Without the archive the lone part stays on the phone for a later reading.
  StartSimJson(PhoneWith({Part(1, 1, "Первая часть длинного сообщения, ")}));
  Finished f = RunCli({"read", "--pdu", "--no-archive"});
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(Lines(f.out), std::vector<std::string>{incomplete});
  EXPECT_EQ(sim().StoredMessages("ME").size(), 1u);
  const std::vector<std::string> commands = sim().Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "AT+CMGD=1"), 0);

  // With it the part is kept and deleted, the message kept incomplete ...
  f = RunCli({"read", "--pdu"});
  EXPECT_EQ(Lines(f.out), std::vector<std::string>{incomplete});
  EXPECT_TRUE(sim().StoredMessages("ME").empty());
  // ... and completed when the rest comes.
  sim_.reset();
  StartSimJson(PhoneWith({Part(3, 2, "и вторая его часть.")}));
  f = RunCli({"read", "--pdu"});
  EXPECT_EQ(f.exit_code, 0) << f.err;
  EXPECT_EQ(Lines(f.out), std::vector<std::string>{kJoined});
  f = Child(TestingProgram(), {"archive", "--json"}).Wait();
  const auto rows = Lines(f.out);
  ASSERT_EQ(rows.size(), 1u) << f.out;
  EXPECT_EQ(nlohmann::json::parse(rows[0])["text"],
            "Первая часть длинного сообщения, и вторая его часть.");

  // Both parts in one reading without the archive: joined, then both deleted.
  sim_.reset();
  StartSimJson(PhoneWith(
      {Part(1, 1, "Первая часть длинного сообщения, "), Part(2, 2, "и вторая его часть.")}));
  f = RunCli({"read", "--pdu", "--no-archive"});
  EXPECT_EQ(Lines(f.out), std::vector<std::string>{kJoined});
  EXPECT_TRUE(sim().StoredMessages("ME").empty());
  if (previous)
    ::setenv("XDG_DATA_HOME", kept_previous.c_str(), 1);
  else
    ::unsetenv("XDG_DATA_HOME");
}

TEST_F(CliE2e, ReadingOptionsAreChecked) {
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"read", "--memory", "XX"}, "--memory wants SM, ME or MT"},
      {{"read", "--memory"}, "--memory"},
      {{"send", "79161234567", "x", "--pdu"},
       "--pdu and --memory belong to the read and watch commands"},
  };
  for (const auto& c : cases) {
    const Finished f = Child(TestingProgram(), c.args).Wait();
    EXPECT_EQ(f.exit_code, 2) << c.args[1];  // a usage error
    EXPECT_NE(f.err.find(c.error), std::string::npos) << f.err;
  }
}

}  // namespace
}  // namespace vestrel::test
