#include "results/schedule.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "reference/reference_tracker.h"

namespace {

struct Jitter {
  uint32_t i[4];
  double f[4];
};

Jitter jitter(int sample) {
  Jitter j;
  jitter_indices(sample, &j.i[0], &j.i[1], &j.i[2], &j.i[3]);
  for (int k = 0; k < 4; k++) j.f[k] = jitter_fraction(j.i[k]);
  return j;
}

}  // namespace

TEST(Schedule, FirstSeventeenSamplesAndSample256) {
  const uint32_t expected[18][4] = {{0, 0, 0, 0}, {1, 1, 1, 1}, {1, 1, 0, 0}, {0, 0, 1, 1}, {1, 0, 1, 0},
                                    {0, 1, 0, 1}, {0, 1, 1, 0}, {1, 0, 0, 1}, {1, 0, 0, 0}, {0, 1, 1, 1},
                                    {0, 1, 0, 0}, {1, 0, 1, 1}, {0, 0, 1, 0}, {1, 1, 0, 1}, {1, 1, 1, 0},
                                    {0, 0, 0, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}};
  for (int s = 1; s <= 17; s++) {
    Jitter j = jitter(s);
    for (int k = 0; k < 4; k++) EXPECT_EQ(j.i[k], expected[s][k]) << "sample " << s << " index " << k;
  }
  Jitter first = jitter(1), sixteen = jitter(16), last = jitter(256);
  for (int k = 0; k < 4; k++) {
    EXPECT_EQ(first.f[k], 0.0);
    EXPECT_EQ(sixteen.f[k], 0.75);
    EXPECT_EQ(last.i[k], 4u);
    EXPECT_EQ(last.f[k], 0.625);
  }
}

TEST(Schedule, FractionIsTheRadicalInverseWithTheLowBitInverted) {
  EXPECT_EQ(jitter_fraction(0), 0.5);
  EXPECT_EQ(jitter_fraction(1), 0.0);
  EXPECT_EQ(jitter_fraction(2), 0.75);
  EXPECT_EQ(jitter_fraction(3), 0.25);
  EXPECT_EQ(jitter_fraction(4), 0.625);
  EXPECT_EQ(jitter_fraction(6), 0.875);
}

TEST(Schedule, FirstL4SamplesFillTheSubGridButItsCentre) {
  for (int l : {2, 4}) {
    std::set<std::tuple<double, double, double, double>> seen;
    for (int s = 1; s <= l * l * l * l; s++) {
      Jitter j = jitter(s);
      seen.insert({j.f[0], j.f[1], j.f[2], j.f[3]});
    }
    EXPECT_EQ(seen.size(), size_t(l * l * l * l));
    EXPECT_EQ(seen.count({0.5, 0.5, 0.5, 0.5}), 0u);
    double replacement = l == 2 ? 0.75 : 0.625;
    EXPECT_EQ(seen.count({replacement, replacement, replacement, replacement}), 1u);
  }
}

TEST(Schedule, CheckpointsFollowFourthPowersIn64Bits) {
  EXPECT_TRUE(checkpoint_due(1, 1));
  EXPECT_FALSE(checkpoint_due(15, 2));
  EXPECT_TRUE(checkpoint_due(16, 2));
  EXPECT_TRUE(checkpoint_due(81, 3));
  EXPECT_EQ(samples_to_checkpoint(16, 3), 65);
  EXPECT_EQ(samples_to_checkpoint(1, 2), 15);
  // 216^4 passes 2^31: a 32-bit product would wrap negative and be "due".
  EXPECT_EQ(checkpoint_samples(216), 2176782336LL);
  EXPECT_FALSE(checkpoint_due(2147483647, 216));
  EXPECT_EQ(samples_to_checkpoint(2147483647, 216), 29298689LL);
  EXPECT_FALSE(checkpoint_irregular(1));
  EXPECT_FALSE(checkpoint_irregular(2));
  EXPECT_TRUE(checkpoint_irregular(3));
  EXPECT_FALSE(checkpoint_irregular(4));
  EXPECT_TRUE(checkpoint_irregular(6));
  EXPECT_FALSE(checkpoint_irregular(16));
}

// The program's jitter, coordinate by coordinate, against the schedule
// worked out afresh by the tests' reference: a swap of two coordinates or
// of two digits' bits shows at once.
TEST(Schedule, SampleJitterIsTheReferenceSchedule) {
  for (int32_t s = 1; s <= 70000; s += s < 300 ? 1 : 97) {
    double program[4], reference[4];
    sample_jitter(s, program);
    reference_sample_jitter(s, reference);
    for (int c = 0; c < 4; c++) ASSERT_EQ(program[c], reference[c]) << "sample " << s << " coordinate " << c;
  }
}

TEST(Schedule, ShardsTakeEveryNthSampleFromTheirOwn) {
  EXPECT_EQ(shard_sample_number(0, 0, 7), 7);
  EXPECT_EQ(shard_sample_number(0, 4, 1), 1);
  EXPECT_EQ(shard_sample_number(3, 4, 1), 4);
  EXPECT_EQ(shard_sample_number(3, 4, 2), 8);
  EXPECT_EQ(shard_sample_number(1, 2000000000, 2), 2000000002);  // beyond 32 bits
}
