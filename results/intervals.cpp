#include "results/intervals.h"

double student_t_975(int64_t degrees) {
  static const double table[31] = {0,      12.7062, 4.3027, 3.1824, 2.7764, 2.5706, 2.4469, 2.3646,
                                   2.3060, 2.2622,  2.2281, 2.2010, 2.1788, 2.1604, 2.1448, 2.1314,
                                   2.1199, 2.1098,  2.1009, 2.0930, 2.0860, 2.0796, 2.0739, 2.0687,
                                   2.0639, 2.0595,  2.0555, 2.0518, 2.0484, 2.0452, 2.0423};
  return degrees >= 1 && degrees <= 30 ? table[degrees] : 1.96;
}

RandomInterval random_interval(const JobSettings* s, const CountSums* r, int32_t row) {
  RandomInterval v{r->passes, 0, 0, 0, 0};
  if (r->passes < 1) return v;
  v.volume = sums_mean(s, r, row);
  if (r->passes < 2) return v;
  v.error = sums_standard_error(s, r, row);
  double half = student_t_975(r->passes - 1) * v.error;
  v.low = v.volume - half;
  v.high = v.volume + half;
  return v;
}
