#include "app/random_passes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/aperture.h"
#include "app/engine.h"
#include "app/record.h"
#include "app/statistics.h"
#include "gfx/clock.h"

namespace {

const uint64_t kGolden = 0x9E3779B97F4A7C15ull;

// Output k (from 0) of the SplitMix64 stream of the seed: the stream's
// state after k + 1 steps, mixed.
uint64_t splitmix64(uint64_t seed, uint64_t k) {
  uint64_t z = seed + (k + 1) * kGolden;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void refuse_random_pass(int64_t index, const char* reason) {
  static int64_t last_refused = -1;
  if (last_refused != index)
    std::fprintf(stderr, "random pass %lld not counted: %s; it is taken again\n", static_cast<long long>(index),
                 reason);
  last_refused = index;
}

bool count_random_pass(RunState* run, int64_t index, const char* reason) {
  if (reason) {
    refuse_random_pass(index, reason);
    return false;
  }
  record_pass(run, 'r', index);  // while run->histogram holds its raw level counts
  add_random_pass(run, index);
  write_aperture_when_due(run);
  return true;
}

}  // namespace

// NOTE: pass j takes outputs 4(j - 1) .. 4(j - 1) + 3 of one SplitMix64
// stream, so all passes together are one stream of independent numbers.
// Each fraction keeps the top 24 bits: a multiple of 2^-24 below 1 is a
// float as it is, so the engines, which narrow the fractions to single
// precision, track exactly these offsets, and none rounds up to 1.
void random_pass_jitter(uint64_t seed, int64_t index, double jitter[4]) {
  uint64_t first = 4 * static_cast<uint64_t>(index - 1);
  for (int k = 0; k < 4; k++) jitter[k] = static_cast<double>(splitmix64(seed, first + k) >> 40) / 16777216.0;
}

void start_random_passes(RunState* run) {
  size_t rows = size_t(iteration_count(&run->settings)) + 1;
  RandomPasses* r = &run->random;
  r->every = std::max(run->settings.randompasses, 0);
  r->seed = run->settings.seed;
  r->passes = r->last_index = r->owed = 0;
  r->count_sum = static_cast<int64_t*>(std::calloc(rows, sizeof(int64_t)));
  r->count_sq_sum = static_cast<SquareSum*>(std::calloc(rows, sizeof(SquareSum)));
  r->aperture_due = false;
  r->aperture_unwritten = nullptr;
}

// NOTE: the pass owed is kept rather than worked out from the sample
// count: a shard takes only some samples, and a resumed run reads its
// passes back, so what is owed follows the samples this process counted.
void note_scheduled_sample(RunState* run, int64_t sample) {
  RandomPasses* r = &run->random;
  if (r->every > 0 && sample % r->every == 0) r->owed = sample / r->every;
}

bool random_pass_owed(const RunState* run) { return run->random.owed > 0; }

bool take_random_pass(RunState* run, bool picture) {
  int64_t index = run->random.owed;
  double jitter[4];
  random_pass_jitter(run->random.seed, index, jitter);
  const char* reason = engine_sample(run, jitter, picture);
  double t = PerfClock();
  bool counted = count_random_pass(run, index, reason);
  run->stage_seconds[kStageCount] += PerfClock() - t;
  return counted;
}

void add_random_pass(RunState* run, int64_t index) {
  int32_t n = iteration_count(&run->settings);
  std::vector<int32_t> survivors(run->histogram, run->histogram + n + 1);
  survival_counts(survivors.data(), n);
  RandomPasses* r = &run->random;
  for (int32_t i = 0; i <= n; i++) {
    int64_t c = row_count(survivors.data(), n, i);
    r->count_sum[i] += c;
    r->count_sq_sum[i] += static_cast<SquareSum>(c * c);
  }
  r->passes += 1;
  r->last_index = std::max(r->last_index, index);
  if (index == r->owed) r->owed = 0;
}


double student_t_975(int64_t degrees) {
  static const double table[31] = {0,      12.7062, 4.3027, 3.1824, 2.7764, 2.5706, 2.4469, 2.3646,
                                   2.3060, 2.2622,  2.2281, 2.2010, 2.1788, 2.1604, 2.1448, 2.1314,
                                   2.1199, 2.1098,  2.1009, 2.0930, 2.0860, 2.0796, 2.0739, 2.0687,
                                   2.0639, 2.0595,  2.0555, 2.0518, 2.0484, 2.0452, 2.0423};
  return degrees >= 1 && degrees <= 30 ? table[degrees] : 1.96;
}

RandomInterval random_interval(const RunState* run, int32_t row) {
  const RandomPasses* r = &run->random;
  RandomInterval v{r->passes, 0, 0, 0, 0};
  if (r->passes < 1) return v;
  v.volume = mean_volume(&run->settings, r->count_sum[row], r->passes);
  if (r->passes < 2) return v;
  v.error = volume_standard_error(&run->settings, r->count_sum[row], r->count_sq_sum[row], r->passes);
  double half = student_t_975(r->passes - 1) * v.error;
  v.low = v.volume - half;
  v.high = v.volume + half;
  return v;
}

std::string random_status_text(const RunState* run) {
  if (run->random.every <= 0) return "Random passes off";
  int32_t n = iteration_count(&run->settings);
  RandomInterval v = random_interval(run, n);
  std::string turns = format_text("%d: ", last_iteration(&run->settings));
  if (v.passes < 1) return turns + "no random pass yet";
  if (v.passes < 2) return turns + format_text("%.6lg (1 random pass)", v.volume);
  return turns + format_text("%.6lg +/- %.2lg (95%%)", v.volume, v.high - v.volume);
}
