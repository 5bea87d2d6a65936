// The benchmark's figures: the level check must see the loop's raw level
// counts, and rates must charge every pass its time.
#include "bench/bench_report.h"

#include <gtest/gtest.h>

#include "app/statistics.h"

TEST(BenchReport, RawLevelsUndoTheSurvivalCounts) {
  const std::vector<std::vector<int32_t>> cases = {{7, 9}, {1, 13, 1, 1}, {0, 5, 0, 3, 8}, {4, 0, 0, 0}};
  for (const std::vector<int32_t>& raw : cases) {
    std::vector<int32_t> h = raw;
    int32_t n = int32_t(raw.size()) - 1;
    survival_counts(h.data(), n);
    EXPECT_EQ(raw_levels(h.data(), n), std::vector<int64_t>(raw.begin(), raw.end()));
  }
  EXPECT_DOUBLE_EQ(largest_level_difference({10, 5, 1}, {9, 7, 1}, 16), 2.0 / 16);
  EXPECT_EQ(largest_level_difference({10, 6}, {10, 6, 0}, 16), 1.0) << "a mismatch in levels is all wrong";
}

TEST(BenchReport, FiguresChargeEveryPassItsTime) {
  JobReport r{"job", 16, 0, {}};
  PassRecord fast{2, {0.003, 0, 0, 0, 0.001}, 0.004, 0.002, 400, 0};
  PassRecord slow{3, {0.003, 0, 0, 0.004, 0.009}, 0.016, 0.002, 600, 0.25};
  r.passes = {fast, fast, slow};
  JobFigures f = job_figures(&r);
  EXPECT_DOUBLE_EQ(f.pass, 0.008);
  EXPECT_DOUBLE_EQ(f.median_pass, 0.004);
  EXPECT_DOUBLE_EQ(f.stage[kStagePresent], (0.001 + 0.001 + 0.009) / 3);
  EXPECT_DOUBLE_EQ(f.loop_rate, 1400 / 0.024);
  EXPECT_DOUBLE_EQ(f.cpu_rate, 1400 / 0.006);
  EXPECT_EQ(f.level_difference, 0.25);
  EXPECT_DOUBLE_EQ(median({3, 1, 2, 10}), 2.5);
}
