// The ledger: the one place that takes each counted pass, scheduled sample
// or random pass, whether just tracked, read back from a record on resume,
// or replayed by a merge. It appends the pass to the record, adds its
// counts to the right sums, and says which result files are due; the
// caller then writes them with the report writers (reports.h).
//
// Random passes beside the schedule: pass j (from 1) is owed right after
// sample j * every, is taken by the process that took that sample, before
// its next sample, and adds to sums of its own, never to the schedule's.
// The aperture of a checkpoint waits for the random pass of its sample.
#pragma once
#include <cstdint>
#include <vector>

#include "map/job_file.h"
#include "results/record.h"
#include "results/record_write.h"
#include "results/sums.h"

// A counted pass, as an engine gave it or a record holds it.
struct Pass {
  char kind;                    // 's' a scheduled sample, 'r' a random pass
  int64_t number;               // the sample number, or the random pass's index
  std::vector<int32_t> levels;  // raw counts of levels 0 .. n
  int64_t edge = 0;             // of its level-0 particles, those that started on the box's outermost layer
};

struct Ledger {
  const JobSettings* job;  // the run's job; outlives the ledger
  int32_t shard;           // a run split over processes takes the samples s with
  int32_t shards;          //   (s - 1) mod shards == shard; shards 0 when not split
  CountSums samples;       // the scheduled samples counted
  CountSums randoms;       // the random passes counted
  int32_t next_checkpoint; // L of the next block of output.csv
  int32_t every;           // samples per random pass; 0 takes none
  uint64_t seed;           // the job's seed, which keys the random passes
  int64_t owed;            // index of the random pass owed for a sample counted; 0 for none
  bool aperture_due;       // a checkpoint's aperture.csv waits for a pass still owed
  RecordWriter* record;    // where each pass taken is recorded; null for none
};

// What is due after a pass. A shard writes no result file: its record is
// its only result, for the merge.
struct LedgerDue {
  int32_t block;     // the checkpoint L whose block of output.csv is due; 0 for none
  bool aperture;     // aperture.csv is due
  bool record_lost;  // the record could not take the pass's line (and takes none after)
};

Ledger start_ledger(const JobSettings* job, int32_t shard, int32_t shards);
LedgerDue ledger_take(Ledger* ledger, const Pass* pass);
// Takes samples and their random passes summed (a record's 't' line, or
// the samples of a checkpoint interval in a merge), as if taken one by one:
// they never reach past the next checkpoint. owed is the random pass still
// owed after them (0 for none). Nothing is recorded.
LedgerDue ledger_take_span(Ledger* ledger, const RecordSpan* span, int64_t owed);

// Scheduled samples counted so far.
int32_t ledger_samples(const Ledger* ledger);
// Whether a random pass is owed: the pass of a sample already counted.
bool random_pass_owed(const Ledger* ledger);
// The number of the next sample this process takes.
int64_t next_sample_number(const Ledger* ledger);
// Whether that number is beyond the last a record holds (kLastSample):
// the process then takes no more samples.
bool samples_exhausted(const Ledger* ledger);
// The pass this process takes next: the random pass owed, else the next
// sample (levels still empty), with its jitter fractions.
Pass next_pass(const Ledger* ledger, double jitter[4]);

// Where the run stands against its next result block.
struct BlockProgress {
  int32_t samples;     // scheduled samples counted
  int32_t checkpoint;  // L of the next block
  int64_t due_at;      // the sample count at which it is due: L^4
  int64_t left;        // samples still to count before it
};
BlockProgress block_progress(const Ledger* ledger);
