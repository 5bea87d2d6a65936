#include "coverage.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "exact_volume.h"
#include "results/schedule.h"

// x focused and y defocused by the first kick, the other way by the
// second: stable in both planes, the survivors shrink towards each plane's
// ellipse over the turns. Collimator faces off the grid lines.
const char* const kFodoJob =
    "baseres 8\niterations 1 3 10 30\nxcollimator -0.62 0.55\nycollimator -0.47 0.71\n"
    "K 0.7\nD 1\nK -0.7\nD 1\n";
// Another FODO ring, with faces on lines of the 8-point grid over -1 to 1.
const char* const kGridFacesJob =
    "baseres 8\niterations 1 2 4 8 30\nxcollimator -0.75 0.5\nycollimator -0.5 0.75\n"
    "K 0.5\nD 0.5\nK -0.5\nD 0.5\n";

JobSettings job_from_text(const std::string& text) {
  JobSource source{"input.txt", text, job_hash(text), 0};
  return parse_job(&source);
}

namespace {

std::string range_line(const char* key, Range r, double scale) {
  double middle = (r.low + r.high) / 2, half = (r.high - r.low) / 2 * scale;
  return std::string(key) + " " + std::to_string(middle - half) + " " + std::to_string(middle + half) + "\n";
}

std::string ring_with_collimators(const std::string& kicks, int turns, double g) {
  char text[256];
  std::snprintf(text, sizeof text, "baseres 8\niterations %d %d\nxcollimator %.6f %.6f\nycollimator %.6f %.6f\n",
                turns, 4 * turns, -1.02 * g, 0.97 * g, -0.99 * g, 1.04 * g);
  return text + kicks;
}

}  // namespace

std::string scaled_box(const std::string& ring, double scale, bool both_planes) {
  JobSettings s = job_from_text(ring);
  std::string t = ring + range_line("xrange", s.xrange, scale) + range_line("xprange", s.xprange, scale);
  if (!both_planes) return t;
  return t + range_line("yrange", s.yrange, scale) + range_line("yprange", s.yprange, scale);
}

std::string nearly_whole_ring(const std::string& kicks, int turns, double lost) {
  double low = 0.1, high = 20;  // the losses fall as the collimators move out
  for (int k = 0; k < 60; k++) {
    double g = (low + high) / 2;
    JobSettings s = job_from_text(ring_with_collimators(kicks, turns, g));
    std::vector<double> exact = exact_row_volumes(&s);
    ((exact[0] - exact[1]) / particle_volume(&s) > lost ? low : high) = g;
  }
  return ring_with_collimators(kicks, turns, high);
}

TrackedJob* tracked_job(const std::string& text) {
  TrackedJob* t = new TrackedJob();
  t->job = job_from_text(text);
  t->lowered = lower_map(&t->job);
  cpu_map(&t->lowered, &t->map);
  return t;
}

namespace {

// NOTE: samples this small are tracked by one thread: the tracker shares a
// sample among its threads only when it would take longer than starting
// them costs.
void track_into(const TrackedJob* t, const double jitter[4], CountSums* sums) {
  CpuSample s = cpu_track_sample(&t->map, jitter);
  std::vector<int32_t> levels(s.levels.begin(), s.levels.end());
  add_pass_counts(sums, levels.data(), int32_t(levels.size()) - 1);
}

}  // namespace

void add_random_passes_from(const TrackedJob* t, uint64_t seed, CountSums* sums, int first, int last) {
  for (int j = first; j <= last; j++) {
    double jitter[4];
    random_pass_jitter(seed, j, jitter);
    track_into(t, jitter, sums);
  }
}

void add_schedule_from(const TrackedJob* t, CountSums* sums, int first, int last) {
  for (int k = first; k <= last; k++) {
    double jitter[4];
    sample_jitter(k, jitter);
    track_into(t, jitter, sums);
  }
}

bool covers(double low, double high, double exact) {
  double slack = 1e-12 * std::fabs(exact);
  return low - slack <= exact && exact <= high + slack;
}
