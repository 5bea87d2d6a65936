// A scan: the job run over a line or a grid of working points, each a
// value of the map written into the job in place of the one there.
//
//   scan E V FROM TO STEPS
//
// varies value V (from 1) of map line E (from 1, counting the lines D, K,
// KS, R and M in file order) from FROM to TO in STEPS equal steps. One
// scan line gives a line of points, two a grid (the first line's values
// across, the second's down). The plan is made from the job file's text
// alone, and every point's job is parsed and checked as a run would check
// it before the plan is accepted.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "map/job_file.h"

// One "scan" line of the job file.
struct ScanLine {
  int32_t line;       // its line number in the job file, from 1
  int32_t element;    // E: the map line varied, from 1
  int32_t value;      // V: the value of that line varied, from 1
  double from;        // the first point's value
  double to;          // the last point's value, exactly
  int32_t steps;      // points along the line, 1 or more
  std::string words;  // the line as normalised words: "scan 2 1 0.26 0.32 13"
};

struct ScanPlan {
  std::vector<ScanLine> lines;  // one or two, in file order
  int32_t precision;            // the Precision the points run in, as the command line gives it; -1 for the job's own
  std::string refusal;          // why the job cannot be scanned, naming the line; "" when it can
};

// A working point: its index along each scan line (from 1) and its values.
struct ScanPoint {
  std::vector<int32_t> index;
  std::vector<double> values;
};

// The most points a scan may have.
const int64_t kMostScanPoints = 100000;

// The plan of the job's scan lines, every point's job checked; a plan
// with a refusal when the job has no scan line or cannot be scanned. The
// points are checked in precision (a Precision) when it is not -1.
ScanPlan plan_scan(const JobSource* source, int32_t precision = -1);
// Value k (from 0) of a scan line: FROM + (TO - FROM) * k / (STEPS - 1).
double scan_value(const ScanLine* line, int32_t k);
int64_t scan_point_count(const ScanPlan* plan);
// Point k (from 0) in the scan's order: the first line's index changes
// fastest.
ScanPoint scan_point(const ScanPlan* plan, int64_t k);
// "3-1" for a grid, "3" for a line of points: the point's directory name.
std::string scan_point_name(const ScanPoint* point);
// A value as written into a point's job: the fewest digits that read back
// as the same double (at most 17).
std::string scan_value_text(double value);
// The point's job: the job's text with the point's values written in and
// its scan lines left out (kept with keep_scan_lines, so that line numbers
// stay the job file's). Lines end with LF.
std::string scan_point_job(const std::string& job_text, const ScanPlan* plan, const ScanPoint* point,
                           bool keep_scan_lines);
// The scan lines' words, "; " between them.
std::string scan_lines_text(const ScanPlan* plan);
