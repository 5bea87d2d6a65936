// The random passes' figures for a result row: their mean volume, its
// standard error and its 95% interval.
#pragma once
#include <cstdint>

#include "results/sums.h"

// Student's t, 0.975 quantile: by table up to 30 degrees of freedom, 1.96
// beyond.
double student_t_975(int64_t degrees);

// volume is set from one pass on; error, low and high (the 95% interval)
// from two on.
struct RandomInterval {
  int64_t passes;
  double volume, error, low, high;
};
RandomInterval random_interval(const JobSettings* s, const CountSums* randoms, int32_t row);
