// The lowered map: the constants the engines track, each the float that
// a GL compiler makes of the shader's printed text.
#include "map/lowered_map.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "util/text_util.h"

namespace {

JobSettings job(const std::string& text) {
  JobSource source{"input.txt", text, job_hash(text), 0};
  return parse_job(&source);
}

// A double whose own nearest float is not the float of its 9-digit text.
double double_rounded_value() {
  std::mt19937_64 random(5);
  std::uniform_real_distribution<double> uniform(-3, 3);
  for (;;) {
    double d = uniform(random);
    if (float(d) != std::strtof(format_text("%.9lg", d).c_str(), nullptr)) return d;
  }
}

}  // namespace

TEST(LoweredMap, EveryConstantIsTheFloatOfItsPrintedText) {
  double d = double_rounded_value();
  std::string text = format_text("%.17g", d);
  JobSettings s = job("xrange " + text + " 4\nxcollimator " + text + " 5\nD " + text + "\nK 0 " + text + "\n");
  LoweredMap m = lower_map(&s);
  float printed = std::strtof(format_text("%.9lg", d).c_str(), nullptr);
  EXPECT_NE(float(d), printed);
  EXPECT_EQ(m.low[0].written, d);
  EXPECT_EQ(m.low[0].value, printed);
  EXPECT_EQ(m.span[0].value, std::strtof(format_text("%.9lg", 4 - d).c_str(), nullptr));
  EXPECT_EQ(m.limit[0].value, printed);
  ASSERT_EQ(m.ops.size(), 2u);
  EXPECT_EQ(m.value[size_t(m.ops[0].first)], printed);
  EXPECT_EQ(m.written[size_t(m.ops[1].first) + 1], d / 2);  // k_2 / 2!
  EXPECT_EQ(m.value[size_t(m.ops[1].first) + 1], std::strtof(format_text("%.9lg", d / 2).c_str(), nullptr));
}

TEST(LoweredMap, KicksKeepTheirOrdersAndKnowTheirLastNonZeroOne) {
  JobSettings s = job("K 0.5 0 -6 0 0\nK\nK 0 0\nD 2\n");
  LoweredMap m = lower_map(&s);
  ASSERT_EQ(m.ops.size(), 4u);
  EXPECT_EQ(m.ops[0].kind, kLoweredKick);
  EXPECT_EQ(m.ops[0].count, 5);
  EXPECT_EQ(m.ops[0].top, 3);
  EXPECT_EQ(m.value[size_t(m.ops[0].first) + 2], -1.0f);  // -6 / 3!
  EXPECT_EQ(m.ops[1].count, 0);
  EXPECT_EQ(m.ops[2].top, 0);
  EXPECT_EQ(m.ops[3].kind, kLoweredDrift);
  EXPECT_EQ(m.value[size_t(m.ops[3].first)], 2.0f);
}

// A limit at +-1e20 is none, and left out where the other plane has a
// finite collimator; with no finite collimator anywhere every limit is
// tested, so that particles running off to infinity are still lost.
TEST(LoweredMap, CollimatorLimitsTestedOnlyWhereTheyMeanSomething) {
  JobSettings empty = job("");
  LoweredMap none = lower_map(&empty);
  for (bool t : none.tested) EXPECT_TRUE(t);
  JobSettings one_sided = job("xcollimator -1e20 0.5\nycollimator -1 1\n");
  LoweredMap m = lower_map(&one_sided);
  EXPECT_FALSE(m.tested[0]);
  EXPECT_TRUE(m.tested[1] && m.tested[2] && m.tested[3]);
  JobSettings x_only = job("xcollimator -2 2\n");
  LoweredMap x = lower_map(&x_only);
  EXPECT_TRUE(x.tested[0] && x.tested[1]);
  EXPECT_FALSE(x.tested[2] || x.tested[3]);
}

TEST(LoweredMap, LevelOfTurnsAndTheGridTables) {
  JobSettings s = job("baseres 2\niterations 10 100 1000\n");
  LoweredMap m = lower_map(&s);
  EXPECT_EQ(lowered_level(&m, 0), 1);
  EXPECT_EQ(lowered_level(&m, 10), 1);
  EXPECT_EQ(lowered_level(&m, 11), 2);
  EXPECT_EQ(lowered_level(&m, 1000), 3);
  EXPECT_EQ(lowered_level(&m, 1001), 0);
  EXPECT_FALSE(m.int_counter);
  // Columns 0 .. 3 of a 4-pixel side: coarse 0, 0, 1/2, 1/2 and fine 0, 1/2, 0, 1/2.
  EXPECT_EQ(m.coarse, (std::vector<float>{0, 0, 0.5f, 0.5f}));
  EXPECT_EQ(m.fine, (std::vector<float>{0, 0.5f, 0, 0.5f}));
}

// The double tables are exact: a multiple of 1 / baseres with the column's
// block for the coarse index and its place in the block for the fine one,
// where the float tables are what a texture coordinate gives.
TEST(LoweredMap, DoubleGridTablesAreExactAndEdgeLinesAreTheOutermost) {
  JobSettings s = job("baseres 3\n");
  LoweredMap m = lower_map(&s);
  EXPECT_EQ(m.coarse_double, (std::vector<double>{0, 0, 0, 1 / 3.0, 1 / 3.0, 1 / 3.0, 2 / 3.0, 2 / 3.0, 2 / 3.0}));
  EXPECT_EQ(m.fine_double, (std::vector<double>{0, 1 / 3.0, 2 / 3.0, 0, 1 / 3.0, 2 / 3.0, 0, 1 / 3.0, 2 / 3.0}));
  // Of a 3-point grid only the middle point of the middle block is inside.
  for (int c = 0; c < 9; c++) EXPECT_EQ(edge_line(3, c), c != 4) << c;
  for (int c : {0, 4, 5, 9, 14, 15, 19, 20, 21, 24}) EXPECT_TRUE(edge_line(5, c)) << c;
  for (int c : {6, 7, 8, 11, 12, 13, 16, 18}) EXPECT_FALSE(edge_line(5, c)) << c;
  EXPECT_TRUE(edge_line(1, 0));
}
