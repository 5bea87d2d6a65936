// The sample record's lines and files, and the merge's plan.
#include <gtest/gtest.h>

#include "results/merge.h"
#include "results/record.h"
#include "test_dir.h"

namespace {

// baseres 2 (16 grid points) and two turn counts: three levels a line.
JobSettings small_job() {
  TestDir dir;
  write_file("input.txt", "baseres 2\niterations 10 100\n");
  return read_job_file("input.txt");
}

const char* const kHeader =
    "veldspan-record 1 job 00ff00ff00ff00ff engine cpu version 1.1.0 renderer CPU: A B, 2 threads\n";

RecordFile read_text(const std::string& text, std::string* error) {
  JobSettings job = small_job();
  TestDir dir;
  write_file("x.rec", text);
  RecordFile record;
  *error = "";
  if (!read_record("x.rec", &job, &record, error)) record.passes.clear();
  return record;
}

RecordFile record_of(const std::string& path, std::vector<std::pair<char, int64_t>> passes) {
  RecordFile r{path, true, RecordHeader{}, {}, 0, false};
  int64_t after = 0;
  for (auto p : passes) {
    r.passes.push_back(RecordPass{p.first, p.second, p.first == 'r' ? after : 0, {16, 0, 0}});
    if (p.first == 's') after = p.second;
  }
  return r;
}

}  // namespace

TEST(Record, HeaderAndPassLinesReadBackAsWritten) {
  RecordHeader h{1, 0x0123456789abcdefull, "fragment", "1.1.0", "Mesa llvmpipe (LLVM 15.0.6, 256 bits) renderer x"};
  std::string text = record_header_text(&h);
  EXPECT_EQ(text, "veldspan-record 1 job 0123456789abcdef engine fragment version 1.1.0 renderer Mesa llvmpipe "
                  "(LLVM 15.0.6, 256 bits) renderer x\n");
  RecordHeader back;
  ASSERT_TRUE(parse_record_header(text.substr(0, text.size() - 1), &back));
  EXPECT_TRUE(same_taker(&h, &back));
  EXPECT_EQ(back.job_hash, h.job_hash);
  JobSettings job = small_job();
  int32_t levels[3] = {9, 5, 2};
  EXPECT_EQ(record_pass_text('s', 12, levels, 3), "s 12 9 5 2\n");
  RecordPass pass;
  std::string why;
  ASSERT_TRUE(parse_record_pass("r 7 9 5 2", &job, &pass, &why)) << why;
  EXPECT_EQ(pass.kind, 'r');
  EXPECT_EQ(pass.number, 7);
  EXPECT_EQ(pass.levels, (std::vector<int32_t>{9, 5, 2}));
  // Field counts, numbers and totals that no sample of this job can have.
  for (const char* bad : {"s 12 9 5", "s 12 9 5 2 0", "s 12 9 5 1", "s 0 16 0 0", "s -1 16 0 0", "s 3 16 0 +0",
                          "s 3 16  0 0", "x 3 16 0 0", "s 3 16 0 0x", ""})
    EXPECT_FALSE(parse_record_pass(bad, &job, &pass, &why)) << bad;
  EXPECT_FALSE(parse_record_header("veldspan-record 1 job 00ff engine cpu version 1 renderer x", &back));
  EXPECT_EQ(record_file_name(2, 4), "shard-2-of-4.rec");
  EXPECT_EQ(record_file_name(0, 0), "samples.rec");
}

// The CPU engine counts alike on every processor and with any threads; the
// GL engines' counts depend on the renderer.
TEST(Record, TakersDifferByEngineVersionAndGlRenderer) {
  RecordHeader a{1, 1, "cpu", "1.1.0", "CPU: A, 2 threads, AVX-512"}, b = a;
  b.renderer = "CPU: B, 64 threads, AVX2";
  EXPECT_TRUE(same_taker(&a, &b));
  b.version = "1.2.0";
  EXPECT_FALSE(same_taker(&a, &b));
  RecordHeader gl{1, 1, "compute", "1.1.0", "NVIDIA H100"}, other = gl;
  other.renderer = "llvmpipe";
  EXPECT_FALSE(same_taker(&gl, &other));
  other.engine = "fragment";
  other.renderer = gl.renderer;
  EXPECT_FALSE(same_taker(&gl, &other));
}

// A line cut off by a kill, or otherwise bad, is left out when it is the
// last one; anywhere else the record is refused, naming file and line.
TEST(Record, TornOrBadLastLineIsLeftOutAndAnyOtherIsAnError) {
  std::string error, whole = std::string(kHeader) + "s 1 16 0 0\nr 1 8 8 0\ns 2 4 4 8\n";
  RecordFile r = read_text(whole + "s 3 16 0", &error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(r.passes.size(), 3u);
  EXPECT_TRUE(r.tail_dropped);
  EXPECT_EQ(r.whole_length, int64_t(whole.size()));
  EXPECT_EQ(r.passes[1].after, 1) << "a random pass knows the sample it followed";
  EXPECT_EQ(r.passes[2].number, 2);
  r = read_text(whole + "s 3 16 0\n", &error);
  EXPECT_TRUE(r.tail_dropped && r.passes.size() == 3) << "a whole last line with a field missing";
  r = read_text(whole, &error);
  EXPECT_FALSE(r.tail_dropped);
  read_text(std::string(kHeader) + "s 1 16 0\ns 2 4 4 8\n", &error);
  EXPECT_EQ(error, "x.rec line 2: 2 level counts where the job has 3 levels");
  read_text(std::string(kHeader) + "s 1 15 0 0\ns 2 4 4 8\n", &error);
  EXPECT_EQ(error, "x.rec line 2: its counts add up to 15, not to the 16 grid points of the job");
  // A cut-off header is an empty record; a whole line that is no header is
  // another file, never to be overwritten.
  r = read_text("veldspan-rec", &error);
  EXPECT_FALSE(r.has_header);
  EXPECT_EQ(error, "");
  read_text("some notes\n", &error);
  EXPECT_EQ(error, "x.rec line 1: not a sample record's header");
  read_text("veldspan-record 2 job 00ff00ff00ff00ff engine cpu version 9 renderer r\n", &error);
  EXPECT_EQ(error, "x.rec is a record of format 2; this program reads format 1");
}

TEST(Merge, PlanFindsDuplicatesGapsAndTheReplayOrder) {
  std::vector<RecordFile> shards{record_of("a.rec", {{'s', 1}, {'s', 3}, {'r', 2}, {'s', 5}}),
                                 record_of("b.rec", {{'r', 1}, {'s', 2}, {'r', 3}, {'s', 6}})};
  MergePlan plan = plan_merge(shards, 9);
  EXPECT_EQ(plan.duplicate, 0);
  EXPECT_EQ(missing_samples_text(&plan, 20), "4, 7-9");
  EXPECT_EQ(missing_samples_text(&plan, 1), "4 and 1 more");
  ASSERT_EQ(plan.randoms.size(), 3u);
  EXPECT_EQ(plan.randoms[0]->number, 1);  // before any sample
  EXPECT_EQ(plan.randoms[1]->number, 3);  // after sample 2
  EXPECT_EQ(plan.randoms[2]->number, 2);  // after sample 3
  EXPECT_EQ(plan_merge(shards, 0).samples.size(), 7u) << "up to the highest sample recorded";
  shards.push_back(record_of("c.rec", {{'s', 3}}));
  plan = plan_merge(shards, 0);
  EXPECT_EQ(plan.duplicate, 3);
  EXPECT_EQ(plan.duplicate_kind, 's');
  EXPECT_EQ(plan.duplicate_files, "a.rec and c.rec");
  shards.pop_back();
  shards.push_back(record_of("c.rec", {{'r', 2}}));
  EXPECT_EQ(plan_merge(shards, 0).duplicate_kind, 'r');
}

