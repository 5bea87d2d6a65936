#include "app/merge_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "gfx/graphics_state.h"
#include "results/merge.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text_util.h"

namespace {

bool parse_samples(const char* text, int32_t* samples) { return parse_whole32(text, 1, INT32_MAX, samples); }

std::string job_file_path(const MergeOptions* o) {
  return o->job_dir.empty() ? std::string("input.txt") : o->job_dir + "/input.txt";
}

// Every record named, read through for the job; false after saying why one
// cannot be merged.
bool survey_records(const MergeOptions* o, const JobSettings* job, uint64_t hash, std::vector<RecordReader>* records) {
  records->resize(o->records.size());
  for (size_t i = 0; i < o->records.size(); i++) {
    RecordReader* r = &(*records)[i];
    std::string error;
    if (!survey_record(r, o->records[i], job, hash, job_file_path(o), &error)) {
      std::fprintf(stderr, "veldspan merge: %s\n", error.c_str());
      return false;
    }
    if (!r->has_header)
      std::fprintf(stderr, "veldspan merge: %s holds no samples (no whole header)\n", r->path.c_str());
    if (r->tail_dropped) std::fprintf(stderr, "veldspan merge: %s: its torn last line is left out\n", r->path.c_str());
  }
  return true;
}

// Passes tracked in single and in double precision are two measurements
// of two maps: one record of each never adds up to one run's results.
bool one_precision(const std::vector<RecordReader>& records) {
  const RecordReader* first = nullptr;
  for (const RecordReader& r : records) {
    if (!r.has_header) continue;
    if (!first) first = &r;
    if (r.header.precision == first->header.precision) continue;
    std::fprintf(stderr, "veldspan merge: %s was taken in %s precision, %s in %s: records of two precisions do not "
                 "merge; nothing is written\n", first->path.c_str(), first->header.precision.c_str(), r.path.c_str(),
                 r.header.precision.c_str());
    return false;
  }
  return true;
}

// NOTE: engines, renderers and program versions may round a particle on a
// loss boundary differently; such records still merge, but the user is told.
void warn_of_other_takers(const std::vector<RecordReader>& records) {
  const RecordReader* first = nullptr;
  for (const RecordReader& r : records) {
    if (!r.has_header) continue;
    if (!first) first = &r;
    else if (!same_taker(&first->header, &r.header))
      std::fprintf(stderr, "warning: %s was taken by %s, %s by %s: particles on a loss boundary may be counted "
                   "differently\n", first->path.c_str(), taker_text(&first->header).c_str(), r.path.c_str(),
                   taker_text(&r.header).c_str());
  }
}

// The job of the merge, read once; false when there is none, or it is one
// no run can have taken.
bool read_merge_job(const MergeOptions* o, JobSource* source, JobSettings* job) {
  std::string path = job_file_path(o), refusal;
  if (!o->job_dir.empty() && file_length(o->job_dir.c_str()) < 0)
    refusal = format_text("the job directory %s cannot be found (%s)", o->job_dir.c_str(), std::strerror(errno));
  else if (file_length(path.c_str()) < 0)
    refusal = format_text("%s cannot be read (%s): the records are merged for the job in it", path.c_str(),
                          std::strerror(errno));
  if (refusal.empty()) {
    read_job_source(path.c_str(), source);
    *job = parse_job(source);
    // NOTE: a merge tracks nothing, so a value only double precision holds
    // is no reason to refuse it; the records say which precision they took.
    job->precision = kPrecisionDouble;
    refusal = job_refusal(job);
  }
  if (!refusal.empty()) std::fprintf(stderr, "veldspan merge: %s\n", refusal.c_str());
  return refusal.empty();
}

// Writes output.csv and aperture.csv in the job's directory from the plan;
// the status of the result files (0 or kExitResultsLost), or 1.
int write_merged_results(const MergeOptions* o, const JobSettings* job, std::vector<RecordReader>* records,
                         const MergePlan* plan) {
  if (!o->job_dir.empty() && !change_dir(o->job_dir.c_str())) {
    std::fprintf(stderr, "veldspan merge: the job directory %s cannot be entered\n", o->job_dir.c_str());
    return 1;
  }
  Ledger ledger = start_ledger(job, 0, 0);
  remove_stale_temporaries();  // a merge killed while writing may have left one
  Reports reports = start_reports();
  std::string error;
  bool replayed = replay_plan(&ledger, &reports, records, plan, &error);
  int status = finish_reports(&reports, &ledger);
  if (!replayed) std::fprintf(stderr, "veldspan merge: %s\n", error.c_str());
  std::fprintf(stderr, "veldspan merge: samples 1 to %d replayed into %soutput.csv, %d result blocks\n",
               ledger_samples(&ledger), o->job_dir.empty() ? "" : (o->job_dir + "/").c_str(),
               ledger.next_checkpoint - 1);
  return replayed ? status : 1;
}

// What is missing, said; the exit status.
int report_plan(const MergePlan* plan, const std::vector<RecordReader>& records, int status) {
  int64_t missing = missing_count(plan), randoms = 0;
  std::string random_text = missing_randoms_text(plan, records, &randoms);
  if (!plan->last) std::fprintf(stderr, "veldspan merge: the records hold no samples\n");
  else if (missing)
    std::fprintf(stderr, "veldspan merge: %lld of the %lld samples are missing: %s\n", static_cast<long long>(missing),
                 static_cast<long long>(plan->last), missing_samples_text(plan, 20).c_str());
  if (randoms)
    std::fprintf(stderr, "veldspan merge: random passes missing (%lld):\n%s", static_cast<long long>(randoms),
                 random_text.c_str());
  bool whole = plan->last && !missing && !randoms;
  return status || whole ? status : kExitSamplesMissing;
}

}  // namespace

bool parse_merge_options(int argc, const char* const* argv, MergeOptions* o, std::string* error) {
  *o = MergeOptions{"", 0, {}, false};
  error->clear();
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    bool valued = a == "--samples" || a == "--job";
    if (valued && i + 1 >= argc) *error = a + " needs a value";
    else if (a == "--samples" && !parse_samples(argv[i + 1], &o->samples))
      *error = format_text("bad value for --samples: %s", argv[i + 1]);
    else if (a == "--job") o->job_dir = argv[i + 1];
    else if (a == "--help" || a == "-h") o->help = true;
    else if (!valued && a.size() > 1 && a[0] == '-') *error = "unknown option " + a;
    else if (!valued) o->records.push_back(a);
    if (!error->empty()) return false;
    i += valued;
  }
  if (o->records.empty() && !o->help) *error = "no record to merge";
  return error->empty();
}

std::string merge_usage_text() {
  return "usage: veldspan merge [--samples N] [--job DIR] RECORD...\n"
         "Replays the samples of the records (shard-K-of-N.rec, samples.rec) in order and writes\n"
         "the output.csv that one run of the job would have written, into DIR (default: the\n"
         "working directory), whose input.txt must be the job the records were taken for.\n"
         "  --samples N   the run's samples are 1 to N (default: up to the highest recorded)\n"
         "  --job DIR     the job's directory\n"
         "Exit status 3 when samples are missing: the blocks before the first gap are written.\n";
}

int merge_command(int argc, const char* const* argv) {
  graphics.headless = 1;  // a merge never opens a window, nor shows a box
  MergeOptions o;
  std::string error;
  if (!parse_merge_options(argc, argv, &o, &error)) {
    std::fprintf(stderr, "veldspan merge: %s\n%s", error.c_str(), merge_usage_text().c_str());
    return 2;
  }
  if (o.help) {
    std::fputs(merge_usage_text().c_str(), stdout);
    return 0;
  }
  JobSource source;
  JobSettings job;
  std::vector<RecordReader> records;
  if (!read_merge_job(&o, &source, &job) || !survey_records(&o, &job, source.hash, &records)) return 1;
  if (!one_precision(records)) return 1;
  warn_of_other_takers(records);
  MergePlan plan = plan_merge(records, o.samples);
  if (!plan.refusal.empty()) {
    std::fprintf(stderr, "veldspan merge: %s; nothing is written\n", plan.refusal.c_str());
    return 1;
  }
  return report_plan(&plan, records, write_merged_results(&o, &job, &records, &plan));
}
