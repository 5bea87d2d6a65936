// Random-jitter passes beside the schedule. The schedule's samples cover a
// regular lattice of sub-cell offsets: their mean carries the lattice's
// error along every collimator face, which their standard error does not
// see. A pass whose four offsets are independent uniform random numbers is
// an unbiased measurement; the mean and standard error of such passes give
// an honest interval. After every "randompasses" samples the loop takes one,
// tracked and counted like a sample but added to sums of its own.
#pragma once
#include <cstdint>
#include <string>

#include "app/run_state.h"

// The jitter fractions of random pass index (1, 2, ...) of a run with the
// given seed. Counter-based: any pass can be computed alone, by a shard or
// a resumed run, and a run is reproduced by its seed.
void random_pass_jitter(uint64_t seed, int64_t index, double jitter[4]);

// Sets up the random passes of the run's job, with zeroed sums.
void start_random_passes(RunState* run);
// Notes that scheduled sample number sample was counted (or read back from
// the record): after every "randompasses"-th sample its random pass is owed.
void note_scheduled_sample(RunState* run, int64_t sample);
// Whether a random pass is owed: the pass of a sample already counted.
bool random_pass_owed(const RunState* run);
// Takes the next random pass with the engine and counts it; false when the
// pass could not be trusted (it is then taken again by the next pass of
// the loop).
bool take_random_pass(RunState* run, bool picture);
// Adds random pass index, whose raw level counts (levels 0 .. n) are in
// run->histogram, to the random passes' sums, and settles the pass owed
// when it is that one; the histogram is left as it is. Used by the loop and
// by the replay of recorded passes.
void add_random_pass(RunState* run, int64_t index);

// Student's t, 0.975 quantile: by table up to 30 degrees of freedom, 1.96
// beyond.
double student_t_975(int64_t degrees);

// The random passes' figures for one result row. volume is set from one
// pass on, error, low and high (the 95% interval) from two on.
struct RandomInterval {
  int64_t passes;
  double volume, error, low, high;
};
RandomInterval random_interval(const RunState* run, int32_t row);

// One line of status text: the last turn count, the volume that survived
// it in the random passes, and the half width of its 95% interval
// ("100: 0.0123 +/- 0.00041 (95%)"), short enough for the status strip.
std::string random_status_text(const RunState* run);
