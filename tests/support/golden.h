#pragma once
// What a reading writes to the modem, as the window and vestrel-sms both must.

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

namespace vestrel::test {

// The count commands, then a read and a delete for each index from 0 on.
inline std::vector<std::string> ReadCommands(int last_index) {
  std::vector<std::string> c = {"at+cmgf=1", "AT+CPMS=\"ME\""};
  for (int i = 0; i <= last_index; ++i) {
    c.push_back("AT+CMGR=" + std::to_string(i));
    c.push_back("AT+CMGD=" + std::to_string(i));
  }
  return c;
}

// A reading of an inbox whose first pass covers indexes 0 to first_last: that
// pass is fixed; each later chunk may have read one more index.
inline void ExpectReadingCommands(const std::vector<std::string>& commands, int first_last) {
  const std::vector<std::string> first = ReadCommands(first_last);
  ASSERT_GE(commands.size(), first.size());
  EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + std::ssize(first)),
            first);
  int last = first_last;
  for (std::size_t i = first.size(); i + 1 < commands.size(); i += 2) {
    ++last;
    EXPECT_EQ(commands[i], "AT+CMGR=" + std::to_string(last));
    EXPECT_EQ(commands[i + 1], "AT+CMGD=" + std::to_string(last));
  }
  EXPECT_EQ(commands.size() % 2, 0u);
}

}  // namespace vestrel::test
