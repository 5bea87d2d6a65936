// The program's commands: "veldspan merge ..." merges sample records,
// "veldspan scan ..." runs a job over its scan's working points,
// "veldspan import ..." makes a job of a MAD-X Twiss table; anything else
// is a run.
#pragma once

// Returns the exit status.
int program_main(int argc, const char* const* argv);
