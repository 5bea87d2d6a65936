// The merge of sample records: the records of a run's processes (shards,
// or a run's own samples.rec) into the results one process would have
// written, by replaying every pass in order through the run's own ledger
// and result files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "results/ledger.h"
#include "results/record.h"
#include "results/reports.h"

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

// Indexes the passes of the records for samples 1 .. samples (0: up to the
// highest found); a duplicate is noted in the plan.
MergePlan plan_merge(const std::vector<RecordFile>& records, int32_t samples);
// The samples missing from the plan, as "4, 8, 12-20" (at most about
// limit items, then how many more).
std::string missing_samples_text(const MergePlan* plan, size_t limit);
// Replays the plan into the ledger (and the result files it makes due) up
// to the first missing sample; returns the samples replayed.
int32_t replay_plan(Ledger* ledger, Reports* reports, const MergePlan* plan);
// A recorded pass as the ledger takes it.
Pass recorded_pass(const RecordPass* pass);
