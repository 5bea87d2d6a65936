// The sample record: what a process has counted, so that a run can be
// stopped and resumed, and split over processes and merged into the
// results one process would have written. This file is its format: the
// header and the three kinds of line, as text and read back one by one.
// Reading a whole record is record_read.h; writing one, record_write.h.
//
// A text file, one entry per line, each line ending in '\n' (on Windows
// too: the file is written in binary). First the header:
//   veldspan-record 2 job <hash> shard <K>/<N> engine <name> version <version> precision <single|double> renderer <text to the end of the line>
// (format version 2; the job file's FNV-1a 64-bit hash in 16 hex digits;
// the process's samples, those s with (s - 1) mod N == K, 0/1 for a run
// that is not split; the engine; the program's version; the arithmetic
// it tracked in; the GL renderer, or the CPU). Then the process's passes, in the order counted:
//   s <sample number> <c_0> <c_1> ... <c_n>   a scheduled sample
//   r <random pass index> <c_0> ... <c_n>     a random pass
// with the raw level counts of levels 0 .. n, as the engine gave them
// (before they are turned into survival counts), and, after them, the word
// e<count> when some of the pass's level-0 particles started on the box's
// outermost layer of grid points; and
//   t <first> <last> <samples> <random passes> <S_0 .. S_n> <Q_0 .. Q_n> <R_0 .. R_n> <P_0 .. P_n>
//     <H_0 .. H_n> <W_0 .. W_n> <M_0 .. M_n> <L_0 .. L_n>
// the exact sums of a run of the process's samples, first to last, and of
// the random passes they owed: per result row i, the survivor counts' sum
// S_i and the sum of their squares Q_i over the samples, R_i and P_i over
// the random passes; and of the random passes, which their intervals need,
// H_i the passes that kept a survivor of the row, W_i those that kept the
// whole grid, M_i and L_i the largest and the smallest count of a pass
// (L_i is 2^63 - 1 when there is no pass). The samples' tallies are not
// kept: nothing is made of them. It ends with the word
// e<samples'>/<random passes'> when some of their level-0 particles
// started on the box's edge. A 't' line never spans a checkpoint: its
// samples lie in one checkpoint interval, (L - 1)^4 < s <= L^4, so that the
// sums at every checkpoint, and the random passes' sums there, are sums of
// whole lines.
//
// Format 1, still read, has no shard or precision in its header (it was
// single) and no 't' lines.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "map/job_file.h"
#include "results/sums.h"

const int32_t kRecordFormat = 2;
// The highest sample number a record holds and a run takes: a sample's
// jitter is keyed by 31 bits.
const int64_t kLastSample = INT32_MAX;

// What a record's header says.
struct RecordHeader {
  int32_t format;        // format version
  uint64_t job_hash;     // FNV-1a hash of the job file's bytes
  int32_t shard;         // the process's samples: (s - 1) mod shards == shard;
  int32_t shards;        //   shards 1 for a run not split, 0 when the header does not say (format 1)
  std::string engine;    // the engine that took the passes
  std::string version;   // the program's version
  std::string renderer;  // the GL renderer, or the CPU and its threads
  std::string precision; // "single" or "double"
};

// One line read back.
struct RecordEntry {
  char kind;                    // 's' a sample, 'r' a random pass, 't' the sums of a run of samples
  int64_t first;                // 's': the sample number; 'r': the random pass's index; 't': its first sample
  int64_t last;                 // 't': its last sample; else first
  std::vector<int32_t> levels;  // 's', 'r': raw counts of levels 0 .. n
  int64_t edge;                 // 's', 'r': its level-0 particles that started on the box's edge
  CountSums samples;            // 't': the sums of its samples (passes: how many)
  CountSums randoms;            // 't': the sums of the random passes they owed
};

// Entries summed: samples and the random passes they owed.
struct RecordSpan {
  int64_t first;      // the first sample in it, 0 while empty
  int64_t last;       // the last sample in it
  CountSums samples;  // their sums
  CountSums randoms;  // the sums of their random passes
};

// "samples.rec" for a run that is not split, else "shard-K-of-N.rec".
std::string record_file_name(int32_t shard, int32_t shards);

std::string record_header_text(const RecordHeader* header);
// False when the line is no header this program reads; format is set
// whenever the line begins as a header of some format.
bool parse_record_header(const std::string& line, RecordHeader* header);
std::string record_pass_text(char kind, int64_t number, const int32_t* levels, int32_t count, int64_t edge = 0);
std::string record_sums_text(const RecordSpan* span);
// Parses a line of the job's record of the given format: its fields, and
// counts that passes of the job's grid can have. False, with why, otherwise.
bool parse_record_entry(const std::string& line, const JobSettings* job, int32_t format, RecordEntry* entry,
                        std::string* why);
// The longest line a record of the job can hold, with its '\n'.
size_t longest_record_line(const JobSettings* job);

// L of the checkpoint interval that holds the sample: (L - 1)^4 < sample <= L^4.
int32_t checkpoint_of(int64_t sample);
// How many of the samples first, first + step, ... (count of them) owe a
// random pass: those that are multiples of every (none when every <= 0).
int64_t owed_randoms(int64_t first, int64_t count, int64_t step, int64_t every);

RecordSpan empty_span(int32_t turn_counts);
// Adds an entry to the span: a sample or a 't' line's sums to its samples,
// a random pass to its randoms.
void add_entry(RecordSpan* span, const RecordEntry* entry, int32_t turn_counts);
void add_sums(CountSums* to, const CountSums* from);

// Whether passes of the two headers' takers count every particle alike:
// the same engine, version and precision, and for the GL engines the same
// renderer.
// NOTE: the CPU engine's counts depend neither on its threads nor on the
// processor (every kernel build tracks the same operations), so its
// renderer text, which names them, is not compared.
bool same_taker(const RecordHeader* a, const RecordHeader* b);
// "engine cpu on <renderer>, version <version>".
std::string taker_text(const RecordHeader* header);
