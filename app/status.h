// What a run shows of itself: the status text beside the square in a
// window, and the progress line on stderr without one.
#pragma once
#include <string>

#include "app/run_state.h"

// Status text beside the square, and the font it is drawn with.
void setup_status_font();
void draw_status(RunState* run);
// The status blocks: program, GL error and rates; sample progress; the
// engine and what it runs on.
std::string status_rates_text(const RunState* run, unsigned error);
std::string status_engine_text(const RunState* run);
std::string status_progress_text(const RunState* run);
// One line: the last turn count, the volume that survived it in the random
// passes, and the half width of its 95% interval ("100: 0.0123 +/- 0.00041
// (95%)"), short enough for the status strip.
std::string random_status_text(const RunState* run);
// Why the last pass was not counted (refused), and whether the run waits
// for the window to show the square before it takes a pass again; "" when
// the last pass was counted.
std::string status_refusal_text(const std::string& refused, bool waiting);

// Progress of a run without a window, on stderr: on a terminal one line
// rewritten in place a few times a second; otherwise one line per result
// block (block set when one was just written). finish_progress ends the
// line in place.
void report_progress(RunState* run, bool block);
void finish_progress(RunState* run);
std::string progress_text(const RunState* run, double now);
