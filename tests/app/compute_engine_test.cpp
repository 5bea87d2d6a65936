// The compute engine through the engine interface, on a GL context without
// a window (Mesa's EGL): its counts against the independent reference
// tracker, and the turns it counts on the GPU against the CPU tracker's.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/cpu_tracker.h"
#include "app/engine.h"
#include "app/reference_tracker.h"
#include "app/run.h"
#include "gfx/frame.h"
#include "map/shader_program.h"
#include "test_dir.h"

// Counts equal the reference's apart from particles on a loss boundary (at
// most one in 10,000, and one in the smallest squares); the turns made
// equal the CPU tracker's to the same share of a particle's turns.
TEST(ComputeEngineTest, CountsAgreeWithTheReferenceAndTurnsWithTheCpuTracker) {
  std::string why;
  if (!open_headless(-1, &why)) GTEST_SKIP() << "no GL context without a window: " << why;
  load_shader_api();
  const char* const jobs[] = {
      "baseres 4\niterations 10 100\nxcollimator -0.5 0.5\nycollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n",
      "baseres 16\niterations 10 100 1000\nxrange -0.5 0.5\nxprange -0.5 0.5\nyrange -0.5 0.5\nyprange -0.5 0.5\n"
      "xcollimator -1 1\nycollimator -1 1\nD 0.5\nK 1.2 0.2\nD 0.5\nK -1.2 0 0.5\n",
      "baseres 9\niterations 50 5 500\nxcollimator -0.6 0.6\nD 1\nK 0.5 0 -2\n",
  };
  TestDir dir;
  for (const char* job : jobs) {
    RunState run{};
    write_file("input.txt", job);
    run.settings = read_job_file("input.txt");
    int32_t n = iteration_count(&run.settings);
    run.side = run.settings.baseres * run.settings.baseres;
    std::vector<int32_t> histogram(size_t(n) + 1);
    run.histogram = histogram.data();
    compute_start(&run, true);
    CpuMap map = cpu_map(&run.settings);
    double allowed = std::max(1.0, double(run.side) * run.side / 10000);
    for (int32_t sample : {1, 6}) {
      double jitter[4];
      sample_jitter(sample, jitter);
      int64_t turns_before = run.particle_turns;
      ASSERT_EQ(compute_sample(&run, jitter, false), nullptr) << job;
      std::vector<int64_t> reference = level_counts(reference_levels(&run.settings, jitter), n);
      double differ = 0;
      for (int32_t k = 0; k <= n; k++) differ += std::fabs(double(histogram[size_t(k)] - reference[size_t(k)]));
      EXPECT_LE(differ, 2 * allowed) << job << "sample " << sample;
      double turns = double(run.particle_turns - turns_before);
      double cpu = double(cpu_track_sample(&map, jitter).particle_turns);
      EXPECT_GT(turns, 0) << job;
      EXPECT_LE(std::fabs(turns - cpu), allowed * (last_iteration(&run.settings) + 1)) << job;
    }
  }
}
