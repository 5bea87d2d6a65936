// The exact sums of the passes' survivor counts, per result row, from
// which every mean and error of the results is made. Scheduled samples and
// random passes are summed alike, each kind in sums of its own.
//
// Result row 0 is the domain (every grid point), row i the grid points
// that passed the first i turn counts, row n those that passed them all.
#pragma once
#include <cstdint>
#include <vector>

#include "map/job_file.h"

// Exact per-row sums of squared survivor counts: a count reaches 2^20 and
// its square 2^40, so a few million samples already pass 64 bits.
typedef unsigned __int128 SquareSum;

struct CountSums {
  int64_t passes;               // passes added
  std::vector<int64_t> sum;     // per row: the survivor counts' sum
  std::vector<SquareSum> sq_sum;  // per row: the sum of their squares
  // The random passes' intervals need these too; a record's folded
  // samples keep none of them, as nothing is made of the samples' ones.
  std::vector<int64_t> hit;     // per row: the passes that counted a survivor
  std::vector<int64_t> whole;   // per row: the passes that kept the whole grid
  std::vector<int64_t> most;    // per row: the largest count of a pass (0 before the first)
  std::vector<int64_t> least;   // per row: the smallest (INT64_MAX before the first)
  // Survivors of the last turn count that started on the box's outermost
  // layer of grid points, over the passes: the box cuts the stable region.
  int64_t edge = 0;
};

CountSums empty_sums(int32_t turn_counts);
// Adds a pass given by its raw level counts (levels 0 .. n).
void add_pass_counts(CountSums* sums, const int32_t* levels, int32_t n);

// Turns raw level counts into survival counts: afterwards entry k >= 1
// holds the pixels of level 0 or of a level >= k.
void survival_counts(int32_t* histogram, int32_t n);
// The survivor count of result row i in survival counts h: row 0 the
// domain, row i < n the pixels past the first i thresholds, row n level 0.
inline int32_t row_count(const int32_t* h, int32_t n, int32_t row) { return h[(row + 1) % (n + 1)]; }

double range_volume(const JobSettings* s);
double particle_volume(const JobSettings* s);

// Mean surviving volume of count passes whose survivor counts add up to
// sum (and their squares to sq_sum), and the standard error of that mean
// (count >= 2): exact integer sums until the last steps.
double mean_volume(const JobSettings* s, int64_t sum, int64_t count);
double volume_standard_error(const JobSettings* s, int64_t sum, SquareSum sq_sum, int64_t count);
// The same for row of the sums.
double sums_mean(const JobSettings* s, const CountSums* sums, int32_t row);
double sums_standard_error(const JobSettings* s, const CountSums* sums, int32_t row);
