// From read-back pixels to survival counts, volumes and result blocks.
#pragma once
#include <cstdint>

#include "app/run_state.h"

int decode_level(unsigned char red, unsigned char green, unsigned char blue, int colourlevels);

// decode_level by table: each channel's byte gives its digit already
// weighted (red by q², green by q, blue by 1), so a level is three loads
// and two additions.
struct DecodeTable {
  int32_t weight[3][256];
};
void fill_decode_table(int colourlevels, DecodeTable* table);
inline int table_level(const DecodeTable* t, unsigned char red, unsigned char green, unsigned char blue) {
  return t->weight[0][red] + t->weight[1][green] + t->weight[2][blue];
}

// Clears the histogram, decodes every pixel of the square into it and
// returns how many pixels decoded to a level above n: those are counted
// nowhere, and a sample with any is not a valid picture.
int64_t count_levels(RunState* run);
// Turns the raw level counts into survival counts: afterwards entry k >= 1
// holds the pixels of level 0 or of a level >= k.
void survival_counts(int32_t* histogram, int32_t n);
// Turns the sample's raw level counts in histogram into survival counts
// and adds them to the per-row sums.
void add_sample_counts(RunState* run);
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
// Mean surviving volume of a row over the samples so far, and its standard
// error, from the exact count sums: the domain's error is exactly 0.
double row_mean(const RunState* run, int32_t row);
double row_standard_error(const RunState* run, int32_t row);
// The label of result row i: "Domain", then the turn counts in job order.
std::string row_label(const RunState* run, int32_t row);

// The text of the block for checkpoint L at the current sample count.
std::string result_block_text(const RunState* run, int32_t checkpoint);
// Appends the block of next_checkpoint to "output.csv".
void write_result_block(RunState* run);
// Adds the sample counted in run->histogram (raw level counts; run->samples
// already counts it) to the statistics, and writes the result block when
// one is due: true when it wrote one. A run and a merge both count here,
// so that they write the same blocks.
bool count_into_results(RunState* run);
