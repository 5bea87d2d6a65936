// The merge of whole records of a small job: each surveyed, the plan of
// what they hold (for the highest sample recorded and for the last a
// record can hold), what is missing named, and the replay into the result
// files. A merge of records that miss nothing replays every sample.
#include <cstdlib>

#include "fuzz/record_input.h"
#include "results/merge.h"

namespace {

bool survey_all(const std::vector<std::string>& paths, const JobSettings* job, uint64_t hash,
                std::vector<RecordReader>* records) {
  records->resize(paths.size());
  std::string error;
  for (size_t i = 0; i < paths.size() && error.empty(); i++)
    survey_record(&(*records)[i], paths[i], job, hash, "input.txt", &error);
  return error.empty();
}

void name_missing(const MergePlan* plan, const std::vector<RecordReader>& records) {
  int64_t randoms;
  missing_samples_text(plan, 20);
  missing_randoms_text(plan, records, &randoms);
}

void replay(const JobSettings* job, std::vector<RecordReader>* records, const MergePlan* plan) {
  Ledger ledger = start_ledger(job, 0, 0);
  Reports reports = start_reports();
  std::string error;
  bool replayed = replay_plan(&ledger, &reports, records, plan, &error);
  finish_reports(&reports, &ledger);
  if (!replayed || ledger_samples(&ledger) > plan->last) std::abort();
  if (missing_count(plan) == 0 && ledger_samples(&ledger) != plan->last) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string text = fuzzed_job_text(data[0]);
  JobSettings job = read_fuzzed_job(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<RecordReader> records;
  if (survey_all(write_fuzzed_records(bytes, job_hash(text)), &job, job_hash(text), &records)) {
    MergePlan whole = plan_merge(records, kLastSample), plan = plan_merge(records, 0);
    name_missing(&whole, records);
    name_missing(&plan, records);
    if (plan.refusal.empty()) in_fuzz_dir([&] { replay(&job, &records, &plan); });
  }
  for (RecordReader& r : records) close_record_reader(&r);
  release_job(&job);
  return 0;
}
