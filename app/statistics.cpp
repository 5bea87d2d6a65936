#include "app/statistics.h"

#include <cmath>
#include <cstring>

#include "app/schedule.h"

namespace {

int digit(unsigned char byte, int q) { return (byte * (q - 1) + 128) / 255; }

std::string row_label(const RunState* run, int32_t row) {
  return row == 0 ? std::string("Domain") : format_text("%d", iteration_at(&run->settings, row - 1));
}

}  // namespace

int decode_level(unsigned char red, unsigned char green, unsigned char blue, int q) {
  return (digit(red, q) * q + digit(green, q)) * q + digit(blue, q);
}

int64_t count_levels(RunState* run) {
  int32_t n = iteration_count(&run->settings);
  int q = run->settings.colourlevels;
  std::memset(run->histogram, 0, sizeof(int32_t) * (size_t(n) + 1));
  int64_t out_of_range = 0;
  size_t pixels = size_t(run->side) * size_t(run->side);
  const unsigned char* p = run->pixels;
  for (size_t i = 0; i < pixels; i++, p += 3) {
    int level = decode_level(p[0], p[1], p[2], q);
    if (level <= n) run->histogram[level]++;
    else out_of_range++;
  }
  return out_of_range;
}

void survival_counts(int32_t* h, int32_t n) {
  h[n] += h[0];
  for (int32_t k = n - 1; k >= 1; k--) h[k] += h[k + 1];
}

void add_sample_volumes(RunState* run) {
  int32_t n = iteration_count(&run->settings);
  survival_counts(run->histogram, n);
  double v0 = particle_volume(&run->settings);
  for (int32_t i = 0; i <= n; i++) {
    double v = v0 * run->histogram[(i + 1) % (n + 1)];
    run->volume_sum[i] += v;
    run->volume_sq_sum[i] += v * v;
  }
}

double range_volume(const JobSettings* s) {
  return (s->xrange.high - s->xrange.low) * (s->xprange.high - s->xprange.low) *
         (s->yrange.high - s->yrange.low) * (s->yprange.high - s->yprange.low);
}

double particle_volume(const JobSettings* s) {
  double b = s->baseres;
  return range_volume(s) / ((b * b) * (b * b));
}

double row_mean(const RunState* run, int32_t row) { return run->volume_sum[row] / run->samples; }

double row_standard_error(const RunState* run, int32_t row) {
  double n = run->samples, s1 = run->volume_sum[row], s2 = run->volume_sq_sum[row];
  double spread = s2 - s1 * s1 / n;
  if (spread < 0) spread = 0;  // rounding; a NaN stays visible
  return std::sqrt(spread / (n * (n - 1)));
}

std::string result_block_text(const RunState* run, int32_t checkpoint) {
  bool errors = run->samples >= 2;
  std::string t = format_text("%lld^4 %sgrid\nIters,4D_Vol", static_cast<long long>(run->settings.baseres) * checkpoint,
                              checkpoint_irregular(checkpoint) ? "irregular " : "");
  t += errors ? ",+/-\n" : "\n";
  for (int32_t i = 0; i <= iteration_count(&run->settings); i++) {
    t += row_label(run, i) + format_text(",%.9lg", row_mean(run, i));
    if (errors) t += format_text(",%.9lg", row_standard_error(run, i));
    t += "\n";
  }
  return t + "\n";
}

void write_result_block(RunState* run) {
  std::string block = result_block_text(run, run->next_checkpoint);
  write_results_text(run, block.c_str());
}
