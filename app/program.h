// The program's commands: "veldspan merge ..." merges sample records;
// anything else is a run.
#pragma once

// Returns the exit status.
int program_main(int argc, const char* const* argv);
