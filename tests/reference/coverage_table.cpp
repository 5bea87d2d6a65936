// Prints the coverage figures quoted in the README: how often the 95%
// interval of the random passes, Student's t alone, and the schedule's
// mean +- 2 SE hold the exact volume of uncoupled linear jobs, from rows
// that most of the grid survives to rows that a pass survives once in a
// hundred, and rows that nearly all of it survives.
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
const char* const kRings[] = {kFodoJob, kGridFacesJob, kKickJob, kWideJob};
const std::vector<int> kPassCounts{4, 8, 16, 32, 64};

struct Tally {
  int covered = 0, total = 0;
  void add(bool c) { covered += c, total += 1; }
};

// Per pass count: the interval's coverage and Student's t's alone, and
// their widths in units of the row's exact survivors (or losses).
struct Coverage {
  std::vector<Tally> interval, student;
  std::vector<std::vector<double>> width, student_width;
};

// A family of jobs and its rows, grouped by the survivors (or losses) a
// pass holds on average: min(survivors, losses) / particle volume.
struct Family {
  std::string name;
  std::vector<std::string> jobs;
  std::vector<double> group_edges;  // a row joins the first group whose edge lies above its count
  std::vector<Coverage> groups;
  std::vector<double> low, high;  // per group: the fewest and most a pass of its rows holds
  double worst = 1;
  std::string worst_row;
};

Family boxes() {
  Family f{"their boxes 81, 256 and 1296 times as large", {}, {0.1, 0.4, 1e9}, {}, {}, {}, 1, ""};
  for (double scale : {3.0, 4.0, 6.0})
    for (const char* ring : kRings) f.jobs.push_back(scaled_box(ring, scale, true));
  return f;
}

Family nearly_whole_rings() {
  Family f{"nearly all survive", {}, {5, 1e9}, {}, {}, {}, 1, ""};
  for (const char* kicks : {"K 0.7\nD 1\nK -0.7\nD 1\n", "K 0.5\nD 0.5\nK -0.5\nD 0.5\n", "K 0.3\nD 1\nK -0.3\nD 1\n"})
    for (int turns : {1, 3})
      for (double lost : {0.2, 1.0, 4.0}) f.jobs.push_back(nearly_whole_ring(kicks, turns, lost));
  return f;
}

// NOTE: with no y collimator every y grid point survives, so a pass holds
// a survivor of the x plane's grid 64 times or not at all.
Family clumps() {
  Family f{"x collimator only: clumps of 64", {}, {1e9}, {}, {}, {}, 1, ""};
  for (double scale : {3.0, 6.0, 12.0})
    for (const char* ring : kRings) f.jobs.push_back(scaled_box(ring, scale, false) + "ycollimator -1e20 1e20\n");
  return f;
}

size_t group_of(const Family& f, double count) {
  size_t g = 0;
  while (count >= f.group_edges[g]) g++;
  return g;
}

Coverage no_coverage() {
  size_t n = kPassCounts.size();
  return Coverage{std::vector<Tally>(n), std::vector<Tally>(n), std::vector<std::vector<double>>(n),
                  std::vector<std::vector<double>>(n)};
}

// Each row's coverage over the seeds, per pass count.
std::vector<Coverage> job_coverage(const TrackedJob* t, const std::vector<double>& exact, int seeds) {
  std::vector<Coverage> rows(exact.size(), no_coverage());
  for (int seed = 1; seed <= seeds; seed++) {
    CountSums sums = empty_sums(iteration_count(&t->job));
    int taken = 0;
    for (size_t k = 0; k < kPassCounts.size(); k++) {
      add_random_passes_from(t, uint64_t(seed) * 7919, &sums, taken + 1, kPassCounts[k]);
      taken = kPassCounts[k];
      for (size_t row = 1; row < exact.size(); row++) {
        RandomInterval v = random_interval(&t->job, &sums, int32_t(row));
        double half = student_t_975(v.passes - 1) * v.error, scale = std::min(exact[row], exact[0] - exact[row]);
        rows[row].interval[k].add(covers(v.low, v.high, exact[row]));
        rows[row].student[k].add(covers(v.volume - half, v.volume + half, exact[row]));
        rows[row].width[k].push_back((v.high - v.low) / scale);
        rows[row].student_width[k].push_back(2 * half / scale);
      }
    }
  }
  return rows;
}

void add_row(Family* f, const Coverage& c, double count, const std::string& name) {
  size_t g = group_of(*f, count);
  if (f->groups.empty()) {
    size_t n = f->group_edges.size();
    f->groups.assign(n, no_coverage());
    f->low.assign(n, 1e300), f->high.assign(n, 0);
  }
  f->low[g] = std::min(f->low[g], count), f->high[g] = std::max(f->high[g], count);
  for (size_t k = 0; k < kPassCounts.size(); k++) {
    Coverage& into = f->groups[g];
    into.interval[k].covered += c.interval[k].covered, into.interval[k].total += c.interval[k].total;
    into.student[k].covered += c.student[k].covered, into.student[k].total += c.student[k].total;
    into.width[k].insert(into.width[k].end(), c.width[k].begin(), c.width[k].end());
    into.student_width[k].insert(into.student_width[k].end(), c.student_width[k].begin(), c.student_width[k].end());
    double share = double(c.interval[k].covered) / c.interval[k].total;
    if (share < f->worst) f->worst = share, f->worst_row = name + ", " + std::to_string(kPassCounts[k]) + " passes";
  }
}

// Every row of the family's jobs whose exact survivors and losses a pass
// are both above 0.
void measure(Family* f, int seeds) {
  for (size_t j = 0; j < f->jobs.size(); j++) {
    TrackedJob* t = tracked_job(f->jobs[j]);
    std::vector<double> exact = exact_row_volumes(&t->job);
    double v0 = particle_volume(&t->job);
    std::vector<Coverage> rows = job_coverage(t, exact, seeds);
    for (size_t row = 1; row < exact.size(); row++) {
      double count = std::min(exact[row], exact[0] - exact[row]) / v0;
      if (count < 1e-9) continue;
      add_row(f, rows[row], count, "job " + std::to_string(j + 1) + " row " + std::to_string(row));
    }
    delete t;
  }
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void print_family(const Family& f) {
  for (size_t g = 0; g < f.groups.size(); g++) {
    if (f.groups[g].interval[0].total == 0) continue;
    std::printf("| %s | %.2g to %.2g | %d |", f.name.c_str(), f.low[g], f.high[g], f.groups[g].interval[0].total);
    for (size_t k = 0; k < kPassCounts.size(); k++) {
      const Tally &a = f.groups[g].interval[k], &b = f.groups[g].student[k];
      std::printf(" %.1f%% (%.1f%%) |", 100.0 * a.covered / a.total, 100.0 * b.covered / b.total);
    }
    std::printf("\n");
  }
}

void print_widths(const Family& f) {
  for (size_t g = 0; g < f.groups.size(); g++) {
    if (f.groups[g].interval[0].total == 0) continue;
    std::printf("| %s | %.2g to %.2g |", f.name.c_str(), f.low[g], f.high[g]);
    for (size_t k = 0; k < kPassCounts.size(); k++)
      std::printf(" %.2g (%.2g) |", median(f.groups[g].width[k]), median(f.groups[g].student_width[k]));
    std::printf("\n");
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

void print_schedule() {
  std::vector<int> blocks{16, 81, 256, 4096};
  std::vector<Tally> schedule(blocks.size());
  std::vector<std::vector<double>> ratios(blocks.size());
  for (const char* text : kRings) {
    TrackedJob* t = tracked_job(text);
    schedule_coverage(t, exact_row_volumes(&t->job), blocks, &schedule, &ratios);
    delete t;
  }
  std::printf("\n| schedule block | mean +- 2 SE covers | median / worst error in SEs |\n|---|---|---|\n");
  for (size_t b = 0; b < blocks.size(); b++)
    std::printf("| %d samples | %d of %d | %.1f / %.1f |\n", blocks[b], schedule[b].covered, schedule[b].total,
                median(ratios[b]), *std::max_element(ratios[b].begin(), ratios[b].end()));
}

}  // namespace

int main(int argc, char** argv) {
  int seeds = argc > 1 ? std::atoi(argv[1]) : 400;
  Family rings{"the four rings", {kRings, kRings + 4}, {1e9}, {}, {}, {}, 1, ""};
  std::vector<Family> families{rings, boxes(), nearly_whole_rings(), clumps()};
  std::printf("%d seeds; each cell: the 95%% interval covers (Student's t alone)\n\n", seeds);
  std::printf("| jobs | survivors (or losses) a pass | rows x seeds |");
  for (int passes : kPassCounts) std::printf(" %d passes |", passes);
  std::printf("\n|---|---|---|---|---|---|---|---|\n");
  for (Family& f : families) {
    measure(&f, seeds);
    print_family(f);
  }
  std::printf("\nmedian width of the interval (of Student's t alone) / the row's exact survivors (or losses)\n\n");
  std::printf("| jobs | survivors (or losses) a pass |");
  for (int passes : kPassCounts) std::printf(" %d passes |", passes);
  std::printf("\n|---|---|---|---|---|---|---|\n");
  for (const Family& f : families) print_widths(f);
  std::printf("\n");
  for (const Family& f : families)
    std::printf("worst row of %s: %.1f%% (%s)\n", f.name.c_str(), 100 * f.worst, f.worst_row.c_str());
  print_schedule();
  return 0;
}
