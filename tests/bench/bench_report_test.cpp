// The benchmark's figures: the level check must see the loop's raw level
// counts, rates must charge every pass its time, and the share of the peak
// must count the flops the map really does.
#include "bench/bench_report.h"

#include <gtest/gtest.h>

#include "map/job_file.h"
#include "test_dir.h"

namespace {

PassRecord pass(double track, double present, double processor, int64_t turns, double difference) {
  return PassRecord{1, {track, 0, 0, 0, present}, track + present, processor, turns, difference};
}

}  // namespace

TEST(BenchReport, LevelDifferenceIsTheLargestShareOfTheSquare) {
  EXPECT_DOUBLE_EQ(largest_level_difference({10, 5, 1}, {9, 7, 1}, 16), 2.0 / 16);
  EXPECT_EQ(largest_level_difference({10, 6}, {10, 6, 0}, 16), 1.0) << "a mismatch in levels is all wrong";
}

TEST(BenchReport, FiguresChargeEveryPassItsTime) {
  EngineReport e{kEngineFragment, 0, {pass(0.003, 0.001, 0.008, 400, 0), pass(0.003, 0.001, 0.008, 400, 0),
                                      pass(0.003, 0.013, 0.024, 600, 0.25)}};
  EngineFigures f = engine_figures(&e);
  EXPECT_DOUBLE_EQ(f.pass, 0.008);
  EXPECT_DOUBLE_EQ(f.median_pass, 0.004);
  EXPECT_DOUBLE_EQ(f.stage[kStagePresent], 0.005);
  EXPECT_DOUBLE_EQ(f.rate, 1400 / 0.024);
  EXPECT_DOUBLE_EQ(f.track_rate, 1400 / 0.009);
  EXPECT_DOUBLE_EQ(f.cpu_rate, 1400 / 0.040);
  EXPECT_EQ(f.level_difference, 0.25);
  EXPECT_DOUBLE_EQ(median({3, 1, 2, 10}), 2.5);
}

TEST(BenchReport, PeakShareCountsTheFlopsOfTheMap) {
  TestDir dir;
  // The ring of the standard jobs: 4 + 14 + 4 + 24 flops a turn; trailing
  // zero strengths add nothing, as the tracker leaves them out.
  write_file("input.txt", "D 0.5\nK 1.2 0.2\nD 0.5\nK -1.2 0 0.5 0 0\n");
  JobSettings ring = read_job_file("input.txt");
  LoweredMap lowered = lower_map(&ring);
  CpuMap map;
  cpu_map(&lowered, &map);
  EXPECT_EQ(map_flops(&map), 46);
  EXPECT_EQ(map_kicks(&map), 2);
  EXPECT_DOUBLE_EQ(peak_share(1e9, 46, 1e11), 0.46);
  EXPECT_EQ(peak_share(1e9, 46, 0), 0) << "no peak measured";
}

TEST(BenchReport, EnginesCompareWithTheCpuEngineInTurnsOrInSamples) {
  JobReport r{"ring", 16, 46, 2, PeakFigures{1e6, 5e5, "test"}, {}, {}};
  r.engines.push_back(EngineReport{kEngineCpu, 0, {pass(0.01, 0, 0.02, 100, 0)}});
  r.engines.push_back(EngineReport{kEngineFragment, 0, {pass(0.04, 0, 0.04, 100, 0)}});
  std::string rows = table_rows(&r);
  // The CPU engine made 1e4 turns/s while tracking (46% of the peak) and
  // 5e3 per processor second (46% of that peak); the fragment engine a
  // quarter of its rate, and no share of the CPU's peak.
  EXPECT_NE(rows.find("| ring | cpu | 100 | 1e+04 | 2e+04 | 1.00 | 100.0% | 46.0% (46.0%) |"), std::string::npos) << rows;
  EXPECT_NE(rows.find("| ring | fragment | 25 | 2.5e+03 | 5e+03 | 0.25 | 100.0% | - |"), std::string::npos) << rows;
  // Particles that make no turn: the engines compare in samples.
  r.engines[0].passes[0].particle_turns = r.engines[1].passes[0].particle_turns = 0;
  EXPECT_NE(table_rows(&r).find("| fragment | 25 | - | - | 0.25 |"), std::string::npos) << table_rows(&r);
}

// In double precision an engine compares with the CPU engine in double, its
// share of the peak is of half the FP32 peak, and the precision table sets
// each engine's double speed against its single one.
TEST(BenchReport, DoublePrecisionComparesLikeWithLike) {
  JobReport r{"ring", 16, 46, 2, PeakFigures{1e6, 5e5, "test"}, {}, {}};
  r.engines.push_back(EngineReport{kEngineCpu, 0, {pass(0.01, 0, 0.02, 100, 0)}, kPrecisionSingle});
  r.engines.push_back(EngineReport{kEngineCpu, 0, {pass(0.02, 0, 0.04, 100, 0)}, kPrecisionDouble});
  r.engines.push_back(EngineReport{kEngineCompute, 0, {pass(0.04, 0, 0.04, 100, 0)}, kPrecisionSingle});
  r.engines.push_back(EngineReport{kEngineCompute, 0, {pass(0.1, 0, 0.1, 100, 0)}, kPrecisionDouble});
  std::string rows = table_rows(&r);
  // 5e3 turns/s while tracking in double, 46% of the FP64 peak of 5e5.
  EXPECT_NE(rows.find("| ring | cpu (double) | 50 | 5e+03 | 1e+04 | 1.00 | 100.0% | 46.0% (46.0%) |"),
            std::string::npos)
      << rows;
  EXPECT_NE(rows.find("| ring | compute (double) | 10 | 1e+03 | 2e+03 | 0.20 |"), std::string::npos) << rows;
  std::string precision = precision_table_rows(&r);
  EXPECT_NE(precision.find("| ring | cpu | 100 | 50 | 0.50 | 0.50 | 0.50 |\n"), std::string::npos) << precision;
  EXPECT_NE(precision.find("| ring | compute | 25 | 10 | 0.40 | 0.40 | 0.40 |\n"), std::string::npos) << precision;
  // An engine that ran in one precision only has no row.
  r.engines.pop_back();
  EXPECT_EQ(precision_table_rows(&r).find("compute"), std::string::npos);
}
