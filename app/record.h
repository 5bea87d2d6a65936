// The sample record: what a run has counted, pass by pass, so that a run
// can be stopped and resumed, and split over processes and merged into the
// results one process would have written.
//
// A text file, one entry per line, each line ending in '\n' (on Windows
// too: the file is written in binary). First the header:
//   veldspan-record 1 job <hash> engine <name> version <version> renderer <text to the end of the line>
// (format version 1; the job file's FNV-1a 64-bit hash in 16 hex digits;
// the engine; the program's version; the GL renderer, or the CPU). Then one
// line per counted pass, in the order counted:
//   s <sample number> <c_0> <c_1> ... <c_n>   a scheduled sample
//   r <random pass index> <c_0> ... <c_n>     a random pass
// with the raw level counts of levels 0 .. n, as the engine gave them
// (before they are turned into survival counts). A last line without its
// '\n' (the process was ended while writing it) or with the wrong fields is
// ignored; anywhere else such a line is an error.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/run_state.h"

const int32_t kRecordFormat = 1;

// What a record's header says.
struct RecordHeader {
  int32_t format;        // format version
  uint64_t job_hash;     // FNV-1a hash of the job file's bytes
  std::string engine;    // the engine that took the passes
  std::string version;   // the program's version
  std::string renderer;  // the GL renderer, or the CPU and its threads
};

// One pass line.
struct RecordPass {
  char kind;                    // 's' a scheduled sample, 'r' a random pass
  int64_t number;               // the sample number, or the random pass's index
  int64_t after;                // the sample of the last 's' line before this one in its file; 0 when none
  std::vector<int32_t> levels;  // raw counts of levels 0 .. n
};

// A record as read from its file.
struct RecordFile {
  std::string path;
  bool has_header;                 // false for an empty file, or one whose header line was cut off
  RecordHeader header;
  std::vector<RecordPass> passes;  // every whole pass line, in file order
  int64_t whole_length;            // bytes up to the end of the last whole line kept
  bool tail_dropped;               // a torn or bad last line lies beyond whole_length
};

// FNV-1a 64-bit hash of the file's bytes; the hash of no bytes when it
// cannot be read (a missing input.txt is the default job).
uint64_t job_file_hash(const char* path);
// "samples.rec" for a run that is not split, else "shard-K-of-N.rec".
std::string record_file_name(int32_t shard, int32_t shards);

std::string record_header_text(const RecordHeader* header);
bool parse_record_header(const std::string& line, RecordHeader* header);
std::string record_pass_text(char kind, int64_t number, const int32_t* levels, int32_t count);
// Parses a pass line of the job's record: n + 1 counts that add up to the
// baseres^4 grid points. False, with why, otherwise.
bool parse_record_pass(const std::string& line, const JobSettings* job, RecordPass* pass, std::string* why);
// Reads the record at path for the job. False, with an error naming the
// file and the line, when it cannot be read or a line before the last is
// bad.
bool read_record(const char* path, const JobSettings* job, RecordFile* record, std::string* error);
// Whether two headers name the same engine, renderer and version; passes
// taken otherwise may count particles on a loss boundary differently.
bool same_taker(const RecordHeader* a, const RecordHeader* b);
// "engine cpu on <renderer>, version <version>".
std::string taker_text(const RecordHeader* header);

// The global number of a process's taken-th sample (from 1): every sample
// for a run that is not split, else the shard's every N-th.
int64_t run_sample_number(const RunState* run, int32_t taken);
// Puts a recorded pass through the run as if it had just been taken: a
// sample goes to the statistics and result blocks (not for a shard), a
// random pass to replay_random_pass.
void replay_pass(RunState* run, const RecordPass* pass);
// The statistics of random passes take a recorded random pass here, in the
// order the passes were counted.
void replay_random_pass(RunState* run, int64_t index, const int32_t* levels);

// Starts the run's results (start_run) and its record: afresh, or with
// resume by reading the record back, checking that it is this job's and
// this process's, cutting off a torn last line and replaying its passes, so
// that output.csv is rebuilt before new samples are added. No record is a
// fresh start. A record that cannot be resumed ends the program through
// fatal_error before anything is written.
void start_run_with_record(RunState* run, bool resume);
// Appends the pass in run->histogram (raw level counts: call before
// add_sample_counts) as a line of the given kind ('s' or 'r'), flushed; the
// record is synced to disk at most once a second. A line that cannot be
// written is cut off again, reported, and ends the record (and a shard).
void record_pass(RunState* run, char kind, int64_t number);

// SIGTERM and SIGINT end the loop after the pass in progress instead of
// the process; a second one ends the process at once.
void install_stop_signals();
// The signal that asked the run to stop, SIGTERM when its time limit
// passed, or 0.
int stop_reason(const RunState* run);
// At the end of the run: syncs and closes the record, says how to resume a
// stopped run, and gives the exit status: 128 + the signal for a stopped
// run, kExitResultsLost when the record lost a line, else status.
int finish_run_record(RunState* run, int status, const RunOptions* options);
// The command line that resumes a run started with options.
std::string resume_command_text(const RunOptions* options);
