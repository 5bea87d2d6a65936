// The record reader on whole records of a small job: every line checked
// in its place, in memory bounded by the job's longest line; and a fold of
// a record it reads, which must hold the same samples and the same exact
// sums when read back.
#include <cstdlib>

#include "fuzz/record_input.h"
#include "results/record_read.h"
#include "results/record_write.h"

namespace {

// The record read through: the reader's state, and all its passes summed.
RecordSpan read_summed(const std::string& path, const JobSettings* job, RecordReader* r) {
  RecordSpan total = empty_span(iteration_count(job));
  RecordEntry entry;
  if (open_record_reader(r, path, job))
    while (next_record_entry(r, &entry)) add_entry(&total, &entry, iteration_count(job));
  close_record_reader(r);
  return total;
}

bool same_sums(const CountSums& a, const CountSums& b) {
  return a.passes == b.passes && a.sum == b.sum && a.sq_sum == b.sq_sum;
}

// NOTE: a record that ends owing a random pass is not folded by a run.
void check_fold(const std::string& path, const JobSettings* job, const RecordReader* read, const RecordSpan* total) {
  if (!read->error.empty() || !read->has_header || !read->shards || read->owed) return;
  RecordHeader own = read->header;
  own.format = kRecordFormat;
  own.shard = read->shard;
  own.shards = read->shards;
  RecordWriter w{};
  w.lock = FileLock{-1, 0, 0};
  if (!reopen_record(&w, read, &own)) std::abort();
  bool folded = fold_record(&w);
  close_record(&w);
  RecordReader again;
  RecordSpan after = read_summed(path, job, &again);
  if (!folded || !again.error.empty() || again.samples != read->samples || again.last != read->last) std::abort();
  if (!same_sums(after.samples, total->samples) || !same_sums(after.randoms, total->randoms)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  std::string text = fuzzed_job_text(data[0]);
  JobSettings job = read_fuzzed_job(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string path = write_fuzzed_records(bytes, job_hash(text)).front();
  RecordReader r;
  RecordSpan total = read_summed(path, &job, &r);
  check_fold(path, &job, &r, &total);
  release_job(&job);
  return 0;
}
