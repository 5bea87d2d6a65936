#include "app/merge_command.h"

#include <cstdio>

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

// One record named, read for the job; false after saying why it cannot be
// merged.
bool read_one_record(const MergeOptions* o, const std::string& path, const JobSettings* job, uint64_t hash,
                     RecordFile* r) {
  std::string error;
  if (!read_record(path.c_str(), job, r, &error)) {
    std::fprintf(stderr, "veldspan merge: %s\n", error.c_str());
    return false;
  }
  if (r->has_header && r->header.job_hash != hash) {
    std::fprintf(stderr, "veldspan merge: %s is the record of another job (job file hash %016llx; %s has %016llx)"
                 "; give the job's directory with --job\n", path.c_str(),
                 static_cast<unsigned long long>(r->header.job_hash), job_file_path(o).c_str(),
                 static_cast<unsigned long long>(hash));
    return false;
  }
  if (!r->has_header) std::fprintf(stderr, "veldspan merge: %s holds no samples (no whole header)\n", path.c_str());
  if (r->tail_dropped) std::fprintf(stderr, "veldspan merge: %s: its torn last line is left out\n", path.c_str());
  return true;
}

bool read_records(const MergeOptions* o, const JobSettings* job, uint64_t hash, std::vector<RecordFile>* records) {
  for (const std::string& path : o->records) {
    records->emplace_back();
    if (!read_one_record(o, path, job, hash, &records->back())) return false;
  }
  return true;
}

// NOTE: engines, renderers and program versions may round a particle on a
// loss boundary differently; such records still merge, but the user is told.
void warn_of_other_takers(const std::vector<RecordFile>& records) {
  const RecordFile* first = nullptr;
  for (const RecordFile& r : records) {
    if (!r.has_header) continue;
    if (!first) first = &r;
    else if (!same_taker(&first->header, &r.header))
      std::fprintf(stderr, "warning: %s was taken by %s, %s by %s: particles on a loss boundary may be counted "
                   "differently\n", first->path.c_str(), taker_text(&first->header).c_str(), r.path.c_str(),
                   taker_text(&r.header).c_str());
  }
}

int32_t missing_count(const MergePlan* plan) {
  int32_t missing = 0;
  for (size_t s = 1; s < plan->samples.size(); s++) missing += !plan->samples[s];
  return missing;
}

// The job of the merge, read once; false when it cannot be one.
bool read_merge_job(const MergeOptions* o, JobSource* source, JobSettings* job) {
  std::string path = job_file_path(o);
  read_job_source(path.c_str(), source);
  *job = parse_job(source);
  if (job->baseres >= 1 && job->baseres <= 32) return true;
  std::fprintf(stderr, "veldspan merge: %s: baseres %d is out of range; it must be 1 to 32\n", path.c_str(),
               job->baseres);
  return false;
}

// Writes output.csv and aperture.csv in the job's directory from the plan;
// the status of the result files (0 or kExitResultsLost).
int write_merged_results(const MergeOptions* o, const JobSettings* job, const MergePlan* plan) {
  if (!o->job_dir.empty() && !change_dir(o->job_dir.c_str())) {
    std::fprintf(stderr, "veldspan merge: the job directory %s cannot be entered\n", o->job_dir.c_str());
    return 1;
  }
  Ledger ledger = start_ledger(job, 0, 0);
  Reports reports = start_reports();
  int32_t replayed = replay_plan(&ledger, &reports, plan);
  int status = finish_reports(&reports, &ledger);
  std::fprintf(stderr, "veldspan merge: samples 1 to %d replayed into %soutput.csv, %d result blocks\n", replayed,
               o->job_dir.empty() ? "" : (o->job_dir + "/").c_str(), ledger.next_checkpoint - 1);
  return status;
}

int report_plan(const MergePlan* plan, int status) {
  int32_t missing = missing_count(plan);
  if (!missing && plan->samples.size() >= 2) return status;
  if (plan->samples.size() < 2) std::fprintf(stderr, "veldspan merge: the records hold no samples\n");
  else std::fprintf(stderr, "veldspan merge: %d of the %lld samples are missing: %s\n", missing,
                    static_cast<long long>(plan->samples.size()) - 1, missing_samples_text(plan, 20).c_str());
  return status ? status : kExitSamplesMissing;
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
  std::vector<RecordFile> records;
  if (!read_merge_job(&o, &source, &job) || !read_records(&o, &job, source.hash, &records)) return 1;
  warn_of_other_takers(records);
  MergePlan plan = plan_merge(records, o.samples);
  if (plan.duplicate) {
    std::fprintf(stderr, "veldspan merge: %s %lld is recorded twice (%s); nothing is written\n",
                 plan.duplicate_kind == 's' ? "sample" : "random pass", static_cast<long long>(plan.duplicate),
                 plan.duplicate_files.c_str());
    return 1;
  }
  return report_plan(&plan, write_merged_results(&o, &job, &plan));
}
