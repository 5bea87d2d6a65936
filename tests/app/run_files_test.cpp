#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>

#include "app/run_state.h"
#include "app/statistics.h"
#include "map/shader_source.h"
#include "test_dir.h"

namespace {

RunState* fresh_run() {
  static RunState run;
  std::memset(&run, 0, sizeof run);
  return &run;
}

const std::regex kStartLine("Veldspan job started \\d{4}-[A-Za-z]{3}-\\d{2} \\d{2}:\\d{2}:\\d{2}\n");

}  // namespace

TEST(RunFiles, PrepareWritesExactlyTheSourceItReturns) {
  TestDir dir;
  write_file("input.txt", "baseres 4\niterations 10 100\nD 1\nK 0.5 0 -2\n");
  RunState* run = fresh_run();
  char* source = prepare_job(run);
  EXPECT_EQ(read_file("shadercode.txt"), source);
  EXPECT_EQ(std::string(source).rfind("#version 120\n", 0), 0u);
  EXPECT_EQ(run->settings.baseres, 4);
  // A second preparation replaces the file rather than appending to it.
  write_file("input.txt", "baseres 2\n");
  char* second = prepare_job(run);
  EXPECT_EQ(read_file("shadercode.txt"), second);
}

TEST(RunFiles, StartSizesTheBuffersAndWritesTheFirstLine) {
  TestDir dir;
  write_file("input.txt", "baseres 16\n");
  RunState* run = fresh_run();
  prepare_job(run);
  start_run(run);
  EXPECT_EQ(run->side, 256);
  EXPECT_EQ(run->count_sum[1], 0);  // n = 1: two rows
  EXPECT_EQ(run->count_sq_sum[1], 0u);
  EXPECT_EQ(run->samples, 0);
  EXPECT_EQ(run->next_checkpoint, 1);
  EXPECT_TRUE(std::regex_match(read_file("output.csv"), kStartLine));
}

TEST(RunFiles, EachStartDiscardsTheEarlierRun) {
  TestDir dir;
  RunState* run = fresh_run();
  prepare_job(run);
  start_run(run);
  run->samples = 1;
  write_result_block(run);
  start_run(run);
  run->samples = 1;
  write_result_block(run);
  std::string text = read_file("output.csv");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(text, m, kStartLine));
  EXPECT_EQ(m.position(0), 0);
  EXPECT_EQ(text.substr(m.length(0)), "32^4 grid\nIters,4D_Vol\nDomain,0\n100,0\n\n");
}

TEST(RunFiles, DefaultJobAfterTwoCheckpoints) {
  TestDir dir;
  RunState* run = fresh_run();
  prepare_job(run);
  start_run(run);
  size_t pixels = size_t(run->side) * run->side;
  for (int s = 1; s <= 16; s++) {
    std::memset(run->pixels, 0, pixels * 3);
    for (size_t p = 0; p < pixels / 4; p++) run->pixels[p * 3 + 2] = 128;  // a quarter lost before 100
    run->samples = s;
    ASSERT_EQ(count_levels(run), 0);
    add_sample_counts(run);
    if (s == 1 || s == 16) {
      write_result_block(run);
      run->next_checkpoint++;
    }
  }
  std::string text = read_file("output.csv");
  std::string blocks = text.substr(text.find('\n') + 1);
  EXPECT_EQ(blocks, "32^4 grid\nIters,4D_Vol\nDomain,16\n100,12\n\n64^4 grid\nIters,4D_Vol,+/-\nDomain,16,0\n100,12,0\n\n");
}

TEST(RunFiles, TextThatCannotBeWrittenIsKeptAndWrittenInOrderLater) {
  TestDir dir;
  RunState* run = fresh_run();
  prepare_job(run);
  mkdir("output.csv", 0755);  // cannot be opened as a file
  start_run(run);
  run->samples = 1;
  write_result_block(run);
  EXPECT_NE(std::strlen(run->results_pending), 0u);
  rmdir("output.csv");
  run->samples = 16;
  run->next_checkpoint = 2;
  write_result_block(run);
  std::string text = read_file("output.csv");
  EXPECT_TRUE(std::regex_search(text, kStartLine));
  size_t first = text.find("32^4 grid"), second = text.find("64^4 grid");
  EXPECT_NE(first, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_EQ(text.find("Veldspan", 1), std::string::npos);
  EXPECT_STREQ(run->results_pending, "");
}

// A small tmpfs mounted at "disk" for one test, taken away at its end.
struct SmallDisk {
  std::string path;
  ~SmallDisk() {
    if (!path.empty()) umount2(path.c_str(), MNT_DETACH);
  }
};

// Writes the block of checkpoint L as the loop does; returns its text.
std::string write_checkpoint(RunState* run, int32_t L) {
  run->samples = L * L * L * L;
  run->next_checkpoint = L;
  write_result_block(run);
  return result_block_text(run, L);
}

// The disk fills up in the middle of a block: the file keeps only whole
// blocks, the cut one stays pending with the blocks after it, and once there
// is room again the next checkpoint writes them all, in order.
TEST(RunFiles, FullDiskLeavesOnlyWholeBlocksAndTheRestFollowsLater) {
  TestDir dir;
  std::string job = "baseres 4\niterations";
  for (int k = 1; k <= 250; k++) job += " " + std::to_string(k);  // blocks of about 2 kB, cut part way
  write_file("input.txt", job + "\n");
  RunState* run = fresh_run();
  prepare_job(run);
  mkdir("disk", 0755);
  SmallDisk disk;
  if (mount("tmpfs", "disk", "tmpfs", 0, "size=16k") != 0)
    GTEST_SKIP() << "a tmpfs could not be mounted (" << std::strerror(errno) << "); run as root to test a full disk";
  disk.path = dir.path + "/disk";
  ASSERT_EQ(chdir("disk"), 0);
  write_file("filler", std::string(12288, 'x'));  // leaves one 4 kB page
  start_run(run);
  std::string whole = read_file("output.csv"), cut;
  int32_t L = 1;
  for (; L <= 6 && cut.empty(); L++) {
    std::string block = write_checkpoint(run, L);
    (run->results_pending[0] ? cut : whole) += block;
  }
  ASSERT_FALSE(cut.empty()) << "the disk never filled";
  ASSERT_GT(L, 2) << "no block fitted";
  EXPECT_EQ(read_file("output.csv"), whole);
  EXPECT_EQ(run->results_pending, cut);
  cut += write_checkpoint(run, L++);  // still full: it waits behind the cut one
  EXPECT_EQ(read_file("output.csv"), whole);
  ASSERT_EQ(unlink("filler"), 0);
  cut += write_checkpoint(run, L);
  EXPECT_EQ(read_file("output.csv"), whole + cut);
  EXPECT_STREQ(run->results_pending, "");
}

TEST(RunFiles, UnwritableShaderFileDoesNotStopPreparation) {
  TestDir dir;
  mkdir("shadercode.txt", 0755);
  RunState* run = fresh_run();
  char* source = prepare_job(run);
  EXPECT_EQ(std::string(source).rfind("#version 120\n", 0), 0u);
}
