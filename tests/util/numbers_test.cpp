#include "util/numbers.h"

#include <gtest/gtest.h>

// Whole numbers are digits alone, within their range: nothing wraps, and
// nothing that is not a number reads as 0.
TEST(Numbers, WholeNumbersWithinTheirRangeAndNothingElse) {
  int64_t v = 0;
  EXPECT_TRUE(parse_whole("0", 0, 10, &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(parse_whole("007", 0, 10, &v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(parse_whole("-5", -10, 10, &v));
  EXPECT_EQ(v, -5);
  EXPECT_TRUE(parse_whole("9223372036854775807", 0, INT64_MAX, &v));
  EXPECT_EQ(v, INT64_MAX);
  EXPECT_TRUE(parse_whole("-9223372036854775808", INT64_MIN, 0, &v));
  EXPECT_EQ(v, INT64_MIN);
  for (const char* bad : {"", "-", "+1", " 1", "1 ", "1e3", "0x10", "11", "-1", "9223372036854775808",
                          "18446744073709551616", "99999999999999999999999"})
    EXPECT_FALSE(parse_whole(bad, 0, 10, &v)) << bad;
  int32_t w = 0;
  EXPECT_FALSE(parse_whole32("4294967396", 0, INT32_MAX, &w));
  EXPECT_FALSE(parse_whole32("2147483648", 0, INT32_MAX, &w));
  EXPECT_TRUE(parse_whole32("2147483647", 0, INT32_MAX, &w));
  uint64_t u = 0;
  EXPECT_TRUE(parse_whole_u64("18446744073709551615", &u));
  EXPECT_EQ(u, UINT64_MAX);
  EXPECT_FALSE(parse_whole_u64("18446744073709551616", &u));
  EXPECT_FALSE(parse_whole_u64("-1", &u));
}
