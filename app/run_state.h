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
