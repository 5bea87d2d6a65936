// veldspan merge: the sample records of a run's processes (shards, or a
// run's own samples.rec) into the output.csv one process would have
// written, by replaying every sample in order through the run's own
// statistics and result blocks.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/record.h"

struct MergeOptions {
  std::string job_dir;               // holds input.txt and gets output.csv; empty for the working directory
  int32_t samples;                   // the run's samples 1 .. samples; 0 for up to the highest recorded
  std::vector<std::string> records;  // the record files, as named on the command line
  bool help;                         // print the usage and end
};

// What the records hold, sample by sample, ready to replay.
struct MergePlan {
  std::vector<const RecordPass*> samples;  // samples[s] is sample s (index 0 unused); null when missing
  // The random passes in the order they are replayed: those before any
  // sample, then after each sample those that followed it in its record,
  // by index.
  std::vector<const RecordPass*> randoms;
  int64_t duplicate;                 // a pass found twice (its sample number or index); 0 when none
  char duplicate_kind;               // 's' or 'r'
  std::string duplicate_files;       // the two records that hold it
};

const int kExitSamplesMissing = 3;

// Reads the arguments after "merge"; false with the error for a bad line.
bool parse_merge_options(int argc, const char* const* argv, MergeOptions* options, std::string* error);
std::string merge_usage_text();
// Indexes the passes of the records for samples 1 .. samples (0: up to the
// highest found); a duplicate is noted in the plan.
MergePlan plan_merge(const std::vector<RecordFile>& records, int32_t samples);
// The samples missing from the plan, as "4, 8, 12-20" (at most about
// limit items, then how many more).
std::string missing_samples_text(const MergePlan* plan, size_t limit);
// Replays the plan into the run (its results already started) up to the
// first missing sample; returns the samples replayed.
int32_t replay_plan(RunState* run, const MergePlan* plan);
// veldspan merge ...: returns the exit status (0, 1 refused, 2 bad command
// line, kExitSamplesMissing, kExitResultsLost).
int merge_command(int argc, const char* const* argv);
