// "aperture.csv": per result row, the random passes' mean volume with its
// standard error and 95% interval, and how far the schedule's mean lies
// from it. Rewritten whole at each checkpoint of "output.csv", through a
// temporary file and a rename, so that no reader and no crash ever finds
// half a file.
#pragma once
#include <string>

#include "app/run_state.h"

// The whole file for the run as it stands; job names the job, when is the
// date-time text.
std::string aperture_text(const RunState* run, const std::string& job, const char* when);
// Called after each result block: the file is written at once, or, when
// the random pass of this checkpoint's sample is still owed, after it.
void aperture_checkpoint(RunState* run);
// Writes the file when a checkpoint's is due and no random pass is owed.
void write_aperture_when_due(RunState* run);
// At the end of a run: writes a file still due (with the passes taken) and
// tries once more a text that could not be written; what still cannot be
// written goes to stderr and the error log. Returns 0, or kExitResultsLost.
int finish_aperture(RunState* run);

// Writes text to a temporary file beside path, then puts it in path's
// place; true only when all of it is there. The temporary file does not
// outlive a failure.
bool replace_whole_file(const char* path, const char* text);
