// The program's run: opens the window, prepares the job and takes samples
// until the user ends it or the job's sample limit is reached.
#pragma once
#include "app/run_state.h"

int run_job(const char* command_line);

// One pass of the loop, and its sampling part: draw, read back, count.
// take_sample returns false when the pass's picture could not be trusted
// and was not counted (the sample number is then taken again). run_pass
// leaves the time of each of its stages in stage_seconds.
void run_pass(RunState* run);
bool take_sample(RunState* run);
// The stages of take_sample, in order, for timing them one by one: the
// draw is issued; finishing waits for the tracking; the square is read
// back; the count adds a valid sample and writes a block when one is due.
void draw_sample(RunState* run);
void finish_sample(RunState* run);
void read_sample(RunState* run);
bool count_sample(RunState* run);
// Whether this pass shows its picture: when the last one shown is a
// display refresh old, or S was just pressed. Only such a pass draws the
// status text, and present_pass then takes the screenshot on S and
// presents; every pass handles the messages and the quit test.
bool presentation_due(const RunState* run);
void present_pass(RunState* run, bool counted, bool shown);

// Refuses, with a fatal error, a job that cannot be run (job_refusal): a
// job file that cannot be read or holds unusable values, baseres outside
// 1 to 32, an empty or reversed grid range, descending turn counts.
void check_job(const JobSettings* settings);

// Status text beside the square, and the font it is drawn with.
void setup_status_font();
void draw_status(RunState* run);
// The two status blocks: program, GL error and rates; sample progress.
std::string status_rates_text(const RunState* run, unsigned error);
std::string status_progress_text(const RunState* run);
