// The CPU tracker against the independent reference tracker: the same
// single-precision operations in the same order, none of them fused (both
// are built without floating-point contraction), so every pixel's level
// must agree exactly, for every build of the tracker's kernel this
// processor can run.
#include "app/cpu_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/reference_tracker.h"
#include "app/schedule.h"
#include "test_dir.h"

namespace {

JobSettings job(const std::string& text) {
  TestDir dir;
  write_file("input.txt", text);
  return read_job_file("input.txt");
}

std::vector<double> sample_jitter(int32_t sample) {
  uint32_t i[4];
  jitter_indices(sample, &i[0], &i[1], &i[2], &i[3]);
  return {jitter_fraction(i[0]), jitter_fraction(i[1]), jitter_fraction(i[2]), jitter_fraction(i[3])};
}

void expect_reference_levels(const JobSettings* s, int32_t sample) {
  std::vector<double> jitter = sample_jitter(sample);
  int64_t turns;
  std::vector<int> reference = reference_levels(s, jitter.data(), &turns);
  std::vector<int64_t> counts = level_counts(reference, iteration_count(s));
  CpuMap map = cpu_map(s);
  for (int k = kCpuKernelBaseline; k < kCpuKernels; k++) {
    map.kernel = static_cast<CpuKernel>(k);
    if (!cpu_kernel_available(map.kernel)) continue;
    std::vector<int32_t> pixels(reference.size(), -1);
    CpuSample cpu = cpu_track_sample(&map, jitter.data(), pixels.data());
    EXPECT_EQ(cpu.levels, counts) << cpu_kernel_name(map.kernel) << " kernel, sample " << sample;
    EXPECT_EQ(cpu.particle_turns, turns) << cpu_kernel_name(map.kernel) << " kernel, sample " << sample;
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), reference.begin()))
        << cpu_kernel_name(map.kernel) << " kernel, sample " << sample;
  }
}

const char* const kRing =
    "iterations 10 100 1000\nxrange -0.5 0.5\nxprange -0.5 0.5\nyrange -0.5 0.5\nyprange -0.5 0.5\n"
    "xcollimator -1 1\nycollimator -1 1\nD 0.5\nK 1.2 0.2\nD 0.5\nK -1.2 0 0.5\n";

}  // namespace

TEST(CpuTracker, WorkedExampleAndRingAgreeWithTheReference) {
  JobSettings worked =
      job("baseres 8\niterations 10 100\nxcollimator -0.5 0.5\nycollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n");
  for (int32_t sample : {1, 5, 16}) expect_reference_levels(&worked, sample);
  // 7^4 particles: more than one thread's claim, so the threads share the
  // samples, and not a whole number of vectors, of queued chunks or of
  // vectors to a row of the square.
  JobSettings ring = job(std::string("baseres 7\n") + kRing);
  for (int32_t sample : {1, 7}) expect_reference_levels(&ring, sample);
}

TEST(CpuTracker, HighOrdersOneSidedAndAbsentCollimators) {
  // Order 10 takes the tracker's general kick; zero strengths in between.
  JobSettings high = job("baseres 5\niterations 5 50\nxcollimator -1 1\nycollimator -1 1\nD 1\n"
                         "K 0.3 0 0 0 0 0 0 0 0 -40\n");
  expect_reference_levels(&high, 3);
  // Only the x high limit and both y limits are tested: with y held at 0,
  // x runs off below -1e20 untested, and the particle is lost a turn or
  // two later, when y turns NaN. One threshold per turn sees the difference.
  JobSettings one_sided = job("baseres 5\niterations 1 2 3 4 5 6 7 8 9 10\nxrange -3 0.3\nyrange 0 0\n"
                              "yprange 0 0\nxcollimator -1e20 0.3\nycollimator -0.5 0.5\nD 1\nK 0 2\n");
  expect_reference_levels(&one_sided, 2);
  // No collimators: particles run off to infinity and NaN, which the
  // +-1e20 tests still catch.
  JobSettings open = job("baseres 5\niterations 10 100\nD 1\nK 0.5 0 -2 0 3\n");
  expect_reference_levels(&open, 4);
}

TEST(CpuTracker, ParticleTurnsCountEveryTurnMade) {
  JobSettings outside = job("baseres 4\niterations 10 100\nxcollimator 2 3\nycollimator 2 3\nD 1\n");
  CpuMap map = cpu_map(&outside);
  std::vector<double> jitter = sample_jitter(1);
  CpuSample lost = cpu_track_sample(&map, jitter.data());
  EXPECT_EQ(lost.particle_turns, 0);
  EXPECT_EQ(lost.levels, (std::vector<int64_t>{0, 256, 0}));
  // Nothing is ever lost: every particle makes the last turn count plus one.
  JobSettings still = job("baseres 4\niterations 10 100\n");
  map = cpu_map(&still);
  CpuSample kept = cpu_track_sample(&map, jitter.data());
  EXPECT_EQ(kept.particle_turns, 256 * 101);
  EXPECT_EQ(kept.levels, (std::vector<int64_t>{256, 0, 0}));
  EXPECT_EQ(cpu_level(&map, 10), 1);
  EXPECT_EQ(cpu_level(&map, 11), 2);
  EXPECT_EQ(cpu_level(&map, 101), 0);
}
