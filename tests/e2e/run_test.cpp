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

#include "map/shader_source.h"
#include "reference/reference_tracker.h"
#include "results/schedule.h"
#include "results/intervals.h"
#include "results/sums.h"
#include "process.h"
#include "results.h"
#include "test_dir.h"
#include "xvfb.h"

namespace {

const char* const kWorkedJob =
    "baseres 4\niterations 10 100\nxcollimator -0.5 0.5\nycollimator -0.5 0.5\nD 1\nK 0.5 0 -2\n";
// Every particle starts outside the collimators: the whole square is the
// colour of level 1, (0, 0, 0.5).
const char* const kAllLostJob = "baseres 4\niterations 10 100\nxcollimator 2 3\nycollimator 2 3\n";

int run_program(double timeout = 120, std::vector<std::string> options = {}) {
  options.insert(options.begin(), VELDSPAN_PROGRAM);
  int pid = spawn_program(options, "program.log");
  return wait_program(pid, timeout);
}

// A ring whose survivors the random passes see in every row.
const char* const kRandomPassJob =
    "baseres 4\niterations 10 100\nxrange -0.8 0.8\nxprange -0.8 0.8\nyrange -0.8 0.8\nyprange -0.8 0.8\n"
    "xcollimator -0.62 0.55\nycollimator -0.47 0.71\nD 0.5\nK 1.2 0.2\nD 0.5\nK -1.2 0 0.5\nseed 99\n";

// aperture.csv: a header line, the column line, one row per result row.
Block aperture_file(const std::string& text) {
  std::vector<std::string> lines = split(text, '\n');
  Block b{lines.at(0), lines.at(1), {}};
  for (size_t i = 2; i < lines.size(); i++) b.rows.push_back(split(lines[i], ','));
  return b;
}

// Mean per-row survival counts of the reference tracker over random passes
// 1 .. passes.
std::vector<double> reference_random_rows(const JobSettings* s, int passes) {
  std::vector<double> sum(size_t(iteration_count(s)) + 1, 0.0);
  for (int j = 1; j <= passes; j++) {
    double jitter[4];
    random_pass_jitter(s->seed, j, jitter);
    std::vector<int64_t> rows = row_counts(level_counts(reference_levels(s, jitter), iteration_count(s)));
    for (size_t r = 0; r < rows.size(); r++) sum[r] += double(rows[r]) / passes;
  }
  return sum;
}

// The random passes after sample N of a headless run: N / 4 of them, each
// row agreeing with the reference tracker on the same passes, its interval
// from Student's t, and its lattice bias the distance from output.csv's
// last block.
void expect_aperture_after(int samples, const std::string& csv, const std::string& aperture) {
  JobSettings s = read_job_file("input.txt");
  Block out = result_blocks(csv).back(), a = aperture_file(aperture);
  int passes = samples / 4;
  std::regex header("Veldspan aperture of job \"veldspan-test-\\w+\" at \\d{4}-[A-Za-z]{3}-\\d{2} "
                    "\\d{2}:\\d{2}:\\d{2}: sample " + std::to_string(samples) + " \\(" +
                    std::to_string(4 * result_blocks(csv).size()) + "\\^4 grid\\), " + std::to_string(passes) +
                    " random passes \\(randompasses 4, seed 99\\)"
                    "(; \\d+ survivors of the last turn count in the random passes started on the box's edge: .*)?");
  EXPECT_TRUE(std::regex_match(a.header, header)) << a.header;
  EXPECT_EQ(a.columns, "Iters,passes,volume,stat_err,lo95,hi95,lattice_bias");
  ASSERT_EQ(a.rows.size(), out.rows.size());
  std::vector<double> reference = reference_random_rows(&s, passes);
  double v0 = particle_volume(&s);
  for (size_t r = 0; r < a.rows.size(); r++) {
    const std::vector<std::string>& row = a.rows[r];
    ASSERT_EQ(row.size(), 7u) << aperture;
    EXPECT_EQ(row[0], out.rows[r][0]);
    EXPECT_EQ(row[1], std::to_string(passes));
    if (passes == 0) {
      EXPECT_EQ(row, (std::vector<std::string>{row[0], "0", "-", "-", "-", "-", "-"}));
      continue;
    }
    double volume = std::atof(row[2].c_str()), error = std::atof(row[3].c_str());
    EXPECT_LE(std::fabs(volume / v0 - reference[r]), 1.0) << "row " << r << ": " << aperture;
    // The interval holds Student's (cut at 0 and the Domain) and never
    // leaves [0, Domain].
    double half = student_t_975(passes - 1) * error, domain = std::atof(a.rows[0][2].c_str());
    double low = std::atof(row[4].c_str()), high = std::atof(row[5].c_str());
    EXPECT_LE(low, std::max(0.0, volume - half) + 1e-8) << aperture;
    EXPECT_GE(high, std::min(domain, volume + half) - 1e-8) << aperture;
    EXPECT_GE(low, 0.0) << aperture;
    EXPECT_LE(high, domain) << aperture;
    EXPECT_NEAR(std::atof(row[6].c_str()), std::atof(out.rows[r][1].c_str()) - volume, 1e-8) << aperture;
  }
  if (passes > 0) {
    EXPECT_GT(std::atof(a.rows.back()[2].c_str()), 0) << "the last row survives";
  }
}

const std::regex kStartLine("Veldspan job started \\d{4}-[A-Za-z]{3}-\\d{2} \\d{2}:\\d{2}:\\d{2}");
const std::regex kLogLine("\\d{4}-[A-Za-z]{3}-\\d{2} \\d{2}:\\d{2}:\\d{2} (.*)");

}  // namespace

TEST(EndToEnd, WorkedExampleWritesTwoBlocksThatAgreeWithTheReference) {
  TestDir dir;
  write_file("input.txt", std::string(kWorkedJob) + "maxsamples 16\n");
  ASSERT_EQ(run_program(), 0) << read_file("program.log");
  JobSettings s = read_job_file("input.txt");
  LoweredMap lowered = lower_map(&s);
  char* source = generate_shader(&lowered);
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
  Block aperture = aperture_file(read_file("aperture.csv"));
  ASSERT_EQ(aperture.rows.size(), 3u);
  for (size_t r = 0; r < 3; r++) EXPECT_EQ(aperture.rows[r].at(1), "4") << "four random passes by sample 16";
}

// The random passes write aperture.csv at each checkpoint (here: the last
// checkpoint of runs ended after samples 1, 16 and 81) and leave
// output.csv as it is without them, but for its date line.
TEST(EndToEnd, RandomPassesWriteApertureCsvAndLeaveOutputCsvAlone) {
  TestDir dir;
  for (int samples : {1, 16, 81}) {
    write_file("input.txt", kRandomPassJob);
    ASSERT_EQ(run_program(120, {"--headless", "--engine", "cpu", "--max-samples", std::to_string(samples)}), 0)
        << read_file("program.log");
    SCOPED_TRACE(samples);
    expect_aperture_after(samples, read_file("output.csv"), read_file("aperture.csv"));
    EXPECT_NE(access("aperture.csv.tmp", F_OK), 0);
  }
  std::string with = results_after_date(read_file("output.csv"));
  std::remove("aperture.csv");
  write_file("input.txt", std::string(kRandomPassJob) + "randompasses 0\n");
  ASSERT_EQ(run_program(120, {"--headless", "--engine", "cpu", "--max-samples", "81"}), 0) << read_file("program.log");
  EXPECT_EQ(results_after_date(read_file("output.csv")), with);
  EXPECT_NE(access("aperture.csv", F_OK), 0) << "randompasses 0 writes no aperture.csv";
}

// A run killed while it wrote a result file left its temporary file; the
// next run in the directory removes it (a shard, which writes no result
// file, leaves it to the run or merge that does).
TEST(EndToEnd, StaleTemporaryFilesGoAtTheNextStart) {
  TestDir dir;
  write_file("input.txt", kRandomPassJob);
  const char* const stale[] = {"aperture.csv.tmp", "output.csv.tmp", "input.txt.tmp"};
  for (const char* name : stale) write_file(name, "Iters,pas");
  write_file("notes.tmp", "Iters,pas");
  ASSERT_EQ(run_program(120, {"--headless", "--engine", "cpu", "--shard", "0/2", "--max-samples", "1"}), 0)
      << read_file("program.log");
  EXPECT_EQ(read_file("aperture.csv.tmp"), "Iters,pas");
  ASSERT_EQ(run_program(120, {"--headless", "--engine", "cpu", "--max-samples", "1"}), 0) << read_file("program.log");
  for (const char* name : stale) EXPECT_NE(access(name, F_OK), 0) << name;
  EXPECT_EQ(read_file("notes.tmp"), "Iters,pas") << "not the program's own";
  EXPECT_NE(read_file("program.log").find("aperture.csv.tmp, left by a write that never finished, was removed"),
            std::string::npos) << read_file("program.log");
  EXPECT_EQ(aperture_file(read_file("aperture.csv")).rows.size(), 3u);
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
int start_lost_square_with_font(std::vector<std::string> options = {}) {
  write_file("input.txt", "baseres 32\niterations 10 100\nxcollimator 2 3\nycollimator 2 3\n");
  write_file("font.dat", read_file(VELDSPAN_SOURCE_DIR "/examples/font.dat"));
  options.insert(options.begin(), VELDSPAN_PROGRAM);
  return spawn_program(options, "program.log");
}

// Seconds of processor time the process has used so far.
double cpu_seconds(int pid) {
  std::vector<std::string> fields = split(read_file("/proc/" + std::to_string(pid) + "/stat"), ' ');
  return (std::atof(fields.at(13).c_str()) + std::atof(fields.at(14).c_str())) / double(sysconf(_SC_CLK_TCK));
}

size_t samples_recorded() { return split(read_file("samples.rec"), '\n').size(); }

// White pixels of the window's picture in the rectangle from (x0, y0) to
// (x1, y1), y from the top.
int white_pixels(int x0, int y0, int x1, int y1) {
  int width = 0, height = 0, white = 0;
  std::vector<unsigned char> p = window_picture(&width, &height);
  for (int y = y0; y < std::min(y1, height); y++)
    for (int x = x0; x < std::min(x1, width); x++) {
      size_t at = (size_t(y) * size_t(width) + size_t(x)) * 3;
      white += p.at(at) == 255 && p[at + 1] == 255 && p[at + 2] == 255;
    }
  return white;
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
  // Three lines from y = 0, three from y = 5 line heights (the last one
  // the random passes'), and the engine's two from 9: the bundled font's
  // cells are 10 pixels high and a new line moves down 11.
  std::vector<int> rows = lit_rows(bmp, 1024), top, second, engine;
  for (int y : rows) (y < 40 ? top : y < 85 ? second : engine).push_back(y);
  ASSERT_FALSE(top.empty());
  ASSERT_FALSE(second.empty());
  ASSERT_FALSE(engine.empty());
  EXPECT_LT(top.front(), 5);
  EXPECT_LT(top.back(), 33);
  EXPECT_GE(second.front(), 50);
  EXPECT_LT(second.front(), 55);
  EXPECT_GE(second.back(), 72);
  EXPECT_LT(second.back(), 84);
  EXPECT_GE(engine.front(), 90);
  EXPECT_LT(engine.back(), 112);
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

// The fragment engine draws the square into the window: a window made
// smaller than the square cannot give a pass. The run says so once, sleeps
// on its messages instead of taking the refused pass again and again, shows
// why it waits in the status text, and goes on once the window is resized.
TEST(EndToEnd, WindowTooSmallForTheSquareIsWaitedForNotSpunOn) {
  TestDir dir;
  int pid = start_lost_square_with_font({"--engine", "fragment"});
  ASSERT_TRUE(wait_for_window(30));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string resize = "xdotool search --onlyvisible --class 'OpenGL WinClass' windowsize %@ ";
  ASSERT_EQ(shell(resize + "600 500"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  size_t recorded = samples_recorded();
  double cpu = cpu_seconds(pid);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  EXPECT_LT(cpu_seconds(pid) - cpu, 0.3) << "the refused pass is taken again and again";
  EXPECT_EQ(samples_recorded(), recorded) << "no pass counted in a window smaller than the square";
  // The status strip starts at the window's height; the waiting lines lie
  // below the engine's, from 12 line heights down.
  EXPECT_GT(white_pixels(500, 128, 600, 180), 20) << "the status text says why the run waits";
  ASSERT_EQ(shell(resize + "1280 1024"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_GT(samples_recorded(), recorded) << "passes go on once the window shows the square";
  EXPECT_EQ(white_pixels(1024, 128, 1280, 180), 0) << "the waiting lines are gone";
  hold_key("q");
  ASSERT_EQ(wait_program(pid, 30), 0) << read_file("program.log");
  std::string log = read_file("program.log");
  std::regex refused("(sample|random pass) \\d+ not counted: the window is smaller than the square; it is "
                     "taken again\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), refused), std::sregex_iterator()), 1) << log;
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

// Keys count only when typed into the program's own window: typed into
// another one, Q and Escape do not end the run, nor does S take a picture.
TEST(EndToEnd, KeysTypedIntoAnotherWindowAreNotTheProgramsOwn) {
  TestDir dir;
  write_file("input.txt", kAllLostJob);
  int pid = spawn_program({VELDSPAN_PROGRAM}, "program.log");
  ASSERT_TRUE(wait_for_window(30));
  OtherWindow other = open_other_window();
  ASSERT_TRUE(other.display);
  for (const char* key : {"q", "Escape", "s"}) hold_key(key);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(program_running(pid)) << "a key typed into another window ended the run";
  EXPECT_EQ(screenshots().size(), 0u);
  EXPECT_TRUE(focus_program_window());
  hold_key("s");
  hold_key("Escape");
  EXPECT_EQ(wait_program(pid, 30), 0) << read_file("program.log");
  EXPECT_EQ(screenshots().size(), 1u);
  close_other_window(&other);
}

// output.csv cannot be opened for the whole run (a directory stands in its
// way). However the run ends, its results reach stderr, the log says so,
// and the exit status says the results are not in the file.
TEST(EndToEnd, ResultsThatNeverReachTheFileGoToStderrWithStatusFour) {
  const char* const ends[] = {"maxsamples", "q", "close"};
  for (std::string end : ends) {
    TestDir dir;
    mkdir("output.csv", 0755);
    write_file("input.txt", std::string(kAllLostJob) + (end == "maxsamples" ? "maxsamples 1\n" : ""));
    int pid = spawn_program({VELDSPAN_PROGRAM}, "program.log");
    if (end != "maxsamples") {
      ASSERT_TRUE(wait_for_window(30)) << end;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // past sample 1
      if (end == "q") hold_key("q");
      else EXPECT_TRUE(close_window()) << end;
    }
    int status = wait_program(pid, 30);
    std::string output = read_file("program.log");
    EXPECT_EQ(status, 4) << end << ": " << output;
    EXPECT_TRUE(std::regex_search(output, kStartLine)) << end;
    EXPECT_NE(output.find("\n4^4 grid\nIters,4D_Vol\nDomain,16\n10,0\n100,0\n\n"), std::string::npos) << end;
    std::smatch m;
    std::string log = read_file("graphics_error.log");
    ASSERT_TRUE(std::regex_search(log, m, kLogLine)) << end << ": " << log;
    EXPECT_EQ(m[1], "output.csv could not be written; the results missing from it were written to stderr");
  }
}

// The display dies under a run whose results never reached output.csv:
// they reach stderr before the process ends, and the log says so.
TEST(EndToEnd, ResultsOutsideTheFileReachStderrWhenTheDisplayIsLost) {
  TestDir dir;
  mkdir("output.csv", 0755);
  write_file("input.txt", kAllLostJob);
  std::string shared = getenv("DISPLAY");
  XvfbServer doomed;
  ASSERT_TRUE(xvfb_start(&doomed));
  int pid = spawn_program({VELDSPAN_PROGRAM}, "program.log");
  bool shown = wait_for_window(30);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // past sample 1
  xvfb_stop(&doomed);
  setenv("DISPLAY", shared.c_str(), 1);
  ASSERT_TRUE(shown);
  EXPECT_EQ(wait_program(pid, 30), 1) << read_file("program.log");
  std::string output = read_file("program.log");
  size_t lost = output.find("The connection to the X display was lost; the run ends here\n");
  ASSERT_NE(lost, std::string::npos) << output;
  EXPECT_NE(output.find("output.csv could not be written; the results missing from it were written to stderr:\n",
                        lost), std::string::npos) << output;
  EXPECT_NE(output.find("\n4^4 grid\nIters,4D_Vol\nDomain,16\n10,0\n100,0\n\n", lost), std::string::npos) << output;
  std::smatch m;
  std::string log = read_file("graphics_error.log");
  ASSERT_TRUE(std::regex_search(log, m, kLogLine)) << log;
  EXPECT_EQ(m[1], "output.csv could not be written; the results missing from it were written to stderr");
}

// Waits for the message box, then gives it the focus and presses Return
// until it is gone; status 0 only when it was shown and went away.
// NOTE: the box takes the focus itself once it is mapped, but a Return
// sent the moment its window exists could still go elsewhere.
const char* const kDismissBox =
    "xdotool search --sync --onlyvisible --name '^Oh sod it$' >/dev/null || exit 1; "
    "for i in $(seq 100); do "
    "  w=$(xdotool search --onlyvisible --name '^Oh sod it$' | head -n 1); [ -n \"$w\" ] || exit 0; "
    "  xdotool windowfocus --sync \"$w\" key Return 2>/dev/null; sleep 0.1; "
    "done; exit 1";

// A refused job ends before the window opens: nothing of a run is written.
TEST(EndToEnd, FatalPathsLogShowTheBoxAndExitWithStatusOne) {
  struct Case {
    const char* job;  // null: input.txt is a directory
    const char* message;
    std::vector<std::string> options;
  } cases[] = {
      {"baseres 0\n", "baseres 0 is out of range; it must be 1 to 32", {}},
      {"baseres 99999999999\n", "input.txt line 1: baseres 99999999999 is out of range; it must be 1 to 32", {}},
      {"baseres 4\nD nan\n", "input.txt line 2: D value nan is not a finite number", {}},
      {"baseres 4\niterations 100 10\n", "iterations must be ascending: 10 follows 100", {}},
      {"baseres 4\nxrange 1 -1\n", "xrange 1 -1: its low value must be below its high value", {}},
      {"baseres 4\niterations 10 4294967396\n",
       "input.txt line 2: iterations 4294967396 is out of range; turn counts are 1 to 2147483647", {}},
      {"baseres 4\nxprange -1e39 1e39\nD 0\n",
       "input.txt line 2: xprange value -1e39 is beyond single precision (the largest float is 3.40282347e+38)", {}},
      {nullptr, "input.txt cannot be read: Is a directory", {}},
  };
  for (const Case& c : cases) {
    TestDir dir;
    std::string job = c.job ? c.job : "(a directory)";
    if (c.job) write_file("input.txt", c.job);
    else ASSERT_EQ(mkdir("input.txt", 0755), 0);
    int watcher = spawn_program({"/bin/sh", "-c", kDismissBox}, "watcher.log");
    EXPECT_EQ(run_program(60, c.options), 1) << job << read_file("program.log");
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
