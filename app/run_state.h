// The one record of a run, and the operations that prepare it.
#pragma once
#include <cstdint>

#include "map/job_file.h"
#include "util/text_util.h"

// The stages of one pass of the loop, in the order they run.
enum PassStage {
  kStageDraw,     // the square's draw is issued
  kStageFinish,   // waiting for the tracking to finish
  kStageRead,     // the square is read back
  kStageCount,    // decoding, statistics, result block when due
  kStageStatus,   // the status text
  kStagePresent,  // screenshot on request, presentation, messages
  kPassStages
};

struct RunState {
  JobSettings settings;          // the run's own copy of the job; never changed
  uint32_t program;              // linked GL shader program
  int32_t side;                  // side of the pixel square: baseres * baseres
  unsigned char* pixels;         // read-back buffer, side * side RGB triples
  int32_t* histogram;            // n + 1 level counters, cleared every pass
  CountedDoubles volume_sum;     // per-row sum of sample volumes
  CountedDoubles volume_sq_sum;  // per-row sum of squared sample volumes
  int32_t samples;               // samples counted so far
  int32_t next_checkpoint;       // L, index of the next result block
  double clock_now;              // clock at the start of this pass
  double clock_prev;             // the reading before clock_now
  double clock_presented;        // clock_now of the last pass presented
  unsigned char quit;            // set when the loop is to end
  double stage_seconds[kPassStages];  // time of each stage of the last pass
  char status_text[200];         // buffer for the status lines
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
const int kExitResultsLost = 2;
// At the end of a run: tries once more to write the text still pending;
// what still cannot be written goes to stderr and the failure to the error
// log. Returns the run's exit status: 0, or kExitResultsLost.
int finish_results(RunState* run);

// Writes text to a file opened with mode; true only when every byte
// reached the file. Otherwise false, with errno telling why, and the file
// as it was before (emptied for "wt").
bool write_whole_file(const char* path, const char* mode, const char* text);
