// End-to-end: the compute engine against the fragment engine on the same
// GL (Mesa's llvmpipe). Both track with the same single-precision
// expressions in the same order, so they must count every sample alike and
// show the same square.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "process.h"
#include "test_dir.h"

namespace {

// Runs the job headless with no X display to fall back on, in a directory
// of its own; returns the directory's output.csv without its date line.
std::string headless_results(const std::string& dir, const char* job, const char* engine) {
  mkdir(dir.c_str(), 0755);
  write_file(dir + "/input.txt", job);
  int pid = spawn_program({"/usr/bin/env", "-u", "DISPLAY", VELDSPAN_PROGRAM, "--headless", "--engine", engine,
                           "--max-samples", "16", dir},
                          dir + "/program.log");
  EXPECT_EQ(wait_program(pid, 120), 0) << dir << ": " << read_file(dir + "/program.log");
  std::string csv = read_file(dir + "/output.csv");
  return csv.substr(csv.find('\n') + 1);
}

// The square of a windowed run's screenshot, rows from the top.
std::vector<std::vector<int>> screenshot_square(const char* engine, int side) {
  int pid = spawn_program({VELDSPAN_PROGRAM, "--engine", engine}, "program.log");
  EXPECT_TRUE(wait_for_window(30)) << engine;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  hold_key("s");
  hold_key("q");
  EXPECT_EQ(wait_program(pid, 30), 0) << engine << ": " << read_file("program.log");
  std::vector<std::string> names = screenshots();
  std::vector<std::vector<int>> square;
  if (names.size() != 1u) return square;
  std::string bmp = read_file(names[0]);
  for (int y = 0; y < side; y++)
    for (int x = 0; x < side; x++) square.push_back(bmp_pixel(bmp, x, y));
  std::remove(names[0].c_str());
  return square;
}

}  // namespace

// Identical result blocks apart from the date line: every sample gave the
// same counts (a block holds sums of the counts and of their squares).
// The worked example; the ring at a small baseres (most particles survive
// 1000 turns); collimators on one plane only, with 20 turn counts, two of
// them equal (the level is searched in halves), and a square that is no
// multiple of the work group.
TEST(ComputeEngine, HeadlessResultsEqualTheFragmentEnginesOnTheSameGl) {
  const char* const jobs[] = {
      "baseres 4\niterations 10 100\nxcollimator -0.5 0.5\nycollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n",
      "baseres 16\niterations 10 100 1000\nxrange -0.5 0.5\nxprange -0.5 0.5\nyrange -0.5 0.5\nyprange -0.5 0.5\n"
      "xcollimator -1 1\nycollimator -1 1\nD 0.5\nK 1.2 0.2\nD 0.5\nK -1.2 0 0.5\n",
      "baseres 5\niterations 1 2 3 3 5 6 7 8 9 10 12 14 16 20 25 30 40 45 50 500\nxcollimator -0.6 0.6\nD 1\n"
      "K 0.5 0 -2\n",
  };
  TestDir dir;
  for (int k = 0; k < 3; k++) {
    std::string name = "job" + std::to_string(k), fragment = headless_results(name + "f", jobs[k], "fragment");
    EXPECT_NE(fragment.find("\n\n"), fragment.rfind("\n\n")) << name << ": two result blocks\n" << fragment;
    EXPECT_EQ(headless_results(name + "c", jobs[k], "compute"), fragment) << name;
    EXPECT_EQ(read_file(name + "c/computeshader.txt").substr(0, 13), "#version 430\n") << name;
  }
}

// Classes that no jitter changes (lost at once below x = -1 or y = -0.5,
// the cells' own edges; kept for ever elsewhere), so both windows show the
// same square whichever sample they present: level 1 in the top rows and
// left columns, level 0 (black) in the rest.
TEST(ComputeEngine, WindowShowsTheSameSquareAsTheFragmentEngine) {
  TestDir dir;
  write_file("input.txt", "baseres 8\niterations 10\nxrange -2 2\nyrange -2 2\nxcollimator -1 5\nycollimator -0.5 5\n");
  std::vector<std::vector<int>> fragment = screenshot_square("fragment", 64);
  std::vector<std::vector<int>> compute = screenshot_square("compute", 64);
  ASSERT_EQ(compute.size(), 64u * 64u);
  EXPECT_EQ(compute, fragment);
  EXPECT_NEAR(compute[23 * 64 + 63][0], 127.5, 1) << "y cells 0 to 2 are lost: blue of level 1";
  EXPECT_NEAR(compute[63 * 64 + 15][0], 127.5, 1) << "x cells 0 and 1 are lost";
  EXPECT_EQ(compute[24 * 64 + 16], (std::vector<int>{0, 0, 0}));
}

// A context below GL 4.3 has no compute shaders, though GLX and EGL hand
// out their entry points all the same: the run ends before it starts.
TEST(ComputeEngine, BelowGl43TheRunEndsWithAFatalErrorAndWritesNoResults) {
  TestDir dir;
  write_file("input.txt", "baseres 4\n");
  int pid = spawn_program({"/usr/bin/env", "-u", "DISPLAY", "MESA_GL_VERSION_OVERRIDE=3.3COMPAT", VELDSPAN_PROGRAM,
                           "--headless", "--engine", "compute"},
                          "program.log");
  EXPECT_EQ(wait_program(pid, 60), 1) << read_file("program.log");
  std::string message = " OpenGL 4.3 or higher is needed for the compute engine; you have version 3.3\n";
  EXPECT_NE(read_file("graphics_error.log").find(message), std::string::npos) << read_file("graphics_error.log");
  EXPECT_EQ(read_file("output.csv") + read_file("computeshader.txt"), "");
}
