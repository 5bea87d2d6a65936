// The merge of sample records: the records of a run's processes (shards,
// or a run's own samples.rec) into the results one process would have
// written, by replaying them through the run's own ledger and result files.
//
// Each record is read twice, line by line: once through to check it and
// learn which samples it holds, then again to replay it. The replay goes
// checkpoint interval by interval: the sums of every record's lines in the
// interval are added at once, which gives the exact sums one process had at
// the interval's checkpoint (sums over samples add exactly), so the memory
// of a merge does not grow with the records' length.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "results/ledger.h"
#include "results/record_read.h"
#include "results/reports.h"

// What the survey found in a shard's record.
struct ShardRecord {
  size_t record;     // its index among the records
  int64_t samples;   // the samples it holds
  int64_t last;      // the last of them
  int64_t owed;      // the random pass owed for that one and missing; 0 for none
};

// Which samples the records hold. The records of one merge come from one
// split of the run: shard K of N holds the samples K + 1, K + 1 + N, ...
// from its first on, so what a record holds is told by how many it holds.
struct MergePlan {
  int32_t shards;                           // N (1 for a run that is not split)
  std::map<int32_t, ShardRecord> by_shard;  // shard K: its record
  int64_t last;                             // the run's last sample: the one asked for, else the highest recorded
  std::string refusal;                      // why the records cannot be merged; "" when they can
};

// Reads the record at path through for the job, its header first: a
// record of another job (its hash is not hash) is refused before any line
// after the header is read. False with the error (naming file and line).
// job_path names the job file in that message.
bool survey_record(RecordReader* record, const std::string& path, const JobSettings* job, uint64_t hash,
                   const std::string& job_path, std::string* error);
// What the surveyed records hold for samples 1 .. samples (0: up to the
// highest found); a refusal when they are of different splits, or hold a
// sample twice.
MergePlan plan_merge(const std::vector<RecordReader>& records, int64_t samples);
// The samples of 1 .. last missing from the records.
int64_t missing_count(const MergePlan* plan);
// The missing samples as "4, 8, 12-20" (at most limit ranges, then how
// many more samples).
std::string missing_samples_text(const MergePlan* plan, size_t limit);
// The random passes owed by samples up to last and missing from the
// records, as "random pass 12 (after sample 48 in a.rec)", one a line;
// count set to how many.
std::string missing_randoms_text(const MergePlan* plan, const std::vector<RecordReader>& records, int64_t* count);
// Replays the records into the ledger (and the result files it makes due),
// checkpoint interval by interval, up to the first missing sample (the
// ledger then counts the samples replayed). False, with the error, when a
// record cannot be read again.
bool replay_plan(Ledger* ledger, Reports* reports, std::vector<RecordReader>* records, const MergePlan* plan,
                 std::string* error);
