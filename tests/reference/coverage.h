// Measuring how often an interval covers the exact volume of an uncoupled
// linear job: random passes and schedule samples taken with the CPU
// tracker and added up by the program's own sums.
#pragma once
#include <cstdint>
#include <string>

#include "engines/cpu_tracker.h"
#include "results/sums.h"

// A FODO ring whose collimator faces lie off the grid lines, and a ring
// whose square collimators lie on grid lines of the base grid.
extern const char* const kFodoJob;
extern const char* const kGridFacesJob;

JobSettings job_from_text(const std::string& text);

// Jobs at the extremes, made from a ring's text. scaled_box: the ranges of
// its x plane (or of both planes) scaled about their middles, so that a
// pass holds fewer of its survivors. nearly_whole_ring: a FODO ring of the
// given kicks and drifts at turns and 4 x turns, its collimators moved
// out until `lost` grid points a pass are lost at `turns` (exactly, by
// bisection on the exact volume).
std::string scaled_box(const std::string& ring, double scale, bool both_planes);
std::string nearly_whole_ring(const std::string& kicks, int turns, double lost);

// A job ready for the CPU tracker, without files or GL. Made once, never
// copied: the tracker's map points into the lowered one.
struct TrackedJob {
  JobSettings job;
  LoweredMap lowered;
  CpuMap map;
};
TrackedJob* tracked_job(const std::string& text);

// Random passes first .. last of the seed, and schedule samples first ..
// last, tracked with the CPU tracker and added to the sums as the ledger
// adds them.
void add_random_passes_from(const TrackedJob* t, uint64_t seed, CountSums* sums, int first, int last);
void add_schedule_from(const TrackedJob* t, CountSums* sums, int first, int last);

// Whether [low, high] holds the exact value, allowing for the rounding of
// a value that the interval holds exactly (the domain's, whose error is 0).
bool covers(double low, double high, double exact);
