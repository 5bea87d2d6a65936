// A run's sample record at its start and end: started afresh, or read back
// and replayed on --resume; closed at the end, with the command that
// resumes a stopped run. And the signals that stop a run between passes.
#pragma once
#include <string>

#include "app/run_state.h"

// Starts the run's ledger, result files and record: afresh, or with resume
// by reading the record back, checking that it is this job's and this
// process's, cutting off a torn last line and replaying its passes, so that
// output.csv is rebuilt before new samples are added. No record is a fresh
// start. A record that cannot be resumed ends the program through
// fatal_error before anything is written.
void start_results(RunState* run);
// The record could not take a pass's line: says so; a shard, which has
// nothing else to give, stops.
void record_lost(RunState* run);

// SIGTERM and SIGINT end the loop after the pass in progress instead of
// the process; a second one ends the process at once.
void install_stop_signals();
// The signal that asked the run to stop, SIGTERM when its time limit
// passed, or 0.
int stop_reason(const RunState* run);
// At the end of the run: syncs and closes the record, says how to resume a
// stopped run, and gives the exit status: 128 + the signal for a stopped
// run, kExitResultsLost when the record lost a line, else status.
int finish_run_record(RunState* run, int status);
// The command line that resumes a run started with options.
std::string resume_command_text(const RunOptions* options);
