// End-to-end: the real program split into shards and merged, stopped,
// killed and resumed, judged by the output.csv one uninterrupted run
// writes. Headless with the CPU engine, so no display is needed.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "map/job_file.h"
#include "process.h"
#include "test_dir.h"
#include "util/text_util.h"

namespace {

// The worked example at baseres 16: 65536 particles a sample.
const char* const kJob =
    "baseres 16\niterations 10 100\nxcollimator -0.5 0.5\nycollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n";
// The worked example at baseres 2: 16 particles, a sample in microseconds,
// and records that grow fast enough to be folded within a second.
const char* const kTinyJob =
    "baseres 2\niterations 10 100\nxcollimator -0.5 0.5\nycollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n";

std::vector<std::string> command(std::vector<std::string> args) {
  std::vector<std::string> line{VELDSPAN_PROGRAM, "--headless", "--engine", "cpu"};
  line.insert(line.end(), args.begin(), args.end());
  return line;
}

int run(std::vector<std::string> args, const std::string& log = "program.log") {
  return wait_program(spawn_program(command(args), log), 120);
}

int merge(std::vector<std::string> args) {
  args.insert(args.begin(), {VELDSPAN_PROGRAM, "merge"});
  return wait_program(spawn_program(args, "merge.log"), 60);
}

// output.csv without its dated first line.
std::string results(const std::string& path) {
  std::string text = read_file(path);
  return text.substr(text.find('\n') + 1);
}

std::string make_job(const std::string& dir, const char* job = kJob) {
  mkdir(dir.c_str(), 0755);
  write_file(dir + "/input.txt", job);
  return dir;
}

// Every file of a directory by name, with its bytes.
std::map<std::string, std::string> files_in(const std::string& dir) {
  std::map<std::string, std::string> files;
  DIR* d = opendir(dir.c_str());
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') files[e->d_name] = read_file(dir + "/" + e->d_name);
  closedir(d);
  return files;
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The one-process run everything is compared with: 256 samples, blocks
// 1^4 to 4^4, and 64 random passes.
std::string reference_results() {
  make_job("one");
  EXPECT_EQ(run({"--max-samples", "256", "one"}), 0) << read_file("program.log");
  return results("one/output.csv");
}

// aperture.csv below its header line, which names the job's directory.
std::string aperture(const std::string& dir) { return results(dir + "/aperture.csv"); }

// Whole lines of the record of the given kind ('s' samples, 'r' random
// passes).
int lines_in(const std::string& path, char kind = 's') {
  std::string text = "\n" + read_file(path);
  int lines = 0;
  for (size_t at = text.find(std::string("\n") + kind + " "); at != std::string::npos;
       at = text.find(std::string("\n") + kind + " ", at + 1))
    lines += text.find('\n', at + 1) != std::string::npos;
  return lines;
}

// Starts a run and ends it with the signal once its record holds at least
// lines lines; returns its exit status.
int signal_run(int signal_number, int lines, std::vector<std::string> args) {
  int pid = spawn_program(command(args), "program.log");
  for (int k = 0; k < 3000 && lines_in("job/samples.rec") < lines; k++) sleep_ms(5);
  kill(pid, signal_number);
  return wait_program(pid, 60);
}

}  // namespace

TEST(Shards, FourShardsMergeIntoTheOneProcessResults) {
  TestDir dir;
  std::string one = reference_results();
  ASSERT_EQ(one.substr(0, 8), "16^4 gri");
  make_job("job");
  std::vector<int> pids;
  for (int k = 0; k < 4; k++)
    pids.push_back(spawn_program(command({"--shard", std::to_string(k) + "/4", "--max-samples", "256", "job"}),
                                 "shard" + std::to_string(k) + ".log"));
  for (int k = 0; k < 4; k++)
    ASSERT_EQ(wait_program(pids[k], 120), 0) << read_file("shard" + std::to_string(k) + ".log");
  EXPECT_FALSE(std::ifstream("job/output.csv").good()) << "a shard leaves output.csv to the merge";
  EXPECT_EQ(lines_in("job/shard-3-of-4.rec"), 64);
  EXPECT_EQ(lines_in("job/shard-3-of-4.rec", 'r'), 64) << "every 4th sample's random pass";
  std::vector<std::string> records{"job/shard-0-of-4.rec", "job/shard-1-of-4.rec", "job/shard-2-of-4.rec",
                                   "job/shard-3-of-4.rec"};
  std::vector<std::string> args{"--samples", "256", "--job", "job"};
  args.insert(args.end(), records.begin(), records.end());
  write_file("job/aperture.csv.tmp", "left by a merge killed while writing");
  ASSERT_EQ(merge(args), 0) << read_file("merge.log");
  EXPECT_EQ(results("job/output.csv"), one);
  EXPECT_EQ(aperture("job"), aperture("one"));
  EXPECT_FALSE(std::ifstream("job/aperture.csv.tmp").good()) << "a stale temporary file is removed";

  // Without shard 2: the blocks before its first sample (3), and status 3
  // naming what is missing.
  std::vector<std::string> three(args.begin(), args.end() - 2);
  three.push_back(records[3]);
  EXPECT_EQ(merge(three), 3);
  EXPECT_EQ(results("job/output.csv"), one.substr(0, one.find("32^4 grid")));
  EXPECT_NE(read_file("merge.log").find("64 of the 256 samples are missing: 3, 7, 11,"), std::string::npos)
      << read_file("merge.log");
  // A record given twice: refused, nothing written.
  std::string before = read_file("job/output.csv");
  args.push_back(records[1]);
  EXPECT_EQ(merge(args), 1);
  EXPECT_NE(read_file("merge.log").find("sample 2 is recorded twice"), std::string::npos) << read_file("merge.log");
  EXPECT_EQ(read_file("job/output.csv"), before);
}

// A run ended by SIGTERM keeps a whole record and says how to go on; a
// resumed run killed outright, with a torn line left at the end of its
// record, resumes again; the result is the uninterrupted run's.
TEST(Shards, StoppedKilledAndTornRunsResumeToTheSameResults) {
  TestDir dir;
  std::string one = reference_results();
  make_job("job");
  ASSERT_EQ(signal_run(SIGTERM, 40, {"--max-samples", "256", "job"}), 143) << read_file("program.log");
  std::string record = read_file("job/samples.rec"), log = read_file("program.log");
  ASSERT_EQ(record.back(), '\n');
  int samples = lines_in("job/samples.rec");
  EXPECT_LT(samples, 256);
  EXPECT_NE(log.find(format_text("stopped by SIGTERM after %d samples", samples)), std::string::npos) << log;
  EXPECT_NE(log.find("To go on: veldspan --resume --headless --engine cpu --max-samples 256 job"), std::string::npos);

  EXPECT_EQ(signal_run(SIGKILL, samples + 40, {"--resume", "--max-samples", "256", "job"}), -2);
  EXPECT_TRUE(std::ifstream("job/samples.rec.lock").good()) << "the killed run's lock file, which holds nothing";
  int kept = lines_in("job/samples.rec");
  EXPECT_GT(kept, samples);
  std::ofstream("job/samples.rec", std::ios::app) << "s " << kept + 1 << " 7 1";  // cut off in the middle
  ASSERT_EQ(run({"--resume", "--max-samples", "256", "job"}), 0) << read_file("program.log");
  EXPECT_NE(read_file("program.log").find("a torn last line was cut off"), std::string::npos);
  EXPECT_EQ(results("job/output.csv"), one);
  EXPECT_EQ(aperture("job"), aperture("one"));
  EXPECT_EQ(lines_in("job/samples.rec"), 256);
  EXPECT_EQ(lines_in("job/samples.rec", 'r'), 64);
  // Complete already: a resume takes nothing and rebuilds the same file.
  ASSERT_EQ(run({"--resume", "--max-samples", "256", "job"}), 0);
  EXPECT_EQ(results("job/output.csv"), one);
  // Another job's record is not resumed, and output.csv stays as it was.
  std::string before = read_file("job/output.csv");
  write_file("job/input.txt", std::string(kJob) + "D 0\n");
  EXPECT_EQ(run({"--resume", "job"}), 1);
  EXPECT_NE(read_file("program.log").find("samples.rec is the record of another job"), std::string::npos);
  EXPECT_EQ(read_file("job/output.csv"), before);
}

// Two processes on one record: the second ends at once with status 1,
// naming the first, and changes nothing, however it was started; shards,
// with records of their own, run beside it. The first goes on unharmed.
TEST(Shards, ASecondProcessOnARecordEndsAtOnceAndChangesNothing) {
  TestDir dir;
  std::string one = reference_results(), one_record = read_file("one/samples.rec");
  make_job("job");
  int first = spawn_program(command({"job"}), "first.log");
  for (int k = 0; k < 2000 && lines_in("job/samples.rec") < 20; k++) sleep_ms(5);
  ASSERT_EQ(kill(first, SIGSTOP), 0);  // holds the lock, and keeps its files still
  std::map<std::string, std::string> before = files_in("job");
  for (const auto& args : std::vector<std::vector<std::string>>{{"job"}, {"--resume", "job"},
                                                                {"--resume", "--max-samples", "1", "job"}}) {
    EXPECT_EQ(run(args), 1) << read_file("program.log");
    EXPECT_NE(read_file("program.log").find(format_text("another process (pid %d) is running on samples.rec", first)),
              std::string::npos) << read_file("program.log");
  }
  EXPECT_EQ(files_in("job"), before) << "not even output.csv was emptied, nor graphics_error.log written";
  EXPECT_EQ(run({"--shard", "1/2", "--max-samples", "16", "job"}), 0) << read_file("program.log");
  kill(first, SIGCONT);
  kill(first, SIGTERM);
  ASSERT_EQ(wait_program(first, 60), 143) << read_file("first.log");
  ASSERT_EQ(run({"--resume", "--max-samples", "256", "job"}), 0) << read_file("program.log");
  EXPECT_EQ(results("job/output.csv"), one);
  EXPECT_EQ(read_file("job/samples.rec"), one_record);

  // Started together: one runs, the other ends at once; the results are
  // one run's.
  make_job("both");
  int a = spawn_program(command({"--max-samples", "256", "both"}), "a.log");
  int b = spawn_program(command({"--max-samples", "256", "both"}), "b.log");
  std::vector<int> statuses{wait_program(a, 120), wait_program(b, 120)};
  std::sort(statuses.begin(), statuses.end());
  EXPECT_EQ(statuses, (std::vector<int>{0, 1})) << read_file("a.log") << read_file("b.log");
  EXPECT_EQ(results("both/output.csv"), one);
  EXPECT_EQ(read_file("both/samples.rec"), one_record);
}

// A run without a limit on a tiny job folds its record as it goes; runs
// killed at any moment, folds included, and resumed leave the record, the
// blocks and the aperture of a run that never stopped, byte for byte; the
// merge of the folded record writes them too.
TEST(Shards, LongRunsFoldTheirRecordAndResumeToTheSameBytes) {
  TestDir dir;
  make_job("one", kTinyJob);
  std::vector<std::string> args{"--max-samples", "150000"};
  ASSERT_EQ(run({"--max-samples", "150000", "one"}), 0) << read_file("program.log");
  std::string record = read_file("one/samples.rec");
  EXPECT_LT(record.size(), 1500000u) << "150000 samples and 37500 random passes take 3.3 MB of lines";
  EXPECT_NE(record.find("\nt 1297 2401 1105 276 17680 "), std::string::npos);
  make_job("job", kTinyJob);
  for (int delay : {120, 350, 250}) {
    int pid = spawn_program(command({"--resume", "--max-samples", "150000", "job"}), "program.log");
    sleep_ms(delay);
    kill(pid, SIGKILL);
    wait_program(pid, 60);
  }
  ASSERT_EQ(run({"--resume", "--max-samples", "150000", "job"}), 0) << read_file("program.log");
  EXPECT_EQ(read_file("job/samples.rec"), record);
  EXPECT_EQ(results("job/output.csv"), results("one/output.csv"));
  EXPECT_EQ(aperture("job"), aperture("one"));
  make_job("merged", kTinyJob);
  ASSERT_EQ(merge({"--job", "merged", "one/samples.rec"}), 0) << read_file("merge.log");
  EXPECT_EQ(results("merged/output.csv"), results("one/output.csv"));
  EXPECT_EQ(aperture("merged"), aperture("one"));
}

// What cannot be resumed is refused before anything is written: status 1,
// the reason on stderr, and the directory as it was (its lock file aside).
TEST(Shards, ARefusedResumeWritesNothing) {
  TestDir dir;
  struct Case {
    std::string record, message;
  } cases[] = {
      {"veldspan-record 2 job 0123456789abcdef shard 0/1 engine cpu version 1 precision single renderer r\ns 1 1 2 3 4 65530\n",
       "samples.rec is the record of another job (job file hash 0123456789abcdef; input.txt has "},
      {"s 1 7 4085 4\ns 2 0 4096 0\ns 3 0 4096 0\ns 4 0 4096 0\nr 1 0 4096 0\nr 1 0 4096 0\ns 5 0 4096 0\n",
       "samples.rec line 7: random pass 1 is not owed here"},
      {"s 1 7 4085 4\ns 2 0 4096 0\ns 3 0 4096 0\ns 4 0 4096 0\ns 5 0 4096 0\n",
       "samples.rec line 6: random pass 1, owed after sample 4, is missing"},
      {"s 1 7 4085 4\ns 3 0 4096 0\n", "samples.rec line 3: sample 3 where sample 2 belongs"},
  };
  for (const Case& c : cases) {
    make_job("job", "baseres 8\niterations 10 100\n");
    std::string header = format_text("veldspan-record 2 job %016llx shard 0/1 engine cpu version 1 precision single renderer r\n",
                                     static_cast<unsigned long long>(job_hash(read_file("job/input.txt"))));
    write_file("job/samples.rec", c.record[0] == 'v' ? c.record : header + c.record);
    std::map<std::string, std::string> before = files_in("job");
    EXPECT_EQ(run({"--resume", "job"}), 1);
    EXPECT_NE(read_file("program.log").find("The run cannot be resumed: " + c.message), std::string::npos)
        << read_file("program.log");
    before["samples.rec.lock"] = "";
    EXPECT_EQ(files_in("job"), before);
    EXPECT_EQ(merge({"--job", "job", "job/samples.rec"}), 1) << "the merge refuses the same lines";
    EXPECT_NE(read_file("merge.log").find("samples.rec " + c.message.substr(12, 30)), std::string::npos)
        << read_file("merge.log");
    shell("rm -rf job");
  }
}

// Random pass lines count as samples do for the merge's exit status; a
// merge of sample numbers up to 2^31 - 1, or of a shard of 2000000000,
// needs nothing per sample; a merge without its job says so.
TEST(Shards, MergesOfAnySampleNumbersStayWithinMemory) {
  TestDir dir;
  make_job("job");
  for (int k = 0; k < 2; k++)
    ASSERT_EQ(run({"--shard", std::to_string(k) + "/2", "--max-samples", "16", "job"}), 0) << read_file("program.log");
  std::string shard1 = read_file("job/shard-1-of-2.rec");
  ASSERT_EQ(shard1.substr(shard1.rfind('\n', shard1.size() - 2) + 1, 4), "r 4 ") << "after sample 16";
  write_file("job/shard-1-of-2.rec", shard1.substr(0, shard1.rfind("\nr ") + 4));  // r 4 cut off
  EXPECT_EQ(merge({"--job", "job", "job/shard-0-of-2.rec", "job/shard-1-of-2.rec"}), 3);
  EXPECT_NE(read_file("merge.log").find("random passes missing (1):\nrandom pass 4 (after sample 16 in "
                                        "job/shard-1-of-2.rec)"), std::string::npos) << read_file("merge.log");
  EXPECT_EQ(merge({"--samples", "2147483647", "--job", "job", "job/shard-0-of-2.rec"}), 3);
  EXPECT_NE(read_file("merge.log").find("2147483639 of the 2147483647 samples are missing: 2, 4, 6,"),
            std::string::npos) << read_file("merge.log");

  // A shard of 2000000000 without a limit: its samples 1 and 2000000001,
  // the last a record holds; resumed and merged like any other.
  ASSERT_EQ(run({"--shard", "0/2000000000", "job"}), 0) << read_file("program.log");
  EXPECT_EQ(lines_in("job/shard-0-of-2000000000.rec"), 2);
  EXPECT_EQ(run({"--resume", "--shard", "0/2000000000", "job"}), 0) << read_file("program.log");
  EXPECT_EQ(merge({"--job", "job", "job/shard-0-of-2000000000.rec"}), 3);
  EXPECT_NE(read_file("merge.log").find("1999999999 of the 2000000001 samples are missing: 2-2000000000"),
            std::string::npos) << read_file("merge.log");

  EXPECT_EQ(merge({"--job", "/nonexistent", "job/shard-0-of-2.rec"}), 1);
  EXPECT_NE(read_file("merge.log").find("the job directory /nonexistent cannot be found"), std::string::npos)
      << read_file("merge.log");
}

// Single and double precision are two maps' measurements: a record of one
// is not resumed in the other, and records of both do not merge.
TEST(Shards, PrecisionsAreNeverMixed) {
  TestDir dir;
  make_job("job");
  ASSERT_EQ(run({"--shard", "0/2", "--max-samples", "8", "--precision", "double", "job"}), 0) << read_file("program.log");
  ASSERT_EQ(run({"--shard", "1/2", "--max-samples", "8", "job"}), 0) << read_file("program.log");
  EXPECT_NE(read_file("job/shard-0-of-2.rec").find(" precision double renderer "), std::string::npos);
  std::string record = read_file("job/shard-1-of-2.rec");
  EXPECT_EQ(run({"--shard", "1/2", "--max-samples", "16", "--precision", "double", "--resume", "job"}), 1);
  EXPECT_NE(read_file("program.log").find("was taken in single precision, and this run is in double: give --precision "
                                          "single to go on with it"),
            std::string::npos) << read_file("program.log");
  EXPECT_EQ(read_file("job/shard-1-of-2.rec"), record);
  EXPECT_EQ(merge({"--job", "job", "job/shard-0-of-2.rec", "job/shard-1-of-2.rec"}), 1);
  EXPECT_NE(read_file("merge.log").find("records of two precisions do not merge"), std::string::npos)
      << read_file("merge.log");
  EXPECT_FALSE(std::ifstream("job/output.csv").good());
  // A job that only double precision can hold merges from its records.
  make_job("wide", "baseres 4\niterations 10\nD 1e39\nmaxsamples 4\n");
  ASSERT_EQ(run({"--precision", "double", "wide"}), 0) << read_file("program.log");
  std::string output = read_file("wide/output.csv");
  make_job("wide_merged", read_file("wide/input.txt").c_str());
  ASSERT_EQ(merge({"--job", "wide_merged", "wide/samples.rec"}), 0) << read_file("merge.log");
  EXPECT_EQ(read_file("wide_merged/output.csv").substr(output.find('\n')), output.substr(output.find('\n')));
}

// A box that cuts the stable region: the Henon map at +-0.15, where every
// point of the box's outermost layer survives. Said once on stderr, and in
// aperture.csv's header with the count, which the record keeps for a
// merge to write the same.
TEST(Shards, ABoxThatCutsTheStableRegionIsSaidAndCounted) {
  TestDir dir;
  make_job("job", "baseres 6\niterations 10 100\nxrange -0.15 0.15\nxprange -0.15 0.15\nyrange -0.15 0.15\n"
                  "yprange -0.15 0.15\nxcollimator -10 10\nycollimator -10 10\nK 0 -2 -0.6\nR 0.205 0.204\n"
                  "maxsamples 16\n");
  ASSERT_EQ(run({"job"}), 0) << read_file("program.log");
  std::string log = read_file("program.log"), edge = "started on the box's outermost layer of grid points";
  ASSERT_NE(log.find(edge), std::string::npos) << log;
  EXPECT_EQ(log.find(edge, log.find(edge) + 1), std::string::npos) << "said once";
  // 6^4 - 4^4 = 1040 edge points in each of the 4 random passes.
  EXPECT_NE(read_file("job/aperture.csv").find("random passes (randompasses 4, seed 20110101); 4160 survivors of the "
                                               "last turn count in the random passes started on the box's edge"),
            std::string::npos) << read_file("job/aperture.csv");
  EXPECT_NE(read_file("job/samples.rec").find(" e1040\n"), std::string::npos);
  make_job("merged", read_file("job/input.txt").c_str());
  ASSERT_EQ(merge({"--job", "merged", "job/samples.rec"}), 0) << read_file("merge.log");
  EXPECT_EQ(aperture("merged"), aperture("job"));
}
