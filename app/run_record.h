// A run's sample record at its start and end: started afresh, or read back
// and replayed on --resume; closed at the end, with the command that
// resumes a stopped run. And the signals that stop a run between passes.
#pragma once
#include <string>

#include "app/run_state.h"

// Takes the lock of the process's record (its name with ".lock"), so that
// a second process on the same record ends at once; shards, which have
// records of their own, run side by side. Returns 0, or 1 after saying
// which process holds it: nothing is written then. Where files cannot be
// locked the run goes on, with a warning.
int claim_record(RunState* run, const RunOptions* options);
// With --resume, before anything is written: reads the record through and
// checks that it is this job's (its header's hash, before any other line)
// and this process's, every line in its place. Returns 0, or 1 after
// saying why not on stderr. No record is a fresh start.
int check_resume(const RunState* run, const RunOptions* options);
// Starts the run's ledger, result files and record: afresh, or with resume
// by replaying the record checked by check_resume, so that output.csv is
// rebuilt before new samples are added, then cutting off a torn last line
// and appending to it.
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
