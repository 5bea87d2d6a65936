// veldspan merge: the sample records of a run's processes (shards, or a
// run's own samples.rec) into the output.csv and aperture.csv one process
// would have written.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct MergeOptions {
  std::string job_dir;               // holds input.txt and gets output.csv; empty for the working directory
  int32_t samples;                   // the run's samples 1 .. samples; 0 for up to the highest recorded
  std::vector<std::string> records;  // the record files, as named on the command line
  bool help;                         // print the usage and end
};

const int kExitSamplesMissing = 3;

// Reads the arguments after "merge"; false with the error for a bad line.
bool parse_merge_options(int argc, const char* const* argv, MergeOptions* options, std::string* error);
std::string merge_usage_text();
// veldspan merge ...: returns the exit status (0, 1 refused, 2 bad command
// line, kExitSamplesMissing, kExitResultsLost).
int merge_command(int argc, const char* const* argv);
