// End-to-end: the real program split into shards and merged, stopped,
// killed and resumed, judged by the output.csv one uninterrupted run
// writes. Headless with the CPU engine, so no display is needed.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "process.h"
#include "test_dir.h"
#include "util/text_util.h"

namespace {

// The worked example at baseres 16: 65536 particles a sample.
const char* const kJob =
    "baseres 16\niterations 10 100\nxcollimator -0.5 0.5\nycollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n";

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

std::string make_job(const std::string& dir) {
  mkdir(dir.c_str(), 0755);
  write_file(dir + "/input.txt", kJob);
  return dir;
}

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
  for (int k = 0; k < 3000 && lines_in("job/samples.rec") < lines; k++)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
  ASSERT_EQ(merge(args), 0) << read_file("merge.log");
  EXPECT_EQ(results("job/output.csv"), one);
  EXPECT_EQ(aperture("job"), aperture("one"));

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
