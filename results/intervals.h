// The random passes' figures for a result row: their mean volume, its
// standard error and its 95% interval; and the distribution functions the
// interval is made from, written here so that the program needs no
// library beyond the C++ standard library.
#pragma once
#include <cstdint>

#include "results/sums.h"

// The regularized incomplete beta function I_x(a, b), for a, b > 0 and x in
// [0, 1]. Accurate to about 1e-13 for a and b up to 1e4, to about 1e-10 at
// 1e12 (its continued fraction takes more terms, and past the mean it
// knows x to 1e-16 absolute only).
double incomplete_beta(double a, double b, double x);
// The x where I_x(a, b) = q (0 < q < 1), by bisection.
double beta_quantile(double a, double b, double q);

// P(X <= k) for X binomial, n trials of probability p (0 <= k, 1 <= n).
// Accurate where p is the smaller of p and 1 - p.
double binomial_cdf(int64_t k, int64_t n, double p);

// The exact (Clopper-Pearson) 95% interval of a binomial's probability
// from k successes in n trials: no probability outside it gives k or a
// count further out with a chance above 2.5% on its side. It is [0, h]
// with h > 0 for k = 0, and [l, 1] with l < 1 for k = n.
struct ShareBounds {
  double low, high;
};
ShareBounds binomial_interval_95(int64_t k, int64_t n);

// Student's t, 0.975 quantile, for degrees >= 1.
double student_t_975(int64_t degrees);

// volume is set from one pass on; error, low and high (the 95% interval)
// from two on.
struct RandomInterval {
  int64_t passes;
  double volume, error, low, high;
};
RandomInterval random_interval(const JobSettings* s, const CountSums* randoms, int32_t row);
// The interval's larger distance from volume: the "+/-" of a one-line
// summary, which must not read 0 where one side is cut off at a bound.
double interval_half_width(const RandomInterval* v);
