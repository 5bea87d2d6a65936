// Prints the coverage figures quoted in the README: how often the 95%
// interval of the random passes, and the schedule's mean +- 2 SE, hold the
// exact volume of uncoupled linear jobs.
//
//   build/tests/coverage_table [SEEDS]     (default 400 seeds)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "coverage.h"
#include "exact_volume.h"
#include "results/intervals.h"

namespace {

// Two more rings beside the tests' two: a drift and one kick (unstable in
// y), and a FODO ring with wide ranges and faces near grid lines.
const char* const kKickJob =
    "baseres 8\niterations 1 2 3 5\nxcollimator -0.8 0.6\nycollimator -0.6 0.75\nD 0.8\nK 0.9\n";
const char* const kWideJob =
    "baseres 8\nxrange -2 2\nxprange -2 2\nyrange -2 2\nyprange -2 2\niterations 1 2 8 40\n"
    "xcollimator -1 1.01\nycollimator -1.49 1.5\nK 0.4\nD 1.5\nK -0.4\nD 1.5\n";

struct Tally {
  int covered = 0, total = 0;
  void add(bool c) { covered += c, total += 1; }
};

// Random passes: per pass count, rows x seeds covered.
void random_coverage(const TrackedJob* t, const std::vector<double>& exact, int seeds, const std::vector<int>& counts,
                     std::vector<Tally>* tallies) {
  for (int seed = 1; seed <= seeds; seed++) {
    CountSums sums = empty_sums(iteration_count(&t->job));
    int taken = 0;
    for (size_t c = 0; c < counts.size(); c++) {
      add_random_passes_from(t, uint64_t(seed) * 7919, &sums, taken + 1, counts[c]);
      taken = counts[c];
      for (int32_t row = 1; row < int32_t(exact.size()); row++) {
        RandomInterval v = random_interval(&t->job, &sums, row);
        (*tallies)[c].add(covers(v.low, v.high, exact[size_t(row)]));
      }
    }
  }
}

// The schedule: per block, rows covered by mean +- 2 SE, and the errors
// in units of the reported SE.
void schedule_coverage(const TrackedJob* t, const std::vector<double>& exact, const std::vector<int>& blocks,
                       std::vector<Tally>* tallies, std::vector<std::vector<double>>* ratios) {
  CountSums sums = empty_sums(iteration_count(&t->job));
  int taken = 0;
  for (size_t b = 0; b < blocks.size(); b++) {
    add_schedule_from(t, &sums, taken + 1, blocks[b]);
    taken = blocks[b];
    for (int32_t row = 1; row < int32_t(exact.size()); row++) {
      double mean = sums_mean(&t->job, &sums, row), se = sums_standard_error(&t->job, &sums, row);
      double e = exact[size_t(row)];
      (*tallies)[b].add(covers(mean - 2 * se, mean + 2 * se, e));
      (*ratios)[b].push_back(se > 0 ? std::fabs(mean - e) / se : mean == e ? 0 : 1e9);
    }
  }
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int seeds = argc > 1 ? std::atoi(argv[1]) : 400;
  const char* jobs[] = {kFodoJob, kGridFacesJob, kKickJob, kWideJob};
  std::vector<int> counts{4, 8, 16, 32, 64}, blocks{16, 81, 256, 4096};
  std::vector<Tally> random(counts.size()), schedule(blocks.size());
  std::vector<std::vector<double>> ratios(blocks.size());
  int rows = 0;
  for (const char* text : jobs) {
    TrackedJob* t = tracked_job(text);
    std::vector<double> exact = exact_row_volumes(&t->job);
    rows += int(exact.size()) - 1;
    random_coverage(t, exact, seeds, counts, &random);
    schedule_coverage(t, exact, blocks, &schedule, &ratios);
  }
  std::printf("%d jobs, %d rows, %d seeds\n\n| random passes | 95%% interval covers |\n|---|---|\n", 4, rows, seeds);
  for (size_t c = 0; c < counts.size(); c++)
    std::printf("| %d | %.1f%% (%d of %d) |\n", counts[c], 100.0 * random[c].covered / random[c].total,
                random[c].covered, random[c].total);
  std::printf("\n| schedule block | mean +- 2 SE covers | median / worst error in SEs |\n|---|---|---|\n");
  for (size_t b = 0; b < blocks.size(); b++)
    std::printf("| %d samples | %d of %d | %.1f / %.1f |\n", blocks[b], schedule[b].covered, schedule[b].total,
                median(ratios[b]), *std::max_element(ratios[b].begin(), ratios[b].end()));
  return 0;
}
