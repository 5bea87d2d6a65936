// The program's run: opens the window (or a context without one), prepares
// the job and its engine and takes passes until the user ends it or the
// sample limit is reached.
//
// One pass: the engine takes the pass owed (the random pass of a sample
// counted, else the next sample) and gives its level counts; the ledger
// takes them (record line, sums, which result files are due); the report
// writers write what is due; then the window's frame, or the progress line.
#pragma once
#include "app/options.h"
#include "app/run_state.h"

// Runs the job the options name; returns the process's exit status.
int run_job(const RunOptions* options);
// The start-up of run_job once the job is read (read_run_job) and the
// window or the context without one is open (have_gl false when there is
// none): the job is lowered, the engine chosen and prepared, the results
// and the record started.
void start_job(RunState* run, const RunOptions* options, bool have_gl);

// One pass of the loop: a pass taken and counted, then the window's frame
// step or the headless progress. Leaves the time of each stage in
// stage_seconds.
void run_pass(RunState* run);
// Takes the pass owed with the engine and counts it; false when it could
// not be trusted and was not counted (it is then taken again). picture
// asks for the class picture to be kept for display.
bool take_pass(RunState* run, bool picture);
// Whether this pass shows its picture: in a window, when the last one
// shown is a display refresh old, or S was just pressed. Only such a pass
// draws the picture and the status text, and present_pass then takes the
// screenshot on S and presents; every pass handles the messages and keys.
bool presentation_due(const RunState* run);
void present_pass(RunState* run, bool shown);
