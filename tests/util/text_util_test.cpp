#include "util/text_util.h"

#include <gtest/gtest.h>

TEST(FormatText, ExponentsGetASignAndThreeDigits) {
  EXPECT_EQ(format_text("%g", 1e20), "1e+020");
  EXPECT_EQ(format_text("%.9lg", -1e-5), "-1e-005");
  EXPECT_EQ(format_text("%+.9lg", 2.5e-300), "+2.5e-300");
  EXPECT_EQ(format_text("%g", 1e100), "1e+100");
  EXPECT_EQ(format_text("%E", 12345.0), "1.234500E+004");
  EXPECT_EQ(format_text("%.9lg", 123456789012.0), "1.23456789e+011");
  EXPECT_EQ(format_text("%g %g", 0.5, 1e-7), "0.5 1e-007");
}

TEST(FormatText, OnlyFloatingConversionsAreWidened) {
  EXPECT_EQ(format_text("1e+20 %s %d", "2e+05", 7), "1e+20 2e+05 7");
  EXPECT_EQ(format_text("%lld|%u|%x|%c|%%|%5.2f", 12345678901LL, 4000000000u, 255u, 'q', 3.14159),
            "12345678901|4000000000|ff|q|%| 3.14");
  EXPECT_EQ(format_text("%*d|%.*f", 4, 7, 1, 2.25), "   7|2.2");
  EXPECT_EQ(format_text("%g", 1.0 / 0.0), "inf");
}

TEST(FormatText, LongTextsAreNotCut) {
  std::string word(5000, 'x');
  EXPECT_EQ(format_text("<%s>", word.c_str()).size(), 5002u);
}

TEST(HeapStrings, SetAppendAndReplace) {
  char* s = nullptr;
  EXPECT_EQ(string_set(&s, "abc"), 3u);
  string_append(&s, "def");
  EXPECT_STREQ(s, "abcdef");
  EXPECT_EQ(string_replace(&s, "z"), 1u);
  EXPECT_STREQ(s, "z");
  char* fresh = nullptr;
  string_append(&fresh, "x");
  EXPECT_STREQ(fresh, "x");
}

