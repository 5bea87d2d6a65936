// The merge of records: its plan of what the records hold, and its replay
// into the results one process writes.
#include <gtest/gtest.h>

#include "results/merge.h"
#include "results/record_write.h"
#include "test_dir.h"

namespace {

const uint64_t kHash = 0x1234;

// 16 grid points, two turn counts, a random pass after every 4th sample.
JobSettings small_job() {
  TestDir dir;
  write_file("input.txt", "baseres 2\niterations 10 100\nrandompasses 4\n");
  return read_job_file("input.txt");
}

std::vector<int32_t> levels_of(char kind, int64_t number) {
  int32_t a = int32_t((number * 7 + (kind == 'r' ? 3 : 0)) % 9), b = int32_t(number % 5);
  return {16 - a - b, a, b};
}

// Takes the passes of shard K of N (N 0: not split) up to sample last, as
// a run does, into its record; folds it after every fold_every-th pass
// that owes none (0: never). With reports, writes them as a run does.
void take_run(const JobSettings* job, int32_t shard, int32_t shards, int64_t last, int fold_every,
              Reports* reports = nullptr) {
  RecordHeader h{kRecordFormat, kHash, shard, shards ? shards : 1, "cpu", "1.1.0", "CPU", "single"};
  RecordWriter w{};
  w.lock = FileLock{-1, 0, 0};
  ASSERT_TRUE(open_record(&w, record_file_name(shard, shards), job, &h));
  Ledger l = start_ledger(job, shard, shards);
  l.record = &w;
  for (int passes = 1; next_sample_number(&l) <= last || random_pass_owed(&l); passes++) {
    double jitter[4];
    Pass p = next_pass(&l, jitter);
    p.levels = levels_of(p.kind, p.number);
    LedgerDue due = ledger_take(&l, &p);
    if (reports) write_due_reports(reports, &l, &due);
    if (fold_every && passes % fold_every == 0 && !l.owed) {
      ASSERT_TRUE(fold_record(&w));
    }
  }
  if (reports) finish_reports(reports, &l);
  ASSERT_TRUE(close_record(&w));
}

std::vector<RecordReader> survey(const JobSettings* job, std::vector<std::string> paths) {
  std::vector<RecordReader> records(paths.size());
  for (size_t i = 0; i < paths.size(); i++) {
    std::string error;
    EXPECT_TRUE(survey_record(&records[i], paths[i], job, kHash, "input.txt", &error)) << error;
  }
  return records;
}

// Merges the records into output.csv and aperture.csv; the samples replayed.
int32_t merge(const JobSettings* job, std::vector<RecordReader>* records, int64_t samples) {
  MergePlan plan = plan_merge(*records, samples);
  EXPECT_EQ(plan.refusal, "");
  Ledger ledger = start_ledger(job, 0, 0);
  Reports reports = start_reports();
  std::string error;
  EXPECT_TRUE(replay_plan(&ledger, &reports, records, &plan, &error)) << error;
  finish_reports(&reports, &ledger);
  return ledger_samples(&ledger);
}

std::string after_first_line(const std::string& path) {
  std::string text = read_file(path);
  return text.substr(text.find('\n') + 1);
}

std::string write_line(const std::string& path, const std::string& text) {
  write_file(path, text);
  return path;
}

}  // namespace

// The merge of shards folded at any passes, and of a run's own record,
// writes the files one process wrote, byte for byte after the date line.
TEST(Merge, FoldedRecordsMergeIntoTheOneProcessResults) {
  JobSettings job = small_job();
  TestDir dir;
  Reports reports = start_reports();
  take_run(&job, 0, 0, 700, 0, &reports);
  std::string output = after_first_line("output.csv"), aperture = after_first_line("aperture.csv");
  ASSERT_NE(output.find("10^4 irregular grid"), std::string::npos) << "checkpoints 1 to 5: 625 samples\n" << output;
  std::vector<std::string> paths;
  for (int32_t k = 0; k < 3; k++) {
    take_run(&job, k, 3, 700, 7 + 5 * k);
    paths.push_back(record_file_name(k, 3));
  }
  std::vector<RecordReader> records = survey(&job, paths);
  EXPECT_EQ(merge(&job, &records, 0), 700);
  EXPECT_EQ(after_first_line("output.csv"), output);
  EXPECT_EQ(after_first_line("aperture.csv"), aperture);
  take_run(&job, 0, 0, 700, 3);
  records = survey(&job, {"samples.rec"});
  EXPECT_EQ(merge(&job, &records, 0), 700);
  EXPECT_EQ(after_first_line("output.csv"), output);
  // A merge of fewer samples than recorded: the blocks up to it.
  EXPECT_EQ(merge(&job, &records, 300), 256) << "'t' lines past sample 300 are not cut";
  EXPECT_EQ(after_first_line("output.csv"), output.substr(0, output.find("10^4 irregular grid")));
}

// What is missing is worked out from how many samples each shard holds, so
// no merge holds anything per sample, however high the sample numbers.
TEST(Merge, PlanNamesWhatIsMissingWithoutHoldingIt) {
  JobSettings job = small_job();
  TestDir dir;
  for (int32_t k : {0, 2, 3}) take_run(&job, k, 4, 40 + k, 0);
  std::vector<RecordReader> records = survey(&job, {"shard-0-of-4.rec", "shard-2-of-4.rec", "shard-3-of-4.rec"});
  MergePlan plan = plan_merge(records, 0);
  EXPECT_EQ(plan.last, 40) << "the highest sample recorded";
  EXPECT_EQ(missing_count(&plan), 10);
  EXPECT_EQ(missing_samples_text(&plan, 20), "2, 6, 10, 14, 18, 22, 26, 30, 34, 38");
  EXPECT_EQ(missing_samples_text(&plan, 2), "2, 6 and 8 more");
  plan = plan_merge(records, 2147483647);
  EXPECT_EQ(missing_count(&plan), 2147483647 - 30);
  EXPECT_EQ(missing_samples_text(&plan, 12), "2, 6, 10, 14, 18, 22, 26, 30, 34, 38, 41-2147483647");
  EXPECT_EQ(merge(&job, &records, 0), 1);

  // One well-formed line of sample 2^31 - 1 in a record of format 1.
  std::string old = write_line("old.rec", "veldspan-record 1 job 0000000000001234 engine cpu version 1 renderer x\n"
                                          "s 2147483647 16 0 0\n");
  records = survey(&job, {old});
  plan = plan_merge(records, 0);
  EXPECT_EQ(plan.shards, 2147483647);
  EXPECT_EQ(missing_samples_text(&plan, 3), "1-2147483646");

  // A sample twice, and records of two splits: refused.
  take_run(&job, 0, 2, 10, 0);
  records = survey(&job, {"shard-0-of-4.rec", "shard-0-of-4.rec"});
  EXPECT_EQ(plan_merge(records, 0).refusal, "sample 1 is recorded twice (shard-0-of-4.rec and shard-0-of-4.rec)");
  records = survey(&job, {"shard-0-of-4.rec", "shard-0-of-2.rec"});
  EXPECT_EQ(plan_merge(records, 0).refusal, "shard-0-of-4.rec holds shard 0 of 4, shard-0-of-2.rec holds shard 0 of 2:"
                                            " the records of one merge come from one split of the run");

  // The random pass of a shard's last sample, cut off with its line.
  std::string text = read_file("shard-3-of-4.rec");
  write_file("shard-3-of-4.rec", text.substr(0, text.rfind("r ")) + "r 1");
  records = survey(&job, {"shard-0-of-4.rec", "shard-3-of-4.rec"});
  plan = plan_merge(records, 0);
  int64_t count;
  EXPECT_EQ(missing_randoms_text(&plan, records, &count), "random pass 10 (after sample 40 in shard-3-of-4.rec)\n");
  EXPECT_EQ(count, 1);
}
