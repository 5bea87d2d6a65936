// The command line: veldspan [options] [JOBDIR].
#pragma once
#include <cstdint>
#include <string>

#include "engines/engine.h"

struct RunOptions {
  std::string job_dir;  // the job's directory; empty for the working directory
  bool headless;        // no window: the run needs no display
  EngineKind engine;    // the engine asked for
  int32_t max_samples;  // overrides the job's "maxsamples"; -1 keeps it
  int32_t device;       // EGL device for a headless run; -1 for the first that works
  int32_t shard;        // --shard K/N: this process takes the samples s with (s - 1) mod N == K
  int32_t shards;       // N; 0 when the run is not split
  bool resume;          // continue from the sample record instead of starting afresh
  int32_t max_seconds;  // stop as if SIGTERM came this long after the start; 0 for no limit
  int32_t precision;    // --precision: kPrecisionSingle or kPrecisionDouble; -1 keeps the job's "precision"
  bool help;            // print the usage and end
  bool version;         // print the version and end
};

RunOptions default_options();
// Reads the arguments after the program name into options; false, with
// what was wrong in error, for an unknown option or a bad value.
// "single" or "double" into a Precision; false for any other word.
bool parse_precision(const char* text, int32_t* precision);
bool parse_options(int argc, const char* const* argv, RunOptions* options, std::string* error);
std::string usage_text();
// Reads the command line; prints the usage or the version, or refuses a
// bad line (usage on stderr, status 2) before anything is written, and
// warns of a --device that nothing will use. Returns the exit status when
// the program is to end now, -1 when it is to run.
int read_command_line(int argc, const char* const* argv, RunOptions* options);
// The exit status of a command line the program does not take.
const int kExitBadCommandLine = 2;
// A command line that parsed but names what is not there (a job directory,
// a GPU): the reason and the usage's first line on stderr; returns
// kExitBadCommandLine.
int refuse_run_command(const std::string& why);
// The warning for a --device that the run will not use (with the cpu
// engine, or in a window); "" when it is used or not given.
std::string unused_device_text(const RunOptions* options);
const char* program_version();
