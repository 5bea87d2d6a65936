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
#include <cstdio>
#include <string>
#include <vector>

#include "map/job_file.h"

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
// Whether passes of the two headers' takers count every particle alike:
// the same engine and version, and for the GL engines the same renderer.
// NOTE: the CPU engine's counts depend neither on its threads nor on the
// processor (every kernel build tracks the same operations), so its
// renderer text, which names them, is not compared.
bool same_taker(const RecordHeader* a, const RecordHeader* b);
// "engine cpu on <renderer>, version <version>".
std::string taker_text(const RecordHeader* header);

// A record being written: one line per pass, appended as it is counted,
// flushed, and synced to disk at most once a second.
struct RecordWriter {
  std::string path;
  FILE* file;     // null when none is open, and for good after a line was lost
  double synced;  // clock of the last sync
  bool failed;    // a line could not be written: the record holds the whole lines before it
  int error;      // errno of that failure
};

// Opens the record at path: a new one with its header, or (append) one
// read back, to go on. False when it cannot be opened or the header not
// written (then failed, with error).
bool open_record(RecordWriter* w, const std::string& path, bool append, const RecordHeader* header);
// Appends a line; false when it could not be written: the line is cut off
// again, the record closed, and no line is taken after it, so that it
// never has a gap.
bool append_record_line(RecordWriter* w, const std::string& line);
// Syncs and closes the record; false (failed set) when that fails.
bool close_record(RecordWriter* w);
