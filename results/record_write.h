// Writing a process's record: one line per pass, appended as it is
// counted, flushed, and synced to disk at most once a second; a process
// killed at any moment loses no whole pass.
//
// NOTE: so that the record of a run of any length stays small, it is
// folded: once the lines after its last fold are as long as the file
// before them, and at least 1 MiB, its lines are summed into its header
// and one 't' line per checkpoint interval (record.h), written to a
// temporary file that then takes the record's place. The fold waits for a
// pass that owes no random pass, and depends on the record's bytes alone,
// so that a run killed and resumed any number of times leaves the same
// record, byte for byte, as a run that never stopped.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "map/job_file.h"
#include "results/record.h"
#include "results/record_read.h"
#include "util/files.h"

struct RecordWriter {
  std::string path;
  FILE* file;              // null when none is open, and for good after a line was lost
  const JobSettings* job;  // the run's job, which the record's lines are read against when it is folded
  RecordHeader header;     // the header of the record (format 2, with its split)
  double synced;           // clock of the last sync
  int64_t length;          // bytes of the whole lines in the file
  int64_t fold_at;         // the length from which it is folded at the next pass that owes none
  bool failed;             // a line could not be written: the record holds the whole lines before it
  int error;               // errno of that failure
  bool fold_failed;        // a fold could not be made (said once); the record then keeps its lines
  FileLock lock;           // the record's lock, held by the process; open and close leave it alone
};

// Starts a new record at path with its header. False when it cannot be
// opened or the header not written (then failed, with error).
bool open_record(RecordWriter* w, const std::string& path, const JobSettings* job, const RecordHeader* header);
// Goes on with the record the reader read to its end: appends after its
// last whole line (a torn one cut off first), keeping the header it has
// but for its format and split, which are header's. Folds it at once when
// a fold is due.
bool reopen_record(RecordWriter* w, const RecordReader* read, const RecordHeader* header);
// Appends a line; clean when the line leaves no random pass owed, so that
// a fold may follow. False when it could not be written: the line is cut
// off again, the record closed, and no line is taken after it, so that it
// never has a gap.
bool append_record_line(RecordWriter* w, const std::string& line, bool clean);
// Folds the record now. False, after saying why, when it could not be
// folded; the record is then as it was.
bool fold_record(RecordWriter* w);
// Syncs and closes the record; false (failed set) when that fails.
bool close_record(RecordWriter* w);
