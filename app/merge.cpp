#include "app/merge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#include "app/aperture.h"
#include "app/random_passes.h"
#include "app/statistics.h"
#include "gfx/graphics_state.h"
#include "gfx/platform.h"

namespace {

// Where each pass number was first found: the pass and its record's index.
struct Found {
  const RecordPass* pass;
  size_t record;
};

bool parse_samples(const char* text, int32_t* samples) {
  if (!*text || std::strspn(text, "0123456789") != std::strlen(text) || std::strlen(text) > 10) return false;
  long long v = std::atoll(text);
  *samples = int32_t(v);
  return v >= 1 && v <= INT32_MAX;
}

void note_duplicate(MergePlan* plan, const RecordPass* pass, const std::string& first, const std::string& second) {
  if (plan->duplicate) return;
  plan->duplicate = pass->number;
  plan->duplicate_kind = pass->kind;
  plan->duplicate_files = first == second ? first : first + " and " + second;
}

// Every pass of every record by kind and number; the first duplicate noted.
void index_passes(const std::vector<RecordFile>& records, MergePlan* plan, std::map<int64_t, Found>* samples,
                  std::map<int64_t, Found>* randoms) {
  for (size_t r = 0; r < records.size(); r++)
    for (const RecordPass& pass : records[r].passes) {
      std::map<int64_t, Found>* found = pass.kind == 's' ? samples : randoms;
      auto at = found->emplace(pass.number, Found{&pass, r});
      if (!at.second) note_duplicate(plan, &pass, records[at.first->second.record].path, records[r].path);
    }
}

bool replay_order(const RecordPass* a, const RecordPass* b) {
  return a->after != b->after ? a->after < b->after : a->number < b->number;
}

std::string range_text(int64_t first, int64_t last) {
  return first == last ? format_text("%lld", static_cast<long long>(first))
                       : format_text("%lld-%lld", static_cast<long long>(first), static_cast<long long>(last));
}

// The records named, read for the job; false after saying why one cannot
// be merged.
bool read_records(const MergeOptions* o, const JobSettings* job, uint64_t hash, std::vector<RecordFile>* records) {
  for (const std::string& path : o->records) {
    records->emplace_back();
    RecordFile* r = &records->back();
    std::string error;
    if (!read_record(path.c_str(), job, r, &error)) {
      std::fprintf(stderr, "veldspan merge: %s\n", error.c_str());
      return false;
    }
    if (r->has_header && r->header.job_hash != hash) {
      std::fprintf(stderr, "veldspan merge: %s is the record of another job (job file hash %016llx; %s has %016llx)"
                   "; give the job's directory with --job\n", path.c_str(),
                   static_cast<unsigned long long>(r->header.job_hash),
                   (o->job_dir.empty() ? std::string("input.txt") : o->job_dir + "/input.txt").c_str(),
                   static_cast<unsigned long long>(hash));
      return false;
    }
    if (!r->has_header) std::fprintf(stderr, "veldspan merge: %s holds no samples (no whole header)\n", path.c_str());
    if (r->tail_dropped) std::fprintf(stderr, "veldspan merge: %s: its torn last line is left out\n", path.c_str());
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

std::string job_file_path(const MergeOptions* o) {
  return o->job_dir.empty() ? std::string("input.txt") : o->job_dir + "/input.txt";
}

// The job of the merge, read and hashed; false when it cannot be one.
bool read_merge_job(const MergeOptions* o, JobSettings* job, uint64_t* hash) {
  std::string path = job_file_path(o);
  *job = read_job_file(path.c_str());
  *hash = job_file_hash(path.c_str());
  if (job->baseres >= 1 && job->baseres <= 32) return true;
  std::fprintf(stderr, "veldspan merge: %s: baseres %d is out of range; it must be 1 to 32\n", path.c_str(),
               job->baseres);
  return false;
}

// Writes output.csv in the job's directory from the plan; the status of
// the results file (0 or kExitResultsLost).
int write_merged_results(const MergeOptions* o, const JobSettings* job, const MergePlan* plan) {
  if (!o->job_dir.empty() && !platform_change_dir(o->job_dir.c_str())) {
    std::fprintf(stderr, "veldspan merge: the job directory %s cannot be entered\n", o->job_dir.c_str());
    return 1;
  }
  static RunState run;  // zeroed: not split, no record
  run.settings = *job;
  start_run(&run);
  start_random_passes(&run);
  int32_t replayed = replay_plan(&run, plan);
  int results = finish_results(&run), aperture = finish_aperture(&run);
  int status = results ? results : aperture;
  std::fprintf(stderr, "veldspan merge: samples 1 to %d replayed into %soutput.csv, %d result blocks\n", replayed,
               o->job_dir.empty() ? "" : (o->job_dir + "/").c_str(), run.next_checkpoint - 1);
  return status;
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

MergePlan plan_merge(const std::vector<RecordFile>& records, int32_t samples) {
  MergePlan plan{{}, {}, 0, 0, ""};
  std::map<int64_t, Found> found_samples, found_randoms;
  index_passes(records, &plan, &found_samples, &found_randoms);
  int64_t last = samples ? samples : found_samples.empty() ? 0 : found_samples.rbegin()->first;
  plan.samples.assign(size_t(last) + 1, nullptr);
  for (const auto& f : found_samples)
    if (f.first <= last) plan.samples[size_t(f.first)] = f.second.pass;
  for (const auto& f : found_randoms) plan.randoms.push_back(f.second.pass);
  std::sort(plan.randoms.begin(), plan.randoms.end(), replay_order);
  return plan;
}

std::string missing_samples_text(const MergePlan* plan, size_t limit) {
  std::vector<std::string> ranges;
  int64_t last = int64_t(plan->samples.size()) - 1;
  for (int64_t s = 1; s <= last; s++) {
    if (plan->samples[size_t(s)]) continue;
    int64_t end = s;
    while (end < last && !plan->samples[size_t(end + 1)]) end++;
    ranges.push_back(range_text(s, end));
    s = end;
  }
  std::string text;
  for (size_t k = 0; k < ranges.size() && k < limit; k++) text += (k ? ", " : "") + ranges[k];
  if (ranges.size() > limit) text += format_text(" and %lld more", static_cast<long long>(ranges.size() - limit));
  return text;
}

int32_t replay_plan(RunState* run, const MergePlan* plan) {
  size_t next_random = 0;
  int64_t s = 0;
  for (;; s++) {
    for (; next_random < plan->randoms.size() && plan->randoms[next_random]->after == s; next_random++)
      replay_pass(run, plan->randoms[next_random]);
    if (s + 1 >= int64_t(plan->samples.size()) || !plan->samples[size_t(s + 1)]) break;
    replay_pass(run, plan->samples[size_t(s + 1)]);
  }
  return int32_t(s);
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
  JobSettings job;
  uint64_t hash;
  std::vector<RecordFile> records;
  if (!read_merge_job(&o, &job, &hash) || !read_records(&o, &job, hash, &records)) return 1;
  warn_of_other_takers(records);
  MergePlan plan = plan_merge(records, o.samples);
  if (plan.duplicate) {
    std::fprintf(stderr, "veldspan merge: %s %lld is recorded twice (%s); nothing is written\n",
                 plan.duplicate_kind == 's' ? "sample" : "random pass", static_cast<long long>(plan.duplicate),
                 plan.duplicate_files.c_str());
    return 1;
  }
  int status = write_merged_results(&o, &job, &plan);
  int32_t missing = missing_count(&plan);
  if (!missing && plan.samples.size() >= 2) return status;
  if (plan.samples.size() < 2) std::fprintf(stderr, "veldspan merge: the records hold no samples\n");
  else std::fprintf(stderr, "veldspan merge: %d of the %lld samples are missing: %s\n", missing,
                    static_cast<long long>(plan.samples.size()) - 1, missing_samples_text(&plan, 20).c_str());
  return status ? status : kExitSamplesMissing;
}
