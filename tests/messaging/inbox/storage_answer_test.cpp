#include <gtest/gtest.h>

#include "messaging/inbox_reader.h"

namespace vestrel {
namespace {

TEST(SmsNumber, ConvertsLikeTheCountWantsIt) {
  EXPECT_EQ(ParseSmsNumber("3"), 3);
  EXPECT_EQ(ParseSmsNumber("  12"), 12);
  EXPECT_EQ(ParseSmsNumber("\t+7"), 7);
  EXPECT_EQ(ParseSmsNumber("-4"), -4);
  EXPECT_EQ(ParseSmsNumber("0"), 0);
  EXPECT_EQ(ParseSmsNumber("2147483647"), 2147483647);
  EXPECT_EQ(ParseSmsNumber("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", " ", "+", "-", "12 ", "1 2", "3\r", "0x10", "$10", "2147483648",
                          "-2147483649", "99999999999999999999", "+-1", "1a", "\"3\""})
    EXPECT_FALSE(ParseSmsNumber(bad).has_value()) << bad;
}

TEST(StorageAnswer, CountAndCapacity) {
  auto a = ParseStorageAnswer("AT+CPMS=\"ME\"\r\r\n+CPMS: 3,50,3,50,3,50\r\n\r\nOK\r\n");
  EXPECT_EQ(a.count_text, "3");
  EXPECT_EQ(a.count, 3);
  EXPECT_EQ(a.capacity, 50);

  a = ParseStorageAnswer("+CPMS: 12,50,12,50,12,50\r\n");
  EXPECT_EQ(a.count, 12);
  EXPECT_EQ(a.capacity, 50);

  // A comma in an earlier line no longer spoils the count.
  a = ParseStorageAnswer("+CMTI: \"ME\",5\r\n\r\n+CPMS: 4,30,4,30,4,30\r\n");
  EXPECT_EQ(a.count, 4);
  EXPECT_EQ(a.capacity, 30);

  // Without the space after the colon the first digit is lost.
  a = ParseStorageAnswer("+CPMS:12,50,12,50");
  EXPECT_EQ(a.count_text, "2");
  EXPECT_EQ(a.count, 2);
  a = ParseStorageAnswer("+CPMS:1,50");
  EXPECT_EQ(a.count_text, "");
  EXPECT_FALSE(a.count);

  // Capacity that does not read: 255.
  EXPECT_EQ(ParseStorageAnswer("+CPMS: 1,\r\n").capacity, 255);
  EXPECT_EQ(ParseStorageAnswer("+CPMS: 1,x5,1").capacity, 255);
  EXPECT_EQ(ParseStorageAnswer("+CPMS: 1,0,1,0").capacity, 255);
  EXPECT_EQ(ParseStorageAnswer("+CPMS: 1,-3").capacity, 255);
  auto end = ParseStorageAnswer("+CPMS: 1,20");
  EXPECT_EQ(end.count, 1);
  EXPECT_EQ(end.capacity, 20);
  EXPECT_EQ(ParseStorageAnswer("+CPMS: 1,20\r\nOK\r\n").capacity, 20);

  // Counts that do not convert.
  for (const char* bad : {"+CPMS: 3\r\n\r\nOK\r\n", "+CPMS: ", "+CPMS:", "+CPMS: x,50",
                          "+CPMS: 3 ,50", "+CPMS: \"SM\",3,50", "+CPMS:,3,50"}) {
    EXPECT_FALSE(ParseStorageAnswer(bad).count.has_value()) << bad;
  }
  EXPECT_EQ(ParseStorageAnswer("+CPMS: 0,50").count, 0);
  EXPECT_EQ(ParseStorageAnswer("+CPMS:  7,50").count, 7);
  // Only the first answer counts.
  EXPECT_EQ(ParseStorageAnswer("+CPMS: 2,10\r\n+CPMS: 5,10").count, 2);
}

}  // namespace
}  // namespace vestrel
