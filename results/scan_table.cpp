#include "results/scan_table.h"

#include <algorithm>

#include "results/schedule.h"
#include "util/numbers.h"
#include "util/text_util.h"

namespace {

const char* const kFigureColumns[] = {"passes", "volume", "stat_err", "lo95", "hi95"};
const char* const kDaColumns[] = {"da_sigma", "da_lo95", "da_hi95"};

std::vector<std::string> text_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t at = 0; next_text_line(text, &at, &line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> cells(const std::string& line) {
  std::vector<std::string> out;
  for (size_t start = 0;;) {
    size_t comma = line.find(',', start);
    out.push_back(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return out;
    start = comma + 1;
  }
}

// The N of "...: sample N (" in the header line; -1 when there is none.
int64_t header_sample(const std::string& header) {
  size_t at = header.rfind(": sample ");
  if (at == std::string::npos) return -1;
  at += 9;
  size_t end = header.find(' ', at);
  int64_t sample;
  return parse_whole(header.substr(at, end == std::string::npos ? std::string::npos : end - at), 0, INT64_MAX,
                     &sample) ? sample : -1;
}

// The samples 1 .. last that a process of the split takes.
int64_t own_samples(int32_t shard, int32_t shards, int64_t last) {
  return last > shard ? (last - shard - 1) / shards + 1 : 0;
}

// NOTE: each record holds its own samples from its first on, in order
// (its reader checked that), so one that holds as many as there are up to
// the limit holds every one of them; and a random pass owed for one of them
// follows it before the next, so one still owed is the only one missing.
std::string records_incompleteness(const std::vector<RecordHolding>& records, const PointGoal* goal) {
  int64_t samples = 0;
  for (const RecordHolding& r : records) {
    if (!r.has_header) continue;
    if (r.job_hash != goal->job_hash) return r.path + " is the record of another job";
    int32_t shards = r.shards > 0 ? r.shards : 1;
    int64_t due = own_samples(r.shard, shards, goal->max_samples);
    samples += std::min(r.samples, due);
    if (r.samples >= due && r.owed > 0 && r.owed <= goal->max_samples / goal->every)
      return format_text("its record %s lacks random pass %lld", r.path.c_str(), static_cast<long long>(r.owed));
  }
  if (samples == 0 && goal->max_samples > 0) return "no record of its samples";
  if (samples < goal->max_samples)
    return format_text("its record holds %lld of its %d samples", static_cast<long long>(samples), goal->max_samples);
  return "";
}

int column_of(const ApertureTable* a, const char* name) {
  for (size_t k = 0; k < a->columns.size(); k++)
    if (a->columns[k] == name) return int(k);
  return -1;
}

bool has_da(const std::vector<TablePoint>& points) {
  for (const TablePoint& p : points)
    if (column_of(&p.aperture, kDaColumns[0]) >= 0) return true;
  return false;
}

// A cell by its column's name; "-" where the file has no such figure.
std::string cell(const ApertureTable* a, const std::vector<std::string>& row, const char* name) {
  int k = column_of(a, name);
  return k >= 0 && size_t(k) < row.size() && !row[size_t(k)].empty() ? row[size_t(k)] : "-";
}

std::string point_rows(const TablePoint& p, bool da) {
  std::string t, start = p.name;
  for (const std::string& v : p.values) start += "," + v;
  for (const std::vector<std::string>& row : p.aperture.rows) {
    if (row.empty() || row[0] == "Domain") continue;  // the whole box, the same at every point
    t += start + "," + row[0];
    for (const char* name : kFigureColumns) t += "," + cell(&p.aperture, row, name);
    if (da)
      for (const char* name : kDaColumns) t += "," + cell(&p.aperture, row, name);
    t += "\n";
  }
  return t;
}

}  // namespace

ApertureTable parse_aperture_table(const std::string& text) {
  ApertureTable a{false, -1, {}, {}};
  std::vector<std::string> lines = text_lines(text);
  if (lines.size() < 2) return a;
  a.read = true;
  a.sample = header_sample(lines[0]);
  a.columns = cells(lines[1]);
  for (size_t k = 2; k < lines.size(); k++)
    if (!lines[k].empty()) a.rows.push_back(cells(lines[k]));
  return a;
}

int64_t last_checkpoint_sample(int32_t max_samples) {
  int32_t l = 1;
  while (checkpoint_samples(l + 1) <= max_samples) l++;
  return checkpoint_samples(l);
}

RecordHolding record_holding(const RecordReader* r) {
  return RecordHolding{r->path, r->has_header, r->header.job_hash, r->shard, r->shards, r->samples, r->owed};
}

std::string point_incompleteness(const std::vector<RecordHolding>& records, const PointGoal* goal,
                                 const ApertureTable* aperture) {
  std::string why = records_incompleteness(records, goal);
  if (!why.empty()) return why;
  if (!aperture->read) return "it has no aperture.csv";
  // NOTE: the record's last line is written before the result files of
  // its pass: a run ended between the two has an aperture.csv of an
  // earlier result block, which the next run with --resume writes again.
  int64_t last = last_checkpoint_sample(goal->max_samples);
  if (aperture->sample < last)
    return format_text("its aperture.csv is of sample %lld, not of its last result block (sample %lld)",
                       static_cast<long long>(aperture->sample), static_cast<long long>(last));
  return "";
}

std::string scan_table_text(const std::string& job, const char* when, const std::string& scan_lines,
                            int32_t value_columns, const std::vector<TablePoint>& points) {
  bool da = has_da(points);
  std::string t = format_text("Veldspan scan of job \"%s\" at %s: %s\npoint", job.c_str(), when, scan_lines.c_str());
  for (int32_t k = 1; k <= value_columns; k++) t += format_text(",value%d", k);
  t += ",Iters,passes,volume,stat_err,lo95,hi95";
  if (da) t += ",da_sigma,da_lo95,da_hi95";
  t += "\n";
  for (const TablePoint& p : points) t += point_rows(p, da);
  return t;
}
