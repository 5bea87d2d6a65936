#include "coverage.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "app/random_passes.h"
#include "app/run.h"
#include "app/statistics.h"

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
  char path[] = "/tmp/veldspan-job-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) std::abort();
  close(fd);
  std::ofstream(path, std::ios::binary) << text;
  JobSettings s = read_job_file(path);
  std::remove(path);
  return s;
}

RunState* bare_run(const JobSettings* s, uint64_t seed) {
  RunState* run = static_cast<RunState*>(std::calloc(1, sizeof(RunState)));
  run->settings = *s;
  run->settings.seed = seed;
  size_t rows = size_t(iteration_count(s)) + 1;
  run->histogram = static_cast<int32_t*>(std::calloc(rows, sizeof(int32_t)));
  run->count_sum = static_cast<int64_t*>(std::calloc(rows, sizeof(int64_t)));
  run->count_sq_sum = static_cast<SquareSum*>(std::calloc(rows, sizeof(SquareSum)));
  start_random_passes(run);
  return run;
}

void free_bare_run(RunState* run) {
  for (void* p : {static_cast<void*>(run->histogram), static_cast<void*>(run->count_sum),
                  static_cast<void*>(run->count_sq_sum), static_cast<void*>(run->random.count_sum),
                  static_cast<void*>(run->random.count_sq_sum)})
    std::free(p);
  std::free(run);
}

namespace {

// NOTE: samples this small are tracked by one thread: the tracker shares a
// sample among its threads only when it would take longer than starting
// them costs.
void track_into(RunState* run, const CpuMap* map, const double jitter[4]) {
  CpuSample s = cpu_track_sample(map, jitter);
  for (size_t k = 0; k < s.levels.size(); k++) run->histogram[k] = int32_t(s.levels[k]);
}

}  // namespace

void add_random_passes_from(RunState* run, const CpuMap* map, int first, int last) {
  for (int j = first; j <= last; j++) {
    double jitter[4];
    random_pass_jitter(run->random.seed, j, jitter);
    track_into(run, map, jitter);
    add_random_pass(run, j);
  }
}

void add_schedule_from(RunState* run, const CpuMap* map, int first, int last) {
  for (int k = first; k <= last; k++) {
    double jitter[4];
    sample_jitter(k, jitter);
    track_into(run, map, jitter);
    run->samples = k;
    add_sample_counts(run);
  }
}

bool covers(double low, double high, double exact) {
  double slack = 1e-12 * std::fabs(exact);
  return low - slack <= exact && exact <= high + slack;
}
