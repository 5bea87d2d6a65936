// The program's run: opens the window (or a context without one), prepares
// the job and its engine and takes samples until the user ends it or the
// sample limit is reached.
#pragma once
#include <string>

#include "app/options.h"
#include "app/run_state.h"

// Runs the job the options name; returns the process's exit status.
int run_job(const RunOptions* options);
// The start-up of run_job once the job is checked and the window or the
// context without one is open (have_gl false when there is none): the job
// is prepared, the engine chosen and prepared, the results file started.
void start_job(RunState* run, const RunOptions* options, bool have_gl);

// One pass of the loop: a sample, then the window's frame step or the
// headless progress. Leaves the time of each stage in stage_seconds.
void run_pass(RunState* run);
// Takes the next sample with the engine and counts it; false when the pass
// could not be trusted and was not counted (the sample number is then
// taken again). picture asks for the class picture to be kept for display.
bool take_sample(RunState* run, bool picture);
// Counts the sample in run->histogram unless reason says it cannot be
// trusted, and writes a result block when one is due.
bool count_sample(RunState* run, const char* reason);
// The four jitter fractions of a sample number.
void sample_jitter(int32_t sample, double jitter[4]);
// Whether this pass shows its picture: in a window, when the last one
// shown is a display refresh old, or S was just pressed. Only such a pass
// draws the picture and the status text, and present_pass then takes the
// screenshot on S and presents; every pass handles the messages and keys.
bool presentation_due(const RunState* run);
void present_pass(RunState* run, bool shown);

// Refuses, with a fatal error, a job that cannot be run (job_refusal): a
// job file that cannot be read or holds unusable values, baseres outside
// 1 to 32, an empty or reversed grid range, descending turn counts.
void check_job(const JobSettings* settings);

// Status text beside the square, and the font it is drawn with.
void setup_status_font();
void draw_status(RunState* run);
// The status blocks: program, GL error and rates; sample progress; the
// engine and what it runs on.
std::string status_rates_text(const RunState* run, unsigned error);
std::string status_engine_text();
std::string status_progress_text(const RunState* run);

// Progress of a run without a window, on stderr: on a terminal one line
// rewritten in place a few times a second; otherwise one line per result
// block (block set when one was just written). finish_progress ends the
// line in place.
void report_progress(RunState* run, bool block);
void finish_progress(RunState* run);
std::string progress_text(const RunState* run, double now);
