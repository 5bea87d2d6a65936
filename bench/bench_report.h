// The benchmark's records and the figures made from them: no GL here.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/run_state.h"

// One timed pass of the program's loop and the CPU tracker's run of the
// same sample.
struct PassRecord {
  int32_t sample;
  double stage[kPassStages];  // seconds per stage of the loop's pass
  double pass;                // their sum: the whole pass
  double cpu_seconds;         // the CPU tracker on the same sample
  int64_t particle_turns;     // turns made, summed over the particles
  double level_difference;    // largest per-level |loop - CPU| / pixels
};

struct JobReport {
  std::string name;
  int64_t particles;  // per sample
  int32_t refused;    // passes the loop did not count (taken again)
  std::vector<PassRecord> passes;
};

// Figures of a job. NOTE: means over the passes, not medians: a pass that
// presents its picture costs more than one that does not, and only the
// mean charges every pass its share of that (and of result blocks).
struct JobFigures {
  double stage[kPassStages];   // mean seconds per stage
  double pass;                 // mean pass: their sum
  double median_pass;          // for comparison: the typical pass
  double cpu_pass;             // mean CPU tracker sample
  double loop_rate, cpu_rate;  // particle-turns per second over all passes
  double level_difference;     // largest over the passes
};

double median(std::vector<double> values);
JobFigures job_figures(const JobReport* report);

// Raw counts per level from the survival counts the loop leaves in its
// histogram (the inverse of survival_counts).
std::vector<int64_t> raw_levels(const int32_t* survival, int32_t n);
double largest_level_difference(const std::vector<int64_t>& a, const std::vector<int64_t>& b, int64_t pixels);


std::string job_text(const JobReport* report, const JobFigures* f);
std::string table_head();
std::string table_row(const JobReport* report, const JobFigures* f);
