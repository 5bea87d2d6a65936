// End-to-end: every engine against the reference tracker, runs without a
// window or a display, the engine auto picks, and the command line.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "results/sums.h"
#include "process.h"
#include "results.h"
#include "test_dir.h"

namespace {

const char* const kEngines[] = {"fragment", "cpu"};

// The worked example's map, the ring of the benchmark, and a job with
// collimators on the x plane only (the y limits stay untested), each on a
// 16^4 grid so that one pixel in 10,000 is a few pixels.
const char* const kJobs[] = {
    "baseres 16\niterations 10 100\nxcollimator -0.5 0.5\nycollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n",
    "baseres 16\niterations 10 100 1000\nxrange -0.5 0.5\nxprange -0.5 0.5\nyrange -0.5 0.5\n"
    "yprange -0.5 0.5\nxcollimator -1 1\nycollimator -1 1\nD 0.5\nK 1.2 0.2\nD 0.5\nK -1.2 0 0.5\n",
    "baseres 16\niterations 5 50 500\nxcollimator -0.6 0.6\nD 0.7\nK 0.4 0.3 -1.5\n",
};

const char* const kWorkedJob = "baseres 4\niterations 10 100\nxcollimator -0.5 0.5\nycollimator -0.5 0.5\nD 1\n"
                               "K 0.5 0 -2\nmaxsamples 16\n";

// Runs the program with the given options in the working directory, without
// a display when headless; returns its exit status.
int run_veldspan(std::vector<std::string> options, bool display = true, const std::string& log = "program.log") {
  options.insert(options.begin(), VELDSPAN_PROGRAM);
  if (!display) options.insert(options.begin(), {"/usr/bin/env", "-u", "DISPLAY"});
  return wait_program(spawn_program(options, log), 120);
}

std::set<std::string> files_here() {
  std::set<std::string> names;
  DIR* d = opendir(".");
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') names.insert(e->d_name);
  closedir(d);
  return names;
}

}  // namespace

TEST(Engines, EachAgreesWithTheReferenceApartFromLossBoundaries) {
  for (const char* job : kJobs)
    for (const char* engine : kEngines) {
      TestDir dir;
      write_file("input.txt", job);
      ASSERT_EQ(run_veldspan({"--headless", "--engine", engine, "--max-samples", "1"}, false), 0)
          << engine << ": " << read_file("program.log");
      JobSettings s = read_job_file("input.txt");
      std::vector<Block> blocks = result_blocks(read_file("output.csv"));
      ASSERT_EQ(blocks.size(), 1u) << engine;
      double pixels = std::pow(s.baseres, 4.0);
      EXPECT_LE(largest_difference(blocks[0], &s, 1), pixels * 1e-4) << engine << " on\n" << job;
    }
}

TEST(Engines, HeadlessRunsNeedNoDisplayAndMatchTheWindow) {
  for (const char* engine : kEngines) {
    TestDir dir;
    write_file("input.txt", kWorkedJob);
    ASSERT_EQ(run_veldspan({"--engine", engine}), 0) << read_file("program.log");
    std::string windowed = results_after_date(read_file("output.csv"));
    // The job directory named on the command line, from elsewhere.
    ASSERT_EQ(chdir("/"), 0);
    ASSERT_EQ(run_veldspan({"--headless", "--engine", engine, dir.path}, false, dir.path + "/program.log"), 0)
        << read_file(dir.path + "/program.log");
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    EXPECT_EQ(results_after_date(read_file("output.csv")), windowed) << engine;
    EXPECT_EQ(result_blocks(read_file("output.csv")).size(), 2u);
    EXPECT_NE(read_file("program.log").find("sample 16, "), std::string::npos) << "progress, one line per block";
  }
}

// A GPU named for the cpu engine is not used: the run goes on and says so.
TEST(Engines, DeviceThatNothingUsesIsNamedNotRefused) {
  TestDir dir;
  write_file("input.txt", kWorkedJob);
  ASSERT_EQ(run_veldspan({"--headless", "--engine", "cpu", "--device", "1", "--max-samples", "1"}, false), 0)
      << read_file("program.log");
  EXPECT_NE(read_file("program.log").find("veldspan: --device 1 is ignored: the cpu engine uses no GPU\n"),
            std::string::npos) << read_file("program.log");
  EXPECT_EQ(result_blocks(read_file("output.csv")).size(), 1u);
}

TEST(Engines, AutoTakesTheCpuOnTheSoftwareRenderer) {
  TestDir dir;
  write_file("input.txt", kWorkedJob);
  ASSERT_EQ(run_veldspan({}), 0);
  EXPECT_NE(read_file("program.log").find(": engine cpu on CPU"), std::string::npos) << read_file("program.log");
  ASSERT_EQ(run_veldspan({"--headless"}, false), 0);
  EXPECT_NE(read_file("program.log").find(": engine cpu on CPU"), std::string::npos) << read_file("program.log");
}

TEST(Engines, BadCommandLinesPrintTheUsageAndWriteNothing) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"}, {"--engine", "gpu"}, {"--max-samples", "-1"}, {"--max-samples", "12x"},
      {"--device"}, {"one", "two"}, {"--headless", "-x"},
  };
  for (const auto& options : bad) {
    TestDir dir;
    write_file("input.txt", kWorkedJob);
    EXPECT_EQ(run_veldspan(options, false), 2) << options[0];
    EXPECT_NE(read_file("program.log").find("usage: veldspan"), std::string::npos) << options[0];
    EXPECT_EQ(files_here(), (std::set<std::string>{"input.txt", "program.log"})) << options[0];
  }
  // Lines that parse but name what is not there: the reason, the usage's
  // first line, and nothing written, here or in the job directory.
  const std::vector<std::pair<std::vector<std::string>, std::string>> absent = {
      {{""}, "veldspan: the job directory is empty"},
      {{"--headless", "no-such-dir"}, "the job directory no-such-dir cannot be entered: No such file or directory"},
      {{"input.txt"}, "the job directory input.txt cannot be entered: Not a directory"},
      {{"--headless", "--device", "99"}, "veldspan: --device 99: EGL device 99 could not be used ("},
      {{"--headless", "--engine", "fragment", "--device", "99"},
       "devices found)\nusage: veldspan [options] [JOBDIR]\n"},
  };
  for (const auto& c : absent) {
    TestDir dir;
    write_file("input.txt", kWorkedJob);
    std::string line = c.first.back();
    EXPECT_EQ(run_veldspan(c.first, false), 2) << line;
    EXPECT_NE(read_file("program.log").find(c.second), std::string::npos) << line << ": " << read_file("program.log");
    EXPECT_EQ(files_here(), (std::set<std::string>{"input.txt", "program.log"})) << line;
  }
  TestDir dir;
  EXPECT_EQ(run_veldspan({"--version"}, false), 0);
  EXPECT_EQ(read_file("program.log"), "veldspan " + std::string(VELDSPAN_VERSION) + "\n");
  EXPECT_EQ(run_veldspan({"--help"}, false), 0);
  EXPECT_EQ(read_file("program.log").rfind("usage: veldspan", 0), 0u);
}
