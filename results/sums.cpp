#include "results/sums.h"

#include <algorithm>
#include <cmath>
#include <vector>

CountSums empty_sums(int32_t turn_counts) {
  size_t rows = size_t(turn_counts) + 1;
  std::vector<int64_t> zeros(rows, 0);
  return CountSums{0, zeros, std::vector<SquareSum>(rows, 0), zeros, zeros, zeros, std::vector<int64_t>(rows, INT64_MAX)};
}

void survival_counts(int32_t* h, int32_t n) {
  h[n] += h[0];
  for (int32_t k = n - 1; k >= 1; k--) h[k] += h[k + 1];
}

// NOTE: a pass's volume is the particle volume times an integer count, so
// the sums are kept as integers: nothing cancels when the spread is formed,
// the domain row's error comes out exactly 0, and sums made by different
// processes add up exactly. The passes that hit a row at all (or kept it
// whole), and its largest and smallest counts, tell the random passes'
// intervals whether its survivors (or its losses) come in clumps, and how
// large a clump can be.
void add_pass_counts(CountSums* sums, const int32_t* levels, int32_t n) {
  std::vector<int32_t> survivors(levels, levels + n + 1);
  survival_counts(survivors.data(), n);
  int64_t grid = row_count(survivors.data(), n, 0);
  for (int32_t i = 0; i <= n; i++) {
    int64_t c = row_count(survivors.data(), n, i);
    sums->sum[size_t(i)] += c;
    sums->sq_sum[size_t(i)] += static_cast<SquareSum>(c * c);
    sums->hit[size_t(i)] += c > 0;
    sums->whole[size_t(i)] += c == grid;
    sums->most[size_t(i)] = std::max(sums->most[size_t(i)], c);
    sums->least[size_t(i)] = std::min(sums->least[size_t(i)], c);
  }
  sums->passes += 1;
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

double sums_mean(const JobSettings* s, const CountSums* sums, int32_t row) {
  return mean_volume(s, sums->sum[size_t(row)], sums->passes);
}

double sums_standard_error(const JobSettings* s, const CountSums* sums, int32_t row) {
  return volume_standard_error(s, sums->sum[size_t(row)], sums->sq_sum[size_t(row)], sums->passes);
}
