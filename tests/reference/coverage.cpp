#include "coverage.h"

#include <cmath>
#include <vector>

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
