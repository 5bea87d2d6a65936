// End-to-end: the real program under a real X server with Mesa's OpenGL,
// in a temporary job directory, judged by the files it writes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <regex>
#include <sstream>
#include <thread>

#include "app/reference_tracker.h"
#include "app/schedule.h"
#include "app/statistics.h"
#include "map/shader_source.h"
#include "process.h"
#include "test_dir.h"

namespace {

const char* const kWorkedJob =
    "baseres 4\niterations 10 100\nxcollimator -0.5 0.5\nycollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n";
// Every particle starts outside the collimators: the whole square is the
// colour of level 1, (0, 0, 0.5).
const char* const kAllLostJob = "baseres 4\niterations 10 100\nxcollimator 2 3\nycollimator 2 3\n";

int run_program(double timeout = 120) {
  int pid = spawn_program({VELDSPAN_PROGRAM}, "program.log");
  return wait_program(pid, timeout);
}

struct Block {
  std::string header, columns;
  std::vector<std::vector<std::string>> rows;
};

std::vector<std::string> split(const std::string& text, char at) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, at);) parts.push_back(part);
  return parts;
}

// The blocks after the first line; each ends with an empty line.
std::vector<Block> result_blocks(const std::string& text) {
  std::vector<std::string> lines = split(text, '\n');
  std::vector<Block> blocks;
  for (size_t i = 1; i + 1 < lines.size();) {
    Block b{lines[i], lines[i + 1], {}};
    for (i += 2; i < lines.size() && !lines[i].empty(); i++) b.rows.push_back(split(lines[i], ','));
    blocks.push_back(b);
    i++;
  }
  return blocks;
}

std::vector<double> mean_column(const Block& b) {
  std::vector<double> means;
  for (const auto& row : b.rows) means.push_back(std::atof(row.at(1).c_str()));
  return means;
}

// Mean per-row survival counts of the reference tracker over samples 1..n.
std::vector<double> reference_rows(const JobSettings* s, int samples) {
  std::vector<double> sum(size_t(iteration_count(s)) + 1, 0.0);
  for (int k = 1; k <= samples; k++) {
    uint32_t i[4];
    jitter_indices(k, &i[0], &i[1], &i[2], &i[3]);
    double jitter[4] = {jitter_fraction(i[0]), jitter_fraction(i[1]), jitter_fraction(i[2]), jitter_fraction(i[3])};
    std::vector<int64_t> rows = row_counts(level_counts(reference_levels(s, jitter), iteration_count(s)));
    for (size_t r = 0; r < rows.size(); r++) sum[r] += double(rows[r]) / samples;
  }
  return sum;
}

// Largest difference in pixels between the program's rows and the
// reference's, over the rows of one block.
double largest_difference(const Block& b, const JobSettings* s, int samples) {
  std::vector<double> program = mean_column(b), reference = reference_rows(s, samples);
  double v0 = particle_volume(s), worst = 0;
  for (size_t r = 0; r < reference.size(); r++) worst = std::max(worst, std::fabs(program.at(r) / v0 - reference[r]));
  return worst;
}

std::vector<std::string> screenshots() {
  std::vector<std::string> names;
  DIR* d = opendir(".");
  while (dirent* e = readdir(d))
    if (std::regex_match(e->d_name, std::regex("screenshot\\d{5}\\.bmp"))) names.push_back(e->d_name);
  closedir(d);
  return names;
}

uint32_t le32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}

// Blue, green, red of the window pixel (x, y from the top) in a bottom-up BMP.
std::vector<int> bmp_pixel(const std::string& bmp, int x, int y) {
  int width = int(le32(bmp, 18)), height = int(le32(bmp, 22));
  size_t at = 54 + size_t(height - 1 - y) * size_t(width * 3 + (4 - width * 3 % 4) % 4) + size_t(x) * 3;
  return {uint8_t(bmp[at]), uint8_t(bmp[at + 1]), uint8_t(bmp[at + 2])};
}

const std::regex kStartLine("Veldspan job started \\d{4}-[A-Za-z]{3}-\\d{2} \\d{2}:\\d{2}:\\d{2}");
const std::regex kLogLine("\\d{4}-[A-Za-z]{3}-\\d{2} \\d{2}:\\d{2}:\\d{2} (.*)");

}  // namespace

TEST(EndToEnd, WorkedExampleWritesTwoBlocksThatAgreeWithTheReference) {
  TestDir dir;
  write_file("input.txt", std::string(kWorkedJob) + "maxsamples 16\n");
  ASSERT_EQ(run_program(), 0) << read_file("program.log");
  JobSettings s = read_job_file("input.txt");
  char* source = generate_shader(&s, false);
  EXPECT_EQ(read_file("shadercode.txt"), source);
  std::string csv = read_file("output.csv");
  EXPECT_TRUE(std::regex_match(split(csv, '\n').at(0), kStartLine)) << csv;
  std::vector<Block> blocks = result_blocks(csv);
  ASSERT_EQ(blocks.size(), 2u) << csv;
  EXPECT_EQ(blocks[0].header, "4^4 grid");
  EXPECT_EQ(blocks[0].columns, "Iters,4D_Vol");
  EXPECT_EQ(blocks[1].header, "8^4 grid");
  EXPECT_EQ(blocks[1].columns, "Iters,4D_Vol,+/-");
  std::vector<std::string> labels{"Domain", "10", "100"};
  for (size_t r = 0; r < 3; r++) {
    EXPECT_EQ(blocks[0].rows.at(r).size(), 2u);
    EXPECT_EQ(blocks[1].rows.at(r).size(), 3u);
    EXPECT_EQ(blocks[0].rows.at(r)[0], labels[r]);
  }
  EXPECT_EQ(blocks[0].rows[0][1], "16");
  EXPECT_EQ(blocks[1].rows[0][1], "16");
  EXPECT_EQ(blocks[1].rows[0][2], "0");
  // Differences only where a particle sits on a loss boundary: at most one
  // pixel of the 256 in a row of the first sample, and of the mean of 16.
  EXPECT_LE(largest_difference(blocks[0], &s, 1), 1.0) << csv;
  EXPECT_LE(largest_difference(blocks[1], &s, 16), 1.0) << csv;
  EXPECT_EQ(csv.back(), '\n');
}

TEST(EndToEnd, LongLivedRingAgreesWithTheReference) {
  TestDir dir;
  write_file("input.txt",
             "baseres 16\niterations 10 100 1000\nxrange -0.5 0.5\nxprange -0.5 0.5\nyrange -0.5 0.5\n"
             "yprange -0.5 0.5\nxcollimator -1 1\nycollimator -1 1\nD 0.5\nK 1.2 0.2\nD 0.5\nK -1.2 0 0.5\n"
             "maxsamples 1\n");
  ASSERT_EQ(run_program(), 0) << read_file("program.log");
  JobSettings s = read_job_file("input.txt");
  std::vector<Block> blocks = result_blocks(read_file("output.csv"));
  ASSERT_EQ(blocks.size(), 1u);
  std::vector<double> program = mean_column(blocks[0]), reference = reference_rows(&s, 1);
  double pixels = 65536, v0 = particle_volume(&s);
  for (size_t r = 0; r < reference.size(); r++) {
    std::printf("row %zu: program %.0f, reference %.0f pixels\n", r, program[r] / v0, reference[r]);
    EXPECT_LE(std::fabs(program[r] / v0 - reference[r]), pixels * 1e-3) << "row " << r;
  }
  EXPECT_GT(reference[3], pixels / 2);  // most particles do survive 1000 turns
}

// 5,000 turn counts: far more than a chain of "else if" lines compiles
// on Mesa. Particles of this ring are lost from the first turn to past the
// 2,000th, so the counts span many blocks of the colour code's search.
TEST(EndToEnd, FiveThousandTurnCountsAgreeWithTheReference) {
  TestDir dir;
  std::string job =
      "baseres 8\nxrange -0.6 0.6\nxprange -0.6 0.6\nyrange -0.6 0.6\nyprange -0.6 0.6\nxcollimator -1 1\n"
      "ycollimator -1 1\nD 0.5\nK 1.2 0.2\nD 0.5\nK -1.2 0 0.5\nmaxsamples 1\niterations";
  for (int k = 1; k <= 5000; k++) job += " " + std::to_string(k);
  write_file("input.txt", job + "\n");
  ASSERT_EQ(run_program(), 0) << read_file("program.log");
  JobSettings s = read_job_file("input.txt");
  std::vector<Block> blocks = result_blocks(read_file("output.csv"));
  ASSERT_EQ(blocks.size(), 1u);
  ASSERT_EQ(blocks[0].rows.size(), 5001u);
  std::vector<double> program = mean_column(blocks[0]), reference = reference_rows(&s, 1);
  double v0 = particle_volume(&s), worst = 0;
  for (size_t r = 0; r < reference.size(); r++) worst = std::max(worst, std::fabs(program[r] / v0 - reference[r]));
  std::printf("survivors of 5000 turns: program %.0f, reference %.0f; largest difference %.0f pixels\n",
              program[5000] / v0, reference[5000], worst);
  EXPECT_LE(worst, 4096 * 1e-3);
  EXPECT_LT(reference[2000], reference[1]) << "losses reach past turn 2000";
}

TEST(EndToEnd, ScreenshotPerPressAndQuitWithStatusZero) {
  TestDir dir;
  write_file("input.txt", kAllLostJob);
  int pid = spawn_program({VELDSPAN_PROGRAM}, "program.log");
  ASSERT_TRUE(wait_for_window(30));
  hold_key("s", 0.5);  // held over many passes: still one picture
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  hold_key("s");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  hold_key("q");
  ASSERT_EQ(wait_program(pid, 30), 0) << read_file("program.log");
  std::vector<std::string> names = screenshots();
  ASSERT_EQ(names.size(), 2u);
  std::string bmp = read_file(names[0]);
  ASSERT_EQ(bmp.size(), 3932214u);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(le32(bmp, 2), 3932214u);
  EXPECT_EQ(le32(bmp, 10), 54u);
  EXPECT_EQ(le32(bmp, 18), 1280u);
  EXPECT_EQ(le32(bmp, 22), 1024u);
  EXPECT_EQ(le32(bmp, 28) & 0xFFFF, 24u);
  std::vector<int> top_left = bmp_pixel(bmp, 0, 0), corner = bmp_pixel(bmp, 15, 15);
  EXPECT_NEAR(top_left[0], 127.5, 1) << "blue of level 1";
  EXPECT_EQ(top_left[1] + top_left[2], 0);
  EXPECT_EQ(corner, top_left);
  EXPECT_EQ(bmp_pixel(bmp, 0, 16), (std::vector<int>{0, 0, 0}));  // below the square
  EXPECT_EQ(bmp_pixel(bmp, 16, 0), (std::vector<int>{0, 0, 0}));  // right of it
  // Blocks only at checkpoints passed; nothing added on the way out.
  std::vector<Block> blocks = result_blocks(read_file("output.csv"));
  ASSERT_GE(blocks.size(), 1u);
  for (size_t k = 0; k < blocks.size(); k++)
    EXPECT_EQ(blocks[k].header, std::to_string(4 * (k + 1)) + (checkpoint_irregular(int(k) + 1) ? "^4 irregular grid" : "^4 grid"));
}

// Rows of the strip right of the square that hold any lit pixel.
std::vector<int> lit_rows(const std::string& bmp, int from_x) {
  std::vector<int> rows;
  for (int y = 0; y < 1024; y++)
    for (int x = from_x; x < 1280; x++) {
      std::vector<int> p = bmp_pixel(bmp, x, y);
      if (p[0] + p[1] + p[2] > 0) {
        rows.push_back(y);
        break;
      }
    }
  return rows;
}

// A full 1024 x 1024 square of level 1 (every particle starts outside the
// collimators) with the bundled font, started in the current directory.
int start_lost_square_with_font() {
  write_file("input.txt", "baseres 32\niterations 10 100\nxcollimator 2 3\nycollimator 2 3\n");
  write_file("font.dat", read_file(VELDSPAN_SOURCE_DIR "/examples/font.dat"));
  return spawn_program({VELDSPAN_PROGRAM}, "program.log");
}

TEST(EndToEnd, StatusTextStandsInTheStripBesideAnUnchangedSquare) {
  TestDir dir;
  int pid = start_lost_square_with_font();
  ASSERT_TRUE(wait_for_window(30));
  hold_key("s", 0.5);
  hold_key("q", 0.5);
  ASSERT_EQ(wait_program(pid, 30), 0) << read_file("program.log");
  std::vector<std::string> names = screenshots();
  ASSERT_EQ(names.size(), 1u);
  std::string bmp = read_file(names[0]);
  ASSERT_EQ(bmp.size(), 3932214u);
  std::vector<int> blue = bmp_pixel(bmp, 0, 0);
  EXPECT_NEAR(blue[0], 127.5, 1);
  int changed = 0;
  for (int y = 0; y < 1024; y += 3)
    for (int x = 0; x < 1024; x += 3) changed += bmp_pixel(bmp, x, y) != blue;
  EXPECT_EQ(changed, 0) << "square pixels differ from level 1";
  // Three lines from y = 0, two from y = 5 line heights: the bundled font's
  // cells are 10 pixels high and a new line moves down 11.
  std::vector<int> rows = lit_rows(bmp, 1024), top, second;
  for (int y : rows) (y < 40 ? top : second).push_back(y);
  ASSERT_FALSE(top.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_LT(top.front(), 5);
  EXPECT_LT(top.back(), 33);
  EXPECT_GE(second.front(), 50);
  EXPECT_LT(second.front(), 55);
  EXPECT_LT(second.back(), 72);
  int white = 0;
  for (int y : rows)
    for (int x = 1024; x < 1280; x++) white += bmp_pixel(bmp, x, y) == std::vector<int>{255, 255, 255};
  EXPECT_GT(white, 100) << "the text is white";
}

// Passes of this job are far shorter than a display refresh, so only some
// of them present their picture: the screen must still show the square and
// a status text that moves on with the samples.
TEST(EndToEnd, ShortPassesStillShowTheSquareAndFreshStatus) {
  TestDir dir;
  int pid = start_lost_square_with_font();
  ASSERT_TRUE(wait_for_window(30));
  std::vector<std::vector<unsigned char>> pictures;
  for (int k = 0; k < 2; k++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    int width = 0, height = 0;
    pictures.push_back(window_picture(&width, &height));
    ASSERT_EQ(width, 1280);
    ASSERT_EQ(height, 1024);
  }
  hold_key("q");
  ASSERT_EQ(wait_program(pid, 30), 0) << read_file("program.log");
  auto pixel = [](const std::vector<unsigned char>& p, int x, int y) {
    size_t at = (size_t(y) * 1280 + size_t(x)) * 3;
    return std::vector<int>{p[at], p[at + 1], p[at + 2]};
  };
  auto strip = [](const std::vector<unsigned char>& p) {
    std::string rows;
    for (int y = 0; y < 80; y++) rows.append(reinterpret_cast<const char*>(&p[(size_t(y) * 1280 + 1024) * 3]), 256 * 3);
    return rows;
  };
  for (const auto& p : pictures) {
    EXPECT_NEAR(pixel(p, 0, 0)[2], 127.5, 1) << "the square is shown";
    EXPECT_EQ(pixel(p, 1023, 1023), pixel(p, 0, 0));
    EXPECT_NE(strip(p).find_first_not_of('\0'), std::string::npos) << "the status text is shown";
  }
  EXPECT_NE(strip(pictures[0]), strip(pictures[1])) << "the status text moved on";
}

TEST(EndToEnd, ClosingTheWindowEndsWithStatusZeroAndNoLog) {
  TestDir dir;
  write_file("input.txt", kAllLostJob);
  int pid = spawn_program({VELDSPAN_PROGRAM}, "program.log");
  ASSERT_TRUE(wait_for_window(30));
  ASSERT_TRUE(close_window());
  EXPECT_EQ(wait_program(pid, 30), 0) << read_file("program.log");
  EXPECT_EQ(read_file("graphics_error.log"), "");
}

// A refused job ends before the window opens: nothing of a run is written.
TEST(EndToEnd, FatalPathsLogShowTheBoxAndExitWithStatusOne) {
  struct Case {
    const char* job;  // null: input.txt is a directory
    const char* message;
  } cases[] = {
      {"baseres 0\n", "baseres 0 is out of range; it must be 1 to 32"},
      {"baseres 99999999999\n", "input.txt line 1: baseres 99999999999 is out of range; it must be 1 to 32"},
      {"baseres 4\nD nan\n", "input.txt line 2: D value nan is not a finite number"},
      {"baseres 4\niterations 100 10\n", "iterations must be ascending: 10 follows 100"},
      {"baseres 4\nxrange 1 -1\n", "xrange 1 -1: its low value must be below its high value"},
      {nullptr, "input.txt cannot be read: Is a directory"},
  };
  for (const Case& c : cases) {
    TestDir dir;
    std::string job = c.job ? c.job : "(a directory)";
    if (c.job) write_file("input.txt", c.job);
    else ASSERT_EQ(mkdir("input.txt", 0755), 0);
    int watcher = spawn_program({"/bin/sh", "-c", "xdotool search --sync --name '^Oh sod it$' key Return"}, "watcher.log");
    EXPECT_EQ(run_program(60), 1) << job << read_file("program.log");
    EXPECT_EQ(wait_program(watcher, 10), 0) << "the message box was shown and dismissed";
    std::vector<std::string> log = split(read_file("graphics_error.log"), '\n');
    ASSERT_EQ(log.size(), 1u) << job;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(log[0], m, kLogLine)) << log[0];
    EXPECT_EQ(m[1], c.message);
    EXPECT_NE(read_file("program.log").find(c.message), std::string::npos) << "the message reaches stderr too";
    EXPECT_EQ(access("output.csv", F_OK), -1) << job;
  }
}
