// The one record of a run, and the operations that prepare it.
#pragma once
#include <cstdint>

#include "map/job_file.h"
#include "util/text_util.h"

// The stages of one pass of the loop, in the order they run.
enum PassStage {
  kStageTrack,    // the engine tracks the sample's particles
  kStageRead,     // its results are brought back (pixels or counts)
  kStageCount,    // levels counted, statistics, result block when due
  kStageStatus,   // the status text or the headless progress line
  kStagePresent,  // picture, screenshot on request, presentation, messages
  kPassStages
};

// The ways a sample can be taken; auto picks one of the others at start.
enum EngineKind { kEngineAuto, kEngineFragment, kEngineCompute, kEngineCpu };

// Exact per-row sums of squared survivor counts: a count reaches 2^20 and
// its square 2^40, so a few million samples already pass 64 bits.
typedef unsigned __int128 SquareSum;

// The random-jitter passes beside the schedule: pass j (from 1) is taken
// right after sample j * every, by the process that took that sample, with
// a jitter that depends only on the seed and j, and adds to sums of its
// own, never to the schedule's.
struct RandomPasses {
  int32_t every;              // samples per random pass; 0 takes none
  uint64_t seed;              // the job's "seed"
  int64_t passes;             // random passes counted
  int64_t last_index;         // the highest index counted, 0 before the first
  int64_t owed;               // index of the pass owed for a sample just counted; 0 for none
  int64_t* count_sum;         // per-row sum of survivor counts over the passes
  SquareSum* count_sq_sum;    // per-row sum of squared survivor counts
  bool aperture_due;          // a checkpoint's aperture.csv waits for a pass still owed
  char* aperture_unwritten;   // the latest aperture.csv text while it is not on disk, else null
};

struct RunState {
  JobSettings settings;          // the run's own copy of the job; never changed
  uint32_t program;              // linked GL program of the fragment or compute engine, else 0
  int32_t side;                  // side of the pixel square: baseres * baseres
  unsigned char* pixels;         // read-back buffer, side * side RGB triples
  int32_t* histogram;            // n + 1 level counters, filled by every sample
  int64_t* count_sum;            // per-row sum of survivor counts over the samples
  SquareSum* count_sq_sum;       // per-row sum of squared survivor counts
  int32_t samples;               // samples counted so far
  int32_t next_checkpoint;       // L, index of the next result block
  int32_t max_samples;           // end after this sample; 0 runs until quit
  double clock_now;              // clock at the start of this pass
  double clock_prev;             // the reading before clock_now
  double clock_presented;        // clock_now of the last pass presented
  double clock_started;          // clock when the loop began
  unsigned char quit;            // set when the loop is to end
  bool windowed;                 // a window shows the square and the status
  EngineKind engine;             // the engine taking the samples
  int64_t particle_turns;        // turns made by all particles so far; -1 when the engine cannot tell
  double stage_seconds[kPassStages];  // time of each stage of the last pass
  // Results-file text not yet on disk because the file could not be opened
  // or written when it was due; written, in order, at the next attempt that
  // can, at the latest when the run ends.
  char* results_pending;
  // The pending text starts the file: the next open empties it ("wt").
  bool results_truncate;
  RandomPasses random;           // the random passes and their sums
  // A run split over processes: this one takes the samples s with
  // (s - 1) mod shards == shard and leaves the statistics and output.csv to
  // the merge. shards is 0 for a run that is not split.
  int32_t shard;
  int32_t shards;
  int32_t samples_replayed;  // samples read back from the record at start (--resume), not taken now
  // The sample record: one line per counted pass, appended as it is
  // counted. Null when none is open, and for good after a line could not
  // be written (record_failed): a record must not have gaps.
  FILE* record;
  double record_synced;  // clock of the record's last fsync
  bool record_failed;    // a record line was lost: the run ends with kExitResultsLost
  double time_limit;     // seconds after the start at which the run stops as if SIGTERM came; 0 for none
};

// Reads "input.txt" into settings, writes "shadercode.txt" and returns the
// shader source (owned by the run).
char* prepare_job(RunState* run);
// First line of "output.csv", buffers and counters.
void start_run(RunState* run);

// Appends text to the results file, keeping it (and anything still pending)
// for a later attempt when it cannot all be written. Returns true when
// everything pending reached the file.
bool write_results_text(RunState* run, const char* text);

// The exit status of a run that ended with results that never reached
// "output.csv" (fatal errors end with 1).
const int kExitResultsLost = 4;
// At the end of a run: tries once more to write the text still pending;
// what still cannot be written goes to stderr and the failure to the error
// log. Returns the run's exit status: 0, or kExitResultsLost.
int finish_results(RunState* run);

// Writes text to a file opened with mode; true only when every byte
// reached the file. Otherwise false, with errno telling why, and the file
// as it was before (emptied for "wt").
bool write_whole_file(const char* path, const char* mode, const char* text);
