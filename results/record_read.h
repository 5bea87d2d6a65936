// Reading a record back line by line, in memory that does not grow with
// its length, each line checked as it comes: its fields against the job,
// and its place against the lines before it. A process's record holds its
// samples from its first on, each once and in order, and each random pass
// it owes right after the sample that owes it: pass j after sample
// j * every, once, before the next sample. A 't' line stands for the
// samples and random passes it sums.
//
// A last line without its '\n' (the process was ended while writing it),
// or with the wrong fields, is left out; anywhere else such a line, and
// anywhere a line out of its place, is an error naming the file and the
// line.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "map/job_file.h"
#include "results/record.h"

struct RecordReader {
  std::string path;
  FILE* file;              // null once closed
  const JobSettings* job;  // the job the record must be of; outlives the reader
  int64_t limit;           // bytes to read; -1 for the whole file
  size_t longest;          // the longest line a record of the job holds
  int64_t line;            // lines read
  int64_t length;          // bytes of the whole lines taken
  int64_t folded;          // bytes of the header and of the 't' lines after it, up to the first other line
  bool has_header;         // false for an empty file, or one whose header line was cut off
  RecordHeader header;
  bool tail_dropped;       // a torn or bad last line was left out
  int32_t shard;           // the process's samples: (s - 1) mod shards == shard;
  int32_t shards;          //   shards 0 while not known (a format-1 record before its second sample)
  int64_t first;           // its first sample; 0 before
  int64_t samples;         // its samples read
  int64_t last;            // its last sample read; 0 before
  int64_t owed;            // the random pass owed for that sample and not yet read; 0 for none
  std::string error;       // why it cannot be read; "" when it can
  std::string buffer;      // bytes read from the file and not yet taken from at on
  size_t at;
  int64_t position;        // bytes read from the file
};

// Opens the record at path for the job and reads its header; false, with
// error, when it cannot be read, or when its first line is whole but no
// header of a format this program reads. The caller checks the header
// (its job above all) before reading on.
bool open_record_reader(RecordReader* r, const std::string& path, const JobSettings* job);
// For a record whose header does not say (format 1): the samples it must
// hold, those s with (s - 1) mod shards == shard (shards >= 1).
void expect_split(RecordReader* r, int32_t shard, int32_t shards);
// The next entry; false at the end of the record, or at an error (error set).
bool next_record_entry(RecordReader* r, RecordEntry* entry);
// Reads every entry; false at an error.
bool read_to_end(RecordReader* r);
// Goes back to the first entry, to read the record again as it was read
// before: up to the end of the whole lines found then, whatever was added
// since. False when the file cannot be read again.
bool rewind_record_reader(RecordReader* r);
void close_record_reader(RecordReader* r);
