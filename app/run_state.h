// The one record of a run: the job, read once, and what was made of it;
// the engine that takes the passes; the ledger that counts them with the
// result files and the record it feeds; the clocks and the loop's state.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "engines/engine.h"
#include "map/job_file.h"
#include "map/lowered_map.h"
#include "results/ledger.h"
#include "results/record.h"
#include "results/reports.h"

// The stages of one pass of the loop, in the order they run.
enum PassStage {
  kStageTrack,    // the engine tracks the sample's particles
  kStageRead,     // its results are brought back (pixels or counts)
  kStageCount,    // levels counted, the ledger, result files when due
  kStageStatus,   // the status text or the headless progress line
  kStagePresent,  // picture, screenshot on request, presentation, messages
  kPassStages
};

struct RunState {
  JobSource source;              // input.txt's bytes and hash, read once
  JobSettings settings;          // the job they describe; never changed
  LoweredMap map;                // the job's map as the engines track it
  Engine engine;                 // what takes the passes
  Ledger ledger;                 // the passes counted, their sums, the files due
  Reports reports;               // output.csv and aperture.csv (not for a shard)
  RecordWriter record;           // the sample record the ledger appends to
  std::vector<int32_t> levels;   // the raw level counts of the pass being taken
  int32_t max_samples;           // end after this sample number; 0 runs until quit
  int32_t samples_replayed;      // samples read back from the record at start (--resume), not taken now
  int64_t particle_turns;        // turns made by the particles of the passes taken; -1 when the engine cannot tell
  std::string refused;           // why the last pass was not counted, said once per cause; "" once one is
  std::string random_status;     // the status's random-pass text, made anew only when a random pass is counted
  int64_t random_status_passes = -1;  // the random passes random_status was made for; -1 before the first
  double clock_now;              // clock at the start of this pass
  double clock_prev;             // the reading before clock_now
  double clock_presented;        // clock_now of the last pass presented
  double clock_started;          // clock when the loop began
  double stage_seconds[kPassStages];  // time of each stage of the last pass
  double time_limit;             // seconds after the start at which the run stops as if SIGTERM came; 0 for none
  bool quit;                     // set when the loop is to end
  bool box_cut;                  // survivors started on the box's edge: said once, and in the status
  bool windowed;                 // a window shows the square and the status
  RunOptions options;            // the command line
};

// Scheduled samples counted so far, and those taken by this process.
int32_t run_samples(const RunState* run);
int32_t samples_taken(const RunState* run);
// Whether the run is one shard of a run split over processes.
bool is_shard(const RunState* run);
