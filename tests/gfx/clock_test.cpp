#include "gfx/clock.h"

#include <gtest/gtest.h>

#include <regex>

TEST(Clock, FirstCallChoosesTheSourceForGood) {
  double first = PerfClock();
  EXPECT_EQ(PerfClock, read_perf_counter);  // a monotonic counter exists here
  EXPECT_GT(perf_period, 0.0);
  double previous = first;
  for (int i = 0; i < 1000; i++) {
    double now = PerfClock();
    EXPECT_GE(now, previous);
    previous = now;
  }
  EXPECT_GE(read_tick_count(), 0.0);
}

TEST(Clock, DateTimeTextHasTheFixedPictures) {
  std::string text = date_time_text(time_text);
  EXPECT_TRUE(std::regex_match(text, std::regex("\\d{4}-\\S{3,}-\\d{2} \\d{2}:\\d{2}:\\d{2}"))) << text;
}
