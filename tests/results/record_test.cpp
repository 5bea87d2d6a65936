// The sample record's lines, its reader's checks, and its folds.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "results/ledger.h"
#include "results/record.h"
#include "results/record_read.h"
#include "results/record_write.h"
#include "test_dir.h"

namespace {

// baseres 2 (16 grid points) and two turn counts: three levels a line; a
// random pass after every 4th sample.
JobSettings small_job() {
  TestDir dir;
  write_file("input.txt", "baseres 2\niterations 10 100\nrandompasses 4\n");
  return read_job_file("input.txt");
}

const char* const kHeader =
    "veldspan-record 2 job 00ff00ff00ff00ff shard 0/1 engine cpu version 1.1.0 precision single renderer CPU: A B, "
    "2 threads\n";
const char* const kOldHeader =
    "veldspan-record 1 job 00ff00ff00ff00ff engine cpu version 1.1.0 renderer CPU: A B, 2 threads\n";

// Reads the text as a record to its end; the reader's state after it.
RecordReader read_text(const std::string& text) {
  static JobSettings job = small_job();
  TestDir dir;
  write_file("x.rec", text);
  RecordReader r;
  if (open_record_reader(&r, "x.rec", &job)) read_to_end(&r);
  close_record_reader(&r);
  return r;
}

std::string error_of(const std::string& text) { return read_text(text).error; }

// Raw level counts of a pass, made up but spread: they add up to 16.
std::vector<int32_t> levels_of(char kind, int64_t number) {
  int32_t a = int32_t((number * 7 + (kind == 'r' ? 3 : 0)) % 9), b = int32_t(number % 5);
  return {16 - a - b, a, b};
}

}  // namespace

TEST(Record, HeaderAndLinesReadBackAsWritten) {
  RecordHeader h{2, 0x0123456789abcdefull, 3, 4, "fragment", "1.1.0", "Mesa llvmpipe (LLVM 15.0.6) renderer x", "single"};
  std::string text = record_header_text(&h);
  EXPECT_EQ(text, "veldspan-record 2 job 0123456789abcdef shard 3/4 engine fragment version 1.1.0 precision single "
                  "renderer Mesa llvmpipe (LLVM 15.0.6) renderer x\n");
  RecordHeader back;
  ASSERT_TRUE(parse_record_header(text.substr(0, text.size() - 1), &back));
  EXPECT_TRUE(same_taker(&h, &back));
  EXPECT_EQ(back.job_hash, h.job_hash);
  EXPECT_EQ(back.shard * 10 + back.shards, 34);
  ASSERT_TRUE(parse_record_header(std::string(kOldHeader, std::strlen(kOldHeader) - 1), &back));
  EXPECT_EQ(back.format * 10 + back.shards, 10) << "format 1 does not tell its split";
  for (const char* bad : {"veldspan-record 2 job 00ff00ff00ff00ff engine cpu version 1 renderer x",
                          "veldspan-record 2 job 00ff00ff00ff00ff shard 4/4 engine cpu version 1 renderer x",
                          "veldspan-record 1 job 00ff engine cpu version 1 renderer x"})
    EXPECT_FALSE(parse_record_header(bad, &back)) << bad;

  JobSettings job = small_job();
  int32_t levels[3] = {9, 5, 2};
  EXPECT_EQ(record_pass_text('s', 12, levels, 3), "s 12 9 5 2\n");
  RecordEntry e;
  std::string why;
  ASSERT_TRUE(parse_record_entry("r 7 9 5 2", &job, 2, &e, &why)) << why;
  EXPECT_EQ(e.kind, 'r');
  EXPECT_EQ(e.first, 7);
  EXPECT_EQ(e.levels, (std::vector<int32_t>{9, 5, 2}));
  // A resumed format-1 record keeps its header, and the lines written after
  // it may end in a count of survivors on the box's edge.
  ASSERT_TRUE(parse_record_entry("s 8 9 5 2 e3", &job, 1, &e, &why)) << why;
  EXPECT_EQ(e.edge * 100 + e.first, 308);
  // Field counts, numbers and totals that no sample of this job can have.
  for (const char* bad : {"s 12 9 5", "s 12 9 5 2 0", "s 12 9 5 1", "s 0 16 0 0", "s -1 16 0 0", "s 3 16 0 +0",
                          "s 3 16  0 0", "x 3 16 0 0", "s 3 16 0 0x", "", "r 0 16 0 0", "s 2147483648 16 0 0"})
    EXPECT_FALSE(parse_record_entry(bad, &job, 2, &e, &why)) << bad;
  EXPECT_EQ(record_file_name(2, 4), "shard-2-of-4.rec");
  EXPECT_EQ(record_file_name(0, 0), "samples.rec");
}

// A 't' line holds exact sums, its squares beyond 64 bits too, and only
// sums that passes over the job's grid can have.
TEST(Record, SumLinesHoldExactSumsThatPassesCanHave) {
  JobSettings job = small_job();
  RecordSpan span = empty_span(2);
  RecordEntry e{'s', 17, 17, {7, 5, 4}, 0, {}, {}};
  for (int k = 0; k < 3; k++) add_entry(&span, &e, 2);
  e.kind = 'r';
  add_entry(&span, &e, 2);
  span.first = 17, span.last = 19;
  std::string why;
  span.samples.sq_sum[1] += SquareSum(1) << 100;  // beyond 64 bits, and impossible
  std::string text = record_sums_text(&span);
  EXPECT_EQ(text.substr(0, 27), "t 17 19 3 1 48 33 21 768 12") << text;
  EXPECT_NE(text.find(" 768 1267650600228229401496703205739 147 "), std::string::npos) << text;
  EXPECT_FALSE(parse_record_entry(text.substr(0, text.size() - 1), &job, 2, &e, &why)) << "impossible sums";
  EXPECT_EQ(why, "sums that no passes over the job's grid can have");
  span.samples.sq_sum[1] -= SquareSum(1) << 100;
  text = record_sums_text(&span);
  ASSERT_TRUE(parse_record_entry(text.substr(0, text.size() - 1), &job, 2, &e, &why)) << why;
  EXPECT_EQ(e.samples.sum, span.samples.sum);
  EXPECT_TRUE(e.samples.sq_sum == span.samples.sq_sum && e.randoms.sq_sum == span.randoms.sq_sum);
  EXPECT_EQ(e.randoms.passes, 1);
  EXPECT_FALSE(parse_record_entry(text.substr(0, text.size() - 1), &job, 1, &e, &why)) << "no 't' line in format 1";
  // The random passes' tallies of no pass: none hit, none whole, the
  // largest count 0 and the smallest none.
  const std::string none = " 0 0 0 0 0 0 0 0 0 9223372036854775807 9223372036854775807 9223372036854775807";
  for (const std::string& bad : std::vector<std::string>{"t 15 17 3 0 48 9 0 768 27 0 0 0 0 0 0 0" + none,  // 15 and 17 lie on both sides of 16
                          "t 1 1 1 0 15 0 0 225 0 0 0 0 0 0 0 0" + none,     // row 0 is not the grid
                          "t 1 1 1 0 16 4 9 256 16 81 0 0 0 0 0 0" + none,   // a row above the one before it
                          "t 2 3 2 0 32 2 0 512 1 0 0 0 0 0 0 0" + none,     // 2 samples cannot square-sum 2 below 2
                          "t 1 1 1 0 16 0 0 256 0 0 0 0 0 0 0" + none,       // a field missing
                          std::string("t 1 1 1 0 16 0 0 256 0 0 0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0"),  // a tally of no pass
                          std::string("t 1 1 1 1 16 0 0 256 0 0 16 0 0 256 0 0 1 0 0 1 0 0 16 0 0 17 0 0")})  // least > most
    EXPECT_FALSE(parse_record_entry(bad, &job, 2, &e, &why)) << bad;
  EXPECT_TRUE(parse_record_entry("t 1 1 1 1 16 0 0 256 0 0 16 0 0 256 0 0 1 0 0 1 0 0 16 0 0 16 0 0", &job, 2, &e, &why))
      << why;
  EXPECT_EQ(e.randoms.least, (std::vector<int64_t>{16, 0, 0}));
  EXPECT_EQ(checkpoint_of(1), 1);
  EXPECT_EQ(checkpoint_of(16), 2);
  EXPECT_EQ(checkpoint_of(17), 3);
  EXPECT_EQ(checkpoint_of(2147483647), 216);
}

// The random passes a shard's run of samples owes, against counting them.
TEST(Record, OwedRandomPassesOfAShardsSamples) {
  for (int64_t step : {1, 2, 3, 4, 6, 7})
    for (int64_t every : {0, 1, 2, 4, 6, 9})
      for (int64_t first = 1; first <= 12; first++)
        for (int64_t count = 0; count <= 20; count++) {
          int64_t counted = 0;
          for (int64_t i = 0; i < count && every > 0; i++) counted += (first + i * step) % every == 0;
          ASSERT_EQ(owed_randoms(first, count, step, every), counted) << first << " " << count << " " << step << " "
                                                                      << every;
        }
  EXPECT_EQ(owed_randoms(2147483646, 2, 2147483647, 2147483646), 1) << "without overflow";
}

// The CPU engine counts alike on every processor and with any threads; the
// GL engines' counts depend on the renderer.
TEST(Record, TakersDifferByEngineVersionAndGlRenderer) {
  RecordHeader a{2, 1, 0, 1, "cpu", "1.1.0", "CPU: A, 2 threads, AVX-512", "single"}, b = a;
  b.renderer = "CPU: B, 64 threads, AVX2";
  EXPECT_TRUE(same_taker(&a, &b));
  b.version = "1.2.0";
  EXPECT_FALSE(same_taker(&a, &b));
  b = a;
  b.precision = "double";
  EXPECT_FALSE(same_taker(&a, &b)) << "single and double precision count alike nowhere";
  RecordHeader gl{2, 1, 0, 1, "compute", "1.1.0", "NVIDIA H100", "single"}, other = gl;
  other.renderer = "llvmpipe";
  EXPECT_FALSE(same_taker(&gl, &other));
  other.engine = "fragment";
  other.renderer = gl.renderer;
  EXPECT_FALSE(same_taker(&gl, &other));
}

// A line cut off by a kill, or otherwise bad, is left out when it is the
// last one; anywhere else the record is refused, naming file and line.
TEST(Record, TornOrBadLastLineIsLeftOutAndAnyOtherIsAnError) {
  std::string whole = std::string(kHeader) + "s 1 16 0 0\ns 2 4 4 8\ns 3 16 0 0\n";
  RecordReader r = read_text(whole + "s 4 16 0");
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.samples, 3);
  EXPECT_TRUE(r.tail_dropped);
  EXPECT_EQ(r.length, int64_t(whole.size()));
  r = read_text(whole + "s 4 16 0\n");
  EXPECT_TRUE(r.tail_dropped && r.samples == 3) << "a whole last line with a field missing";
  r = read_text(whole);
  EXPECT_FALSE(r.tail_dropped);
  EXPECT_EQ(error_of(std::string(kHeader) + "s 1 16 0\ns 2 4 4 8\n"), "x.rec line 2: 2 level counts where the job "
                                                                      "has 3 levels");
  EXPECT_EQ(error_of(std::string(kHeader) + "s 1 15 0 0\ns 2 4 4 8\n"),
            "x.rec line 2: its counts add up to 15, not to the 16 grid points of the job");
  // A cut-off header is an empty record; a whole line that is no header is
  // another file, never to be overwritten.
  r = read_text("veldspan-rec");
  EXPECT_FALSE(r.has_header);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(error_of("some notes\n"), "x.rec line 1: not a sample record's header");
  EXPECT_EQ(error_of("veldspan-record 3 job 00ff00ff00ff00ff engine cpu version 9 renderer r\n"),
            "x.rec is a record of format 3; this program reads formats 1 and 2");
  // A line no record of the job can hold ends the reading there: a
  // megabyte of digits is never taken whole.
  std::string endless = std::string(kHeader) + "s 1 16 0 0\ns 2 " + std::string(1 << 20, '7') + "\n";
  EXPECT_EQ(error_of(endless), "x.rec line 3: longer than any line of a record of this job (4096 bytes)");
  EXPECT_EQ(error_of(endless.substr(0, endless.size() - 1)).substr(0, 12), "x.rec line 3");
}

// Samples from the process's first on, each once and in order; each random
// pass owed right after its sample, once; a 't' line where its samples
// belong, with the random passes they owe.
TEST(Record, EveryLineMustStandInItsPlace) {
  std::string four = std::string(kHeader) + "s 1 16 0 0\ns 2 16 0 0\ns 3 16 0 0\ns 4 16 0 0\n";
  EXPECT_EQ(read_text(four + "r 1 16 0 0\ns 5 16 0 0\n").error, "");
  struct Case {
    std::string tail, error;
  } cases[] = {
      {"s 5 16 0 0\n", "line 6: random pass 1, owed after sample 4, is missing"},
      {"r 1 16 0 0\nr 1 16 0 0\ns 5 16 0 0\n", "line 7: random pass 1 is not owed here: sample 4 owes none, or it "
                                               "was taken"},
      {"r 2 16 0 0\ns 5 16 0 0\n", "line 6: random pass 2 where random pass 1 is owed"},
      {"r 1 16 0 0\nr 1000 16 0 0\ns 5 16 0 0\n", "line 7: random pass 1000 is not owed here"},
      {"r 1 16 0 0\ns 6 16 0 0\ns 7 16 0 0\n", "line 7: sample 6 where sample 5 belongs"},
      {"r 1 16 0 0\ns 4 16 0 0\ns 5 16 0 0\n", "line 7: sample 4 where sample 5 belongs"},
      {"r 1 16 0 0\nt 5 16 12 2 192 0 0 3072 0 0 32 0 0 512 0 0 2 0 0 2 0 0 16 0 0 16 0 0\ns 17 16 0 0\n",
       "line 7: its samples owe 3 random passes, not 2"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(read_text(four + c.tail).error.substr(0, 6 + c.error.size()), "x.rec " + c.error);
  EXPECT_EQ(error_of(std::string(kHeader) + "r 1 16 0 0\ns 1 16 0 0\n"), "x.rec line 2: random pass 1 before any "
                                                                          "sample");
  RecordReader r =
      read_text(four + "r 1 16 0 0\nt 5 16 12 3 192 0 0 3072 0 0 48 0 0 768 0 0 3 0 0 3 0 0 16 0 0 16 0 0\ns 17 16 0 0\n");
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.samples, 17);
  // The last sample's pass torn off: the record is whole, and owes it.
  r = read_text(four + "r 1 1");
  EXPECT_TRUE(r.tail_dropped);
  EXPECT_EQ(r.owed, 1);
  // Format 1: the split follows from the first two samples.
  r = read_text(std::string(kOldHeader) + "s 3 16 0 0\ns 8 16 0 0\n");
  EXPECT_EQ(r.shard * 10 + r.shards, 25);
  EXPECT_EQ(error_of(std::string(kOldHeader) + "s 3 16 0 0\ns 6 16 0 0\ns 10 16 0 0\n"),
            "x.rec line 4: sample 10 where sample 9 belongs: a record holds its process's samples from the first on, "
            "each once and in order");
  EXPECT_EQ(error_of(std::string(kOldHeader) + "s 3 16 0 0\ns 4 16 0 0\n"),
            "x.rec line 3: sample 4 cannot follow sample 3 in one process's record");
}

// A fold sums the lines of each checkpoint interval into one 't' line: the
// ledger then holds the same sums at every checkpoint, a second fold
// changes nothing, and a record read back goes on where it was.
TEST(Record, FoldsSumEachCheckpointIntervalExactly) {
  JobSettings job = small_job();
  TestDir dir;
  RecordHeader h{kRecordFormat, 7, 1, 3, "cpu", "1.1.0", "CPU", "single"};
  RecordWriter w{};
  w.lock = FileLock{-1, 0, 0};
  ASSERT_TRUE(open_record(&w, "r.rec", &job, &h));
  Ledger taken = start_ledger(&job, 1, 3);
  taken.record = &w;
  while (next_sample_number(&taken) <= 300 || random_pass_owed(&taken)) {
    double jitter[4];
    Pass p = next_pass(&taken, jitter);
    p.levels = levels_of(p.kind, p.number);
    ledger_take(&taken, &p);
    if (p.number == 17 || p.number == 158) {
      ASSERT_TRUE(fold_record(&w)) << "folds at a pass that owes none";
    }
  }
  ASSERT_TRUE(close_record(&w));
  std::string folded = read_file("r.rec");
  EXPECT_EQ(folded.substr(folded.find('\n') + 1, 14), "t 2 14 5 1 80 ") << folded;
  EXPECT_NE(folded.find("\nt 83 158 26 6 416 "), std::string::npos) << "interval 4 folded up to sample 158";
  EXPECT_NE(folded.find("\ns 161 "), std::string::npos) << "the lines since then as they were";
  RecordReader r;
  ASSERT_TRUE(open_record_reader(&r, "r.rec", &job));
  Ledger read = start_ledger(&job, 1, 3);
  RecordEntry e;
  while (next_record_entry(&r, &e)) {
    Pass p{e.kind, e.first, e.levels};
    RecordSpan span{e.first, e.last, e.samples, e.randoms};
    if (e.kind == 't') ledger_take_span(&read, &span, 0);
    else ledger_take(&read, &p);
  }
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.samples, 100);
  EXPECT_EQ(read.samples.sum, taken.samples.sum);
  EXPECT_TRUE(read.samples.sq_sum == taken.samples.sq_sum && read.randoms.sq_sum == taken.randoms.sq_sum);
  EXPECT_EQ(read.randoms.passes, 25);
  // Going on from the record, then folding it whole (over the temporary
  // file of a fold a kill cut short): a fold of that changes nothing.
  ASSERT_TRUE(reopen_record(&w, &r, &h));
  close_record_reader(&r);
  write_file("r.rec.tmp", "veldspan-record 2 job 00");
  ASSERT_TRUE(fold_record(&w) && close_record(&w));
  std::string again = read_file("r.rec");
  ASSERT_TRUE(open_record_reader(&r, "r.rec", &job));
  ASSERT_TRUE(read_to_end(&r));
  close_record_reader(&r);
  EXPECT_EQ(r.samples, 100);
  EXPECT_EQ(again.find("\ns "), std::string::npos);
  ASSERT_TRUE(reopen_record(&w, &r, &h) && fold_record(&w) && close_record(&w));
  EXPECT_EQ(read_file("r.rec"), again);
}

// The disk fills up: a fold that cannot be written leaves the record as it
// was and no temporary file; a line that does not fit is cut off again,
// and the record keeps its whole lines and takes none after them.
TEST(Record, FullDiskLeavesWholeLinesAndNoHalfFold) {
  JobSettings job = small_job();
  TestDir dir;
  mkdir("disk", 0755);
  if (mount("tmpfs", "disk", "tmpfs", 0, "size=16k") != 0)
    GTEST_SKIP() << "a tmpfs could not be mounted (" << std::strerror(errno) << "); run as root to test a full disk";
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{dir.path + "/disk"};
  ASSERT_EQ(chdir("disk"), 0);
  RecordHeader h{kRecordFormat, 7, 0, 1, "cpu", "1.1.0", "CPU", "single"};
  RecordWriter w{};
  w.lock = FileLock{-1, 0, 0};
  ASSERT_TRUE(open_record(&w, "r.rec", &job, &h));
  Ledger l = start_ledger(&job, 0, 0);
  l.record = &w;
  auto take = [&l]() {
    double jitter[4];
    Pass p = next_pass(&l, jitter);
    p.levels = levels_of(p.kind, p.number);
    return ledger_take(&l, &p).record_lost;
  };
  for (int k = 0; k < 150; k++) ASSERT_FALSE(take());
  std::string record = read_file("r.rec");
  {
    std::ofstream filler("filler", std::ios::binary);
    for (int k = 0; k < 16 && filler; k++) filler << std::string(1024, 'x') << std::flush;
  }
  testing::internal::CaptureStderr();
  EXPECT_FALSE(fold_record(&w));
  EXPECT_EQ(read_file("r.rec"), record);
  EXPECT_FALSE(std::ifstream("r.rec.tmp").good());
  int taken = 150;
  while (!take() && taken < 2000) taken++;
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(w.failed && w.error == ENOSPC) << said;
  RecordReader r;
  ASSERT_TRUE(open_record_reader(&r, "r.rec", &job) && read_to_end(&r));
  close_record_reader(&r);
  EXPECT_FALSE(r.tail_dropped) << "no half line";
  EXPECT_GT(r.samples + r.owed, 120);
  EXPECT_FALSE(take()) << "no line after the lost one";
  EXPECT_EQ(read_file("r.rec").size(), size_t(r.length));
  ASSERT_EQ(chdir(".."), 0);
}
