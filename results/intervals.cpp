#include "results/intervals.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

const double kHalfLogTwoPi = 0.918938533204672741780;  // ln(2 pi) / 2
const double kNormal975 = 1.95996398454005423552;      // the standard normal's 0.975 quantile
// Binomial counts up to this are summed term by term (see binomial_cdf).
const int64_t kSummedCounts = 10000;
// Student's t from this many degrees of freedom on by its expansion in 1 / degrees.
const int64_t kExpandedDegrees = 10000;

// ln Gamma(z) less Stirling's (z - 1/2) ln z - z + ln(2 pi) / 2.
// NOTE: kept apart, so that the incomplete beta's front never subtracts
// logarithms of gamma near 1e12 (about 3e13, an absolute error of 1e-2).
double stirling_error(double z) {
  if (z < 16) return std::lgamma(z) - ((z - 0.5) * std::log(z) - z + kHalfLogTwoPi);
  double r = 1 / z, r2 = r * r;  // the series' next term is below 2e-14
  return r * (1.0 / 12 - r2 * (1.0 / 360 - r2 * (1.0 / 1260 - r2 / 1680)));
}

// x ln(x / m) + m - x (never negative), given d = x - m: by its series where
// x and m are close and the plain formula would cancel.
double deviance(double x, double m, double d) {
  if (x <= 0) return m;
  if (std::fabs(d) >= 0.1 * (x + m)) return x * std::log(x / m) - d;
  double v = d / (x + m), sum = d * v, term = 2 * x * v;
  for (int j = 1; j < 1000; j++) {
    term *= v * v;
    double next = sum + term / (2 * j + 1);
    if (next == sum) break;
    sum = next;
  }
  return sum;
}

// ln(x^a (1 - x)^b / B(a, b)) for 0 < x < 1, from the deviances of a and b
// from their shares x (a + b) and (1 - x) (a + b) and Stirling's formula:
// nothing large cancels however large a and b are. a - x (a + b) is formed
// from x, so x should be the smaller of x and 1 - x.
double log_beta_front(double a, double b, double x) {
  double s = a + b, d = a - s * x;
  double spread = deviance(a, s * x, d) + deviance(b, s * (1 - x), -d);
  return 0.5 * std::log(a * b / s) - kHalfLogTwoPi - spread + stirling_error(s) - stirling_error(a) -
         stirling_error(b);
}

double nonzero(double v) { return std::fabs(v) < 1e-300 ? 1e-300 : v; }

// One step of the modified Lentz method; returns the factor by which the
// fraction's value changes.
double lentz_step(double coefficient, double* c, double* d) {
  *d = 1 / nonzero(1 + coefficient * *d);
  *c = nonzero(1 + coefficient / *c);
  return *c * *d;
}

// The continued fraction of I_x(a, b) = front / a * fraction, which
// converges quickly for x below (a + 1) / (a + b + 2).
double beta_fraction(double a, double b, double x) {
  double c = 1, d = 1 / nonzero(1 - (a + b) * x / (a + 1)), h = d;
  for (int m = 1; m <= 10000000; m++) {
    h *= lentz_step(m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m)), &c, &d);
    double change = lentz_step(-(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1)), &c, &d);
    h *= change;
    if (std::fabs(change - 1) <= 2 * DBL_EPSILON) break;
  }
  return h;
}

// The x in [0, 1] where `below(x)` (true for x below it, false above)
// turns, to 1e-14 of x.
template <typename Below>
double bisect(Below below) {
  double low = 0, high = 1;
  while (high - low > 1e-14 * high) {
    double mid = 0.5 * (low + high);
    if (mid <= low || mid >= high) break;
    (below(mid) ? low : high) = mid;
  }
  return 0.5 * (low + high);
}

// P(X = k) = C(n, k) p^k (1 - p)^(n - k), from the beta front with a = k + 1,
// b = n - k + 1, which is (n + 1) p (1 - p) times it.
double binomial_pmf(int64_t k, int64_t n, double p) {
  double front = log_beta_front(double(k) + 1, double(n - k) + 1, p);
  return std::exp(front) / ((double(n) + 1) * p * (1 - p));
}

// The binomial's terms from the mode outwards only fall: summed from k
// down (k at or below the mode) or from k up (at or above it) until the
// rest no longer shows in the sum.
double sum_down_from(int64_t k, int64_t n, double p) {
  double term = binomial_pmf(k, n, p), sum = 0, odds = (1 - p) / p;
  for (int64_t j = k; j >= 0 && term > 1e-17 * sum; j--) {
    sum += term;
    term *= double(j) / double(n - j + 1) * odds;
  }
  return sum;
}

double sum_up_from(int64_t k, int64_t n, double p) {
  double term = binomial_pmf(k, n, p), sum = 0, odds = p / (1 - p);
  for (int64_t j = k; j <= n && term > 1e-17 * sum; j++) {
    sum += term;
    term *= double(n - j) / double(j + 1) * odds;
  }
  return sum;
}

// The p where binomial_cdf(k, n, p), which falls as p grows, is q.
double binomial_cdf_quantile(int64_t k, int64_t n, double q) {
  return bisect([&](double p) { return binomial_cdf(k, n, p) > q; });
}

// The mean and spread of a row's counts over n passes, from exact sums
// over those passes.
struct CountStats {
  double mean, spread;
};
CountStats count_stats(int64_t sum, SquareSum sq_sum, int64_t n) {
  SquareSum k = static_cast<SquareSum>(n), t = static_cast<SquareSum>(sum);
  double h = double(n), spread = n > 1 ? double(k * sq_sum - t * t) / (h * (h - 1)) : 0;
  return CountStats{double(sum) / h, std::sqrt(spread)};
}

// The losses' sums (grid - count in each pass) over the passes that lost
// some of the grid.
CountStats loss_stats(const CountSums* r, size_t row, int64_t grid) {
  SquareSum n = static_cast<SquareSum>(grid), p = static_cast<SquareSum>(r->passes);
  SquareSum t = static_cast<SquareSum>(r->sum[row]), sq = p * n * n + r->sq_sum[row] - 2 * n * t;
  return count_stats(r->passes * grid - r->sum[row], sq, r->passes - r->whole[row]);
}

struct Span {
  double low, high;
};
const Span kNoBounds{HUGE_VAL, -HUGE_VAL};  // widens nothing

// Bounds on the mean count per pass of a set that `hits` of the passes
// hit, h their counts there: the share of passes that hit it (binomial)
// times what a pass that hits it holds (Student's t; 1 at the least).
Span clump_bounds(CountStats h, int64_t hits, int64_t passes) {
  ShareBounds q = binomial_interval_95(hits, passes);
  double slack = hits > 1 ? student_t_975(hits - 1) * h.spread / std::sqrt(double(hits)) : 0;
  return Span{q.low * std::max(1.0, h.mean - slack), q.high * (h.mean + slack)};
}

// Survivors that some of the passes see and some do not, in counts.
Span survivor_clumps(const CountSums* r, size_t row) {
  int64_t hits = r->hit[row];
  if (hits == 0 || hits == r->passes) return kNoBounds;
  return clump_bounds(count_stats(r->sum[row], r->sq_sum[row], hits), hits, r->passes);
}

// The same for losses, where some passes keep the whole grid.
Span loss_clumps(const CountSums* r, size_t row, int64_t grid) {
  int64_t losing = r->passes - r->whole[row];
  if (losing == 0 || losing == r->passes) return kNoBounds;
  Span lost = clump_bounds(loss_stats(r, row, grid), losing, r->passes);
  return Span{double(grid) - lost.high, double(grid) - lost.low};
}

bool counted_alike(const CountSums* r, size_t row, int64_t c) {
  SquareSum p = static_cast<SquareSum>(r->passes), cc = static_cast<SquareSum>(c);
  return r->sum[row] == r->passes * c && r->sq_sum[row] == p * cc * cc;
}

// NOTE: the rows that every pass counted c in are one block, as each
// pass's counts only fall from row to row, so the rows around a row of
// the block are found by bisection: a job whose last thousands of turn
// counts no pass survives would otherwise take time in their square.
// The nearest row before the block that counted otherwise (0 if none did).
size_t row_before_alike(const CountSums* r, size_t row, int64_t c) {
  if (counted_alike(r, 0, c)) return 0;
  size_t low = 0, high = row;  // low not in the block, high in it
  while (high - low > 1) {
    size_t mid = low + (high - low) / 2;
    (counted_alike(r, mid, c) ? high : low) = mid;
  }
  return low;
}

// The nearest row after the block (the number of rows if none).
size_t row_after_alike(const CountSums* r, size_t row, int64_t c) {
  size_t low = row, high = r->sum.size();  // low in the block, high not (or past the last row)
  while (high - low > 1) {
    size_t mid = low + (high - low) / 2;
    (counted_alike(r, mid, c) ? low : high) = mid;
  }
  return high;
}

// Bounds on the mean count of a row that every pass counted c. Such passes
// tell nothing of how the count varies, and a count that the shifts give
// with a chance q = 1 - 0.025^(1/P) shows in none of P passes with a
// chance of 2.5%: a share q of the shifts may count otherwise, as far as
// the rows around allow. The row's set lies within the set of the nearest
// row before it that counts otherwise (the domain at the least) and holds
// the set of the nearest row after it (nothing after the last row), so a
// pass counts no more than the one before at its most and no less than
// the one after at its least: the mean lies within c + q (most - c) and
// c - q (c - least).
Span alike_bounds(const CountSums* r, size_t row) {
  int64_t p = r->passes, c = r->sum[row] / p;
  if (!counted_alike(r, row, c)) return kNoBounds;
  size_t outer = row_before_alike(r, row, c), inner = row_after_alike(r, row, c);
  double most = counted_alike(r, outer, c) ? double(c) : double(r->most[outer]);
  double least = inner < r->sum.size() ? double(r->least[inner]) : 0;
  double q = -std::expm1(std::log(0.025) / double(p));
  return Span{c - q * (c - least), c + q * (most - c)};
}

void widen(RandomInterval* v, Span counts, double particle) {
  v->low = std::min(v->low, counts.low * particle);
  v->high = std::max(v->high, counts.high * particle);
}

// NOTE: how a row's count varies from pass to pass depends on the shape of
// its set, and no one model covers them all, so its interval is the
// widest, on each side, of the four below, kept within [0, the domain]. A
// pass counts the survivors among the grid shifted by one random offset:
// its points move together, so its count is no sum of independent points,
// but its expectation is exactly V / particle volume, and the passes are
// independent.
// - Student's t on the passes' counts takes their spread as measured; it
//   falls short where few passes differ (its width is 0 where none does).
// - The exact binomial interval of the pooled count, k survivors of
//   passes x baseres^4 points, as if the points were independent: close
//   to Poisson's, a floor where a few points a pass survive and the
//   passes happen to agree.
// - A set long along grid lines and thin across them comes in clumps: a
//   pass holds none of it or many points (a ring whose y motion never
//   reaches a collimator loses whole planes of the grid at once). Where
//   some passes see none, the passes that see any are binomial
//   (clump_bounds). A set that spans less than a cell in each coordinate
//   is the smallest clump: a pass holds one of its points, with a chance
//   of V / particle volume, or none, and this interval is then exact.
// - Where every pass counts the same (none, the whole grid, or a sheet of
//   points that each pass hit alike), the passes say nothing of the
//   clumps, and the rows around bound what they may have missed
//   (alike_bounds).
// The README ("Error bars") gives the coverage measured on exact volumes.
void set_bounds_95(const JobSettings* s, const CountSums* r, int32_t row, RandomInterval* v) {
  int64_t b = s->baseres, grid = b * b * b * b;
  double particle = particle_volume(s), domain = sums_mean(s, r, 0);  // the domain row's figure, to the bit
  double half = student_t_975(r->passes - 1) * v->error;
  ShareBounds pooled = binomial_interval_95(r->sum[size_t(row)], r->passes * grid);
  v->low = std::min(v->volume - half, pooled.low * domain);
  v->high = std::max(v->volume + half, pooled.high * domain);
  widen(v, survivor_clumps(r, size_t(row)), particle);
  widen(v, loss_clumps(r, size_t(row), grid), particle);
  widen(v, alike_bounds(r, size_t(row)), particle);
  v->low = std::max(0.0, v->low);
  v->high = std::min(domain, v->high);
}

}  // namespace

double incomplete_beta(double a, double b, double x) {
  if (x <= 0) return 0;
  if (x >= 1) return 1;
  double front = std::exp(log_beta_front(a, b, x));
  if (x < (a + 1) / (a + b + 2)) return front * beta_fraction(a, b, x) / a;
  return 1 - front * beta_fraction(b, a, 1 - x) / b;
}

double beta_quantile(double a, double b, double q) {
  return bisect([&](double x) { return incomplete_beta(a, b, x) < q; });
}

// NOTE: the incomplete beta's fraction, taken for 1 - x where x lies past
// the mean, knows x only to 1e-16 absolute; for a small count of a huge n
// that is far from the relative precision of p. Small counts are summed
// term by term instead, each term exact to rounding.
double binomial_cdf(int64_t k, int64_t n, double p) {
  if (k >= n || p <= 0) return 1;
  if (p >= 1) return 0;
  if (k > kSummedCounts) return 1 - incomplete_beta(double(k) + 1, double(n - k), p);
  if (double(k) + 1 <= (double(n) + 1) * p) return sum_down_from(k, n, p);
  return 1 - sum_up_from(k + 1, n, p);
}

// NOTE: solved for the smaller of the successes and the failures, where
// binomial_cdf is precise, and mirrored.
ShareBounds binomial_interval_95(int64_t k, int64_t n) {
  if (n < 1) return ShareBounds{0, 1};
  if (2 * k > n) {
    ShareBounds other = binomial_interval_95(n - k, n);
    return ShareBounds{1 - other.high, 1 - other.low};
  }
  double low = k == 0 ? 0 : binomial_cdf_quantile(k - 1, n, 0.975);
  return ShareBounds{low, binomial_cdf_quantile(k, n, 0.025)};
}

// P(|T| <= t) = I_y(1/2, v/2) with y = t^2 / (v + t^2). From 10^4 degrees
// on, where the fraction would lose digits, the Cornish-Fisher expansion
// in 1 / v, whose next term is below 1e-15 there.
double student_t_975(int64_t degrees) {
  double v = double(degrees), z = kNormal975, z2 = z * z;
  if (degrees >= kExpandedDegrees) {
    double g1 = (z2 + 1) * z / 4, g2 = ((5 * z2 + 16) * z2 + 3) * z / 96;
    double g3 = (((3 * z2 + 19) * z2 + 17) * z2 - 15) * z / 384;
    return z + (g1 + (g2 + g3 / v) / v) / v;
  }
  double y = beta_quantile(0.5, v / 2, 0.95);
  return std::sqrt(v * y / (1 - y));
}

RandomInterval random_interval(const JobSettings* s, const CountSums* r, int32_t row) {
  RandomInterval v{r->passes, 0, 0, 0, 0};
  if (r->passes < 1) return v;
  v.volume = sums_mean(s, r, row);
  if (r->passes < 2) return v;
  v.error = sums_standard_error(s, r, row);
  v.low = v.high = v.volume;  // the domain: the whole box in every pass, exactly
  if (row > 0) set_bounds_95(s, r, row, &v);
  return v;
}

double interval_half_width(const RandomInterval* v) { return std::max(v->high - v->volume, v->volume - v->low); }
