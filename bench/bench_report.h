// The benchmark's records and the figures made from them: no GL here.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "engines/cpu_tracker.h"
#include "bench/fp32_peak.h"

// One timed pass of the program's loop.
struct PassRecord {
  int32_t sample;
  double stage[kPassStages];  // seconds per stage of the pass
  double pass;                // their sum: the whole pass
  double process_seconds;     // processor time of all the process's threads during the pass
  int64_t particle_turns;     // turns made, summed over the particles (the CPU tracker's count)
  double level_difference;    // largest per-level |engine - CPU tracker| / pixels
};

// The passes of one engine, in one precision, on one job.
struct EngineReport {
  EngineKind engine;
  int32_t refused;  // passes the loop did not count (taken again)
  std::vector<PassRecord> passes;
  Precision precision = kPrecisionSingle;
};

// The CPU tracker alone, outside the loop, with one build of its kernel.
struct KernelReport {
  CpuKernel kernel;
  int32_t samples;
  double seconds;          // wall time of all samples
  double process_seconds;  // processor time of all threads
  int64_t particle_turns;
  Precision precision = kPrecisionSingle;
};

struct JobReport {
  std::string name;
  int64_t particles;      // per sample
  double flops_per_turn;  // useful flops of a particle's turn through the map
  double kicks_per_turn;  // thin kicks (normal or skew) a particle passes in a turn
  PeakFigures peak;       // measured beside this job's runs
  std::vector<EngineReport> engines;
  std::vector<KernelReport> kernels;  // when asked for
};

// Figures of an engine on a job. NOTE: means over the passes, not medians:
// a pass that presents its picture costs more than one that does not, and
// only the mean charges every pass its share of that (and of result blocks).
struct EngineFigures {
  double stage[kPassStages];  // mean seconds per stage
  double pass;                // mean pass: their sum
  double median_pass;         // for comparison: the typical pass
  double rate;                // particle-turns per second of the loop
  double track_rate;          // particle-turns per second of the tracking stage
  double cpu_rate;            // particle-turns per second of processor time
  double level_difference;    // largest over the passes
};

double median(std::vector<double> values);
EngineFigures engine_figures(const EngineReport* report);

// Useful flops of one particle's turn: a drift 4 (two multiplies, two
// adds), a kick of orders 1 .. n 10n - 6 (the complex powers and sums).
// Collimator tests are not counted.
double map_flops(const CpuMap* map);
// Thin kicks in one turn of the map (the unit peers quote their speed in:
// particle-kicks, or element passes, per second).
double map_kicks(const CpuMap* map);
// The share of the peak that a tracking rate (particle-turns per second)
// reaches.
double peak_share(double rate, double flops_per_turn, double peak);
// The peak of a precision from the measured FP32 one: a vector holds half
// as many doubles, at the same rate of instructions.
double precision_peak(double fp32_peak, Precision precision);

double largest_level_difference(const std::vector<int64_t>& a, const std::vector<int64_t>& b, int64_t pixels);

std::string job_text(const JobReport* report);
std::string table_head();
std::string table_rows(const JobReport* report);
std::string kernel_table_head();
std::string kernel_table_rows(const JobReport* report);
// Each engine that ran in both precisions: its speed in double against its
// speed in single, in particle-turns per second of the loop (in samples
// for a job whose particles make no turn), of the tracking stage and of
// the process's processor time (the figure to trust when other work
// shares the machine).
std::string precision_table_head();
std::string precision_table_rows(const JobReport* report);
