// veldspan import: a MAD-X Twiss table (TFS) into a job directory's
// input.txt, with a summary on stdout.
#pragma once
#include <string>

#include "import/import_plan.h"

// Reads the arguments after "import"; false, with the error, for a bad
// command line. --iterations takes the whole numbers that follow it.
bool parse_import_options(int argc, const char* const* argv, ImportOptions* options, std::string* error);
std::string import_usage_text();

// Writes text to DIR/input.txt through DIR/input.txt.tmp and a rename, so
// that the file is never half-written. Without replace an existing
// input.txt is kept and the write refused. False, with the error, when the
// file is not written.
bool write_job_file(const std::string& dir, const std::string& text, bool replace, std::string* error);

// veldspan import ... (argv[0] is "import"): returns the exit status: 0
// written, 1 refused (an unusable table, an existing input.txt without
// --force, a write that failed), 2 a bad command line.
int import_command(int argc, const char* const* argv);
