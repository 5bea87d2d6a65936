// Measuring how often an interval covers the exact volume of an uncoupled
// linear job: random passes and schedule samples taken with the CPU
// tracker and added up by the program's own statistics.
#pragma once
#include <cstdint>
#include <string>

#include "app/cpu_tracker.h"
#include "app/run_state.h"

// A FODO ring whose collimator faces lie off the grid lines, and a ring
// whose square collimators lie on grid lines of the base grid.
extern const char* const kFodoJob;
extern const char* const kGridFacesJob;

JobSettings job_from_text(const std::string& text);

// A run of the job without files or GL, its random passes keyed by seed.
RunState* bare_run(const JobSettings* s, uint64_t seed);
void free_bare_run(RunState* run);
// Random passes first .. last of the run's seed, and schedule samples
// first .. last, tracked with the CPU tracker and counted as the loop does.
void add_random_passes_from(RunState* run, const CpuMap* map, int first, int last);
void add_schedule_from(RunState* run, const CpuMap* map, int first, int last);

// Whether [low, high] holds the exact value, allowing for the rounding of
// a value that the interval holds exactly (the domain's, whose error is 0).
bool covers(double low, double high, double exact);
