#include "app/statistics.h"

#include <cmath>
#include <cstring>

#include "app/aperture.h"
#include "app/schedule.h"

namespace {

int digit(unsigned char byte, int q) { return (byte * (q - 1) + 128) / 255; }

uint64_t load_8_bytes(const unsigned char* at) {
  uint64_t v;
  std::memcpy(&v, at, 8);
  return v;
}

// The pixel after the run of pixels that have the colour of pixel i. A
// pixel belongs to the run when each of its bytes equals the byte one pixel
// (three bytes) before it, so the run is scanned eight bytes at a time and
// ends at the pixel holding the first byte that differs.
size_t colour_run_end(const unsigned char* pixels, size_t i, size_t count) {
  size_t byte = 3 * i + 3, bytes = 3 * count;
  while (byte + 8 <= bytes && load_8_bytes(pixels + byte) == load_8_bytes(pixels + byte - 3)) byte += 8;
  while (byte < bytes && pixels[byte] == pixels[byte - 3]) byte++;
  return byte / 3;
}

}  // namespace

std::string row_label(const RunState* run, int32_t row) {
  return row == 0 ? std::string("Domain") : format_text("%d", iteration_at(&run->settings, row - 1));
}

int decode_level(unsigned char red, unsigned char green, unsigned char blue, int q) {
  return (digit(red, q) * q + digit(green, q)) * q + digit(blue, q);
}

void fill_decode_table(int q, DecodeTable* t) {
  for (int byte = 0; byte < 256; byte++) {
    int d = digit(static_cast<unsigned char>(byte), q);
    t->weight[0][byte] = d * q * q;
    t->weight[1][byte] = d * q;
    t->weight[2][byte] = d;
  }
}

// NOTE: neighbouring pixels mostly share their loss class (the grid's fine
// coordinates run along a row), so a run of equal colours is decoded and
// counted once: the count then streams through the pixels instead of
// waiting on one histogram counter after another. The table is built anew
// for every count: its 768 entries cost next to nothing beside a square
// of pixels, and a table kept in the run could go stale.
int64_t count_levels(RunState* run) {
  int32_t n = iteration_count(&run->settings);
  DecodeTable table;
  fill_decode_table(run->settings.colourlevels, &table);
  std::memset(run->histogram, 0, sizeof(int32_t) * (size_t(n) + 1));
  int64_t out_of_range = 0;
  size_t pixels = size_t(run->side) * size_t(run->side);
  for (size_t i = 0, end; i < pixels; i = end) {
    end = colour_run_end(run->pixels, i, pixels);
    const unsigned char* p = run->pixels + 3 * i;
    int level = table_level(&table, p[0], p[1], p[2]);
    if (level <= n) run->histogram[level] += static_cast<int32_t>(end - i);
    else out_of_range += static_cast<int64_t>(end - i);
  }
  return out_of_range;
}

void survival_counts(int32_t* h, int32_t n) {
  h[n] += h[0];
  for (int32_t k = n - 1; k >= 1; k--) h[k] += h[k + 1];
}

// NOTE: a sample's volume is the particle volume times an integer count,
// so the sums are kept as integers: nothing cancels when the spread is
// formed, the domain row's error comes out exactly 0, and sums made by
// different processes add up exactly.
void add_sample_counts(RunState* run) {
  int32_t n = iteration_count(&run->settings);
  survival_counts(run->histogram, n);
  for (int32_t i = 0; i <= n; i++) {
    int64_t c = row_count(run->histogram, n, i);
    run->count_sum[i] += c;
    run->count_sq_sum[i] += static_cast<SquareSum>(c * c);
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

double mean_volume(const JobSettings* s, int64_t sum, int64_t count) {
  return particle_volume(s) * static_cast<double>(sum) / static_cast<double>(count);
}

// N * S2 - S1^2 is N^2 times the spread of the counts, exact in 128 bits
// and never negative; only the last steps round.
double volume_standard_error(const JobSettings* s, int64_t sum, SquareSum sq_sum, int64_t count) {
  SquareSum n = static_cast<SquareSum>(count), s1 = static_cast<SquareSum>(sum);
  double spread = static_cast<double>(n * sq_sum - s1 * s1), N = static_cast<double>(count);
  return particle_volume(s) * std::sqrt(spread / (N * N * (N - 1)));
}

double row_mean(const RunState* run, int32_t row) {
  return mean_volume(&run->settings, run->count_sum[row], run->samples);
}

double row_standard_error(const RunState* run, int32_t row) {
  return volume_standard_error(&run->settings, run->count_sum[row], run->count_sq_sum[row], run->samples);
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

bool count_into_results(RunState* run) {
  add_sample_counts(run);
  if (!checkpoint_due(run->samples, run->next_checkpoint)) return false;
  write_result_block(run);
  run->next_checkpoint += 1;
  aperture_checkpoint(run);
  return true;
}
