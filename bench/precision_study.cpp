// The precision study: the same passes of a job tracked by the CPU tracker
// in single and in double precision, pixel by pixel. It reports how many
// grid points change their level, and how far each result row's volume
// moves, against the 95% interval that the run's random passes give.
//
//   precision_study [--samples N] [--random-passes R] [--baseres B] job-dir ...
//
// Scheduled samples 1 .. N (default 64) and random passes 1 .. R (default
// 32, with the job's seed) are tracked in both precisions; --baseres
// replaces the job's grid (a smaller one for a long job).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engines/cpu_tracker.h"
#include "results/intervals.h"
#include "results/schedule.h"
#include "results/sums.h"

namespace {

struct StudySettings {
  int32_t samples, random_passes, baseres;  // baseres 0: the job's own
  std::vector<std::string> jobs;
};

// One precision's passes: the sums the results are made of, and each
// pass's survivor count per result row (for the paired differences).
struct PrecisionPasses {
  CountSums schedule, random;
  std::vector<std::vector<int64_t>> rows;  // per pass (schedule, then random), per row
};

// The grid points whose level differs between the precisions.
struct Changes {
  int64_t pixels;       // over all passes
  int64_t most;         // in one pass
  int64_t survival;     // of those, the ones that survive every turn count in one precision only
  int64_t edge_single;  // level-0 survivors on the box's edge, summed over the passes
  int64_t edge_double;
};

[[noreturn]] void usage(const char* bad) {
  std::fprintf(stderr, "bad argument %s\nusage: precision_study [--samples N] [--random-passes R] [--baseres B] "
               "job-dir ...\n", bad);
  std::exit(2);
}

StudySettings read_arguments(int argc, char** argv) {
  StudySettings s{64, 32, 0, {}};
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--samples" && i + 1 < argc) s.samples = std::atoi(argv[++i]);
    else if (a == "--random-passes" && i + 1 < argc) s.random_passes = std::atoi(argv[++i]);
    else if (a == "--baseres" && i + 1 < argc) s.baseres = std::atoi(argv[++i]);
    else if (a.rfind("--", 0) == 0) usage(argv[i]);
    else s.jobs.push_back(a);
  }
  if (s.jobs.empty() || s.samples < 2 || s.random_passes < 2 || s.baseres < 0) usage("(none or too few)");
  return s;
}

// Adds one pass's raw level counts to the sums and its row counts to rows.
void add_pass(const CpuSample& c, CountSums* sums, std::vector<std::vector<int64_t>>* rows) {
  int32_t n = int32_t(c.levels.size()) - 1;
  std::vector<int32_t> h(c.levels.begin(), c.levels.end());
  add_pass_counts(sums, h.data(), n);
  survival_counts(h.data(), n);
  std::vector<int64_t> row(size_t(n) + 1);
  for (int32_t r = 0; r <= n; r++) row[size_t(r)] = row_count(h.data(), n, r);
  rows->push_back(row);
}

void compare_pixels(const std::vector<int32_t>& a, const std::vector<int32_t>& b, Changes* changes) {
  int64_t differ = 0;
  for (size_t p = 0; p < a.size(); p++) {
    differ += a[p] != b[p];
    changes->survival += (a[p] == 0) != (b[p] == 0);
  }
  changes->pixels += differ;
  if (differ > changes->most) changes->most = differ;
}

// Tracks one pass in both precisions.
void study_pass(const CpuMap maps[2], const double jitter[4], bool random, PrecisionPasses passes[2],
                Changes* changes) {
  size_t pixels = size_t(maps[0].lowered->side) * size_t(maps[0].lowered->side);
  std::vector<int32_t> levels[2] = {std::vector<int32_t>(pixels), std::vector<int32_t>(pixels)};
  for (int p = 0; p < 2; p++) {
    CpuSample c = cpu_track_sample(&maps[p], jitter, levels[p].data());
    add_pass(c, random ? &passes[p].random : &passes[p].schedule, &passes[p].rows);
    (p == 0 ? changes->edge_single : changes->edge_double) += c.edge_survivors;
  }
  compare_pixels(levels[0], levels[1], changes);
}

// The paired difference double - single of a row's volume over the
// scheduled samples: its mean and standard error.
void paired_difference(const JobSettings* s, const PrecisionPasses passes[2], int32_t samples, int32_t row,
                       double* mean, double* error) {
  double sum = 0, sq = 0;
  for (int32_t k = 0; k < samples; k++) {
    double d = double(passes[1].rows[size_t(k)][size_t(row)] - passes[0].rows[size_t(k)][size_t(row)]);
    sum += d;
    sq += d * d;
  }
  double m = sum / samples, variance = (sq - samples * m * m) / (samples - 1);
  *mean = particle_volume(s) * m;
  *error = particle_volume(s) * std::sqrt(std::max(variance, 0.0) / samples);
}

void print_rows(const JobSettings* s, const PrecisionPasses passes[2], int32_t samples) {
  std::printf("| row | turns | single: volume | double: volume | double - single (paired, ± s.e.) | "
              "random-pass 95%% interval, single | its half-width | shift / half-width |\n"
              "|---|---|---|---|---|---|---|---|\n");
  int32_t n = iteration_count(s);
  for (int32_t row = 0; row <= n; row++) {
    double single = sums_mean(s, &passes[0].schedule, row), twice = sums_mean(s, &passes[1].schedule, row);
    double shift, error;
    paired_difference(s, passes, samples, row, &shift, &error);
    RandomInterval r = random_interval(s, &passes[0].random, row);
    double half = (r.high - r.low) / 2;
    std::printf("| %d | %s | %.6g | %.6g | %+.3g ± %.2g | [%.6g, %.6g] | %.3g | %s |\n", row,
                row == 0 ? "domain" : std::to_string(iteration_at(s, row - 1)).c_str(), single, twice, shift, error,
                r.low, r.high, half, half > 0 ? std::to_string(std::fabs(shift) / half).substr(0, 6).c_str() : "-");
  }
}

void study_job(const StudySettings* settings, const std::string& dir) {
  JobSettings s = read_job_file((dir + "/input.txt").c_str());
  if (s.problem[0]) {
    std::fprintf(stderr, "%s\n", s.problem);
    std::exit(1);
  }
  if (settings->baseres > 0) s.baseres = settings->baseres;
  LoweredMap lowered = lower_map(&s);
  CpuMap maps[2];
  cpu_map(&lowered, &maps[0], kPrecisionSingle);
  cpu_map(&lowered, &maps[1], kPrecisionDouble);
  PrecisionPasses passes[2] = {{empty_sums(iteration_count(&s)), empty_sums(iteration_count(&s)), {}},
                               {empty_sums(iteration_count(&s)), empty_sums(iteration_count(&s)), {}}};
  Changes changes{0, 0, 0, 0, 0};
  double jitter[4];
  for (int32_t k = 1; k <= settings->samples; k++) {
    sample_jitter(k, jitter);
    study_pass(maps, jitter, false, passes, &changes);
  }
  for (int32_t k = 1; k <= settings->random_passes; k++) {
    random_pass_jitter(s.seed, k, jitter);
    study_pass(maps, jitter, true, passes, &changes);
  }
  int64_t all = settings->samples + settings->random_passes, pixels = int64_t(lowered.side) * lowered.side;
  std::printf("job %s, baseres %d: %d samples and %d random passes, %lld grid points each\n", dir.c_str(), s.baseres,
              settings->samples, settings->random_passes, static_cast<long long>(pixels));
  std::printf("grid points whose level differs: %.4g a pass (%.3g%%), at most %lld in one; of them %.4g a pass "
              "survive every turn count in one precision only\n",
              double(changes.pixels) / all, 100.0 * changes.pixels / (double(all) * pixels),
              static_cast<long long>(changes.most), double(changes.survival) / all);
  std::printf("survivors on the box's edge: %.4g a pass in single, %.4g in double\n\n",
              double(changes.edge_single) / all, double(changes.edge_double) / all);
  print_rows(&s, passes, settings->samples);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  StudySettings settings = read_arguments(argc, argv);
  for (const std::string& job : settings.jobs) study_job(&settings, job);
  return 0;
}
