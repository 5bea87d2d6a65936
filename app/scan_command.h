// veldspan scan: the job over a line or a grid of working points (see
// map/scan_plan.h), each point an ordinary job of its own in
// JOBDIR/scan/<point>, run one after another (or --jobs at once) as
// children of this program, and their figures gathered into JOBDIR/scan.csv.
#pragma once
#include <cstdint>
#include <string>

struct ScanOptions {
  std::string job_dir;      // holds input.txt with its scan lines; empty for the working directory
  std::string engine;       // --engine, passed on to each point; "" when not given
  std::string max_samples;  // --max-samples, passed on; "" when not given
  std::string precision;    // --precision, passed on; "" when not given
  int32_t precision_level;  // --precision as a Precision, which the points' jobs are checked in; -1 when not given
  int32_t jobs;             // points run at once
  int32_t shards;           // --table: each point was run as this many shards (their records); 0 for samples.rec
  bool resume;              // skip complete points and resume the others
  bool force;               // rewrite points whose input.txt is another job's
  bool table;               // only write scan.csv from the points there are
  bool prepare;             // only write the points' jobs and list their directories
  bool list;                // only list the points' directories
  bool help;
};

// The most points a scan runs at once.
const int32_t kMostScanJobs = 64;
// The exit status of a table that lacks points not complete yet.
const int kExitPointsMissing = 3;

// Reads the arguments after "scan"; false with the error for a bad line.
// The options passed on to each point are checked as the point's run will
// check them.
bool parse_scan_options(int argc, const char* const* argv, ScanOptions* options, std::string* error);
std::string scan_usage_text();
// veldspan scan ...: returns the exit status (0; 1 refused or a point that
// could not be started; 2 a bad command line; a failed point's own status;
// 128 + the signal when stopped; kExitPointsMissing; kExitResultsLost).
int scan_command(int argc, const char* const* argv);
