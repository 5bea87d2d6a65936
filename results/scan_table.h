// The results of a scan: whether each working point's run is complete,
// judged by its sample record and its aperture.csv, and "scan.csv", the
// points' random-pass figures side by side:
//
//   Veldspan scan of job "<job>" at <date-time>: scan 2 1 0.26 0.32 13; scan 2 2 0.28 0.34 13
//   point,value1,value2,Iters,passes,volume,stat_err,lo95,hi95[,da_sigma,da_lo95,da_hi95]
//   1-1,0.26,0.28,100,32,0.00407314,...
//
// one row per complete point and turn count, points in the scan's order.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "results/record_read.h"

// What a point's aperture.csv holds.
struct ApertureTable {
  bool read;                                   // its header and column lines were there
  int64_t sample;                              // the "sample N" of its header; -1 when it names none
  std::vector<std::string> columns;            // the column names
  std::vector<std::vector<std::string>> rows;  // the cells of each row after the column line
};

ApertureTable parse_aperture_table(const std::string& text);

// What a complete run of a point holds: samples 1 .. max_samples, and
// the random passes owed for them (one after every `every` samples).
struct PointGoal {
  uint64_t job_hash;    // the hash of the point's input.txt
  int32_t max_samples;  // the run's last sample
  int32_t every;        // the job's randompasses, 1 or more
};

// The largest fourth power up to max_samples: the sample of the run's
// last result block, at which its aperture.csv was last written.
int64_t last_checkpoint_sample(int32_t max_samples);
// What one of a point's records (samples.rec, or a shard's) holds, as its
// reader found it reading it to the end: every line in its place.
struct RecordHolding {
  std::string path;
  bool has_header;
  uint64_t job_hash;  // its header's
  int32_t shard;      // its samples: (s - 1) mod shards == shard
  int32_t shards;
  int64_t samples;    // samples it holds, its own from its first on
  int64_t owed;       // a random pass owed for its last sample and not in it; 0 for none
};
RecordHolding record_holding(const RecordReader* read_to_its_end);

// "" when the point is complete: its records are of its job and hold every
// sample 1 .. max_samples and every random pass owed for them, and its
// aperture.csv was written at the last result block or later. Otherwise
// what is missing.
std::string point_incompleteness(const std::vector<RecordHolding>& records, const PointGoal* goal,
                                 const ApertureTable* aperture);

// A complete point as the table shows it.
struct TablePoint {
  std::string name;                 // "3-1", or "3"
  std::vector<std::string> values;  // its values, as written into its job
  ApertureTable aperture;
};

// The whole of scan.csv. The DA columns are there when any point's
// aperture.csv has them; a figure a point's file lacks is "-".
std::string scan_table_text(const std::string& job, const char* when, const std::string& scan_lines,
                            int32_t value_columns, const std::vector<TablePoint>& points);
