// End-to-end: veldspan scan with the real program, headless with the CPU
// engine. Each point of a grid must give what the same job run alone
// gives; a scan stopped, or one whose point is killed, must resume to the
// table of an unbroken one; an edited job is refused until --force.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "process.h"
#include "test_dir.h"
#include "util/text_util.h"

namespace {

// A small FODO-like ring whose particles survive in part, so that every
// figure of a point means something.
const char* const kHead = "baseres 4\niterations 10 100\nxcollimator -1 1\nycollimator -1 1\nmaxsamples 16\nD 1\n";
const char* const kTail = "D 1\nK -1\n";
const char* const kGridLines = "scan 2 1 0.8 1.2 3\nscan 2 2 1 3 3\n";

std::string kick(const std::string& k1, const std::string& k2) { return "K " + k1 + " " + k2 + "   # the kick\n"; }

int veldspan(std::vector<std::string> args, const std::string& log, double timeout = 120) {
  args.insert(args.begin(), VELDSPAN_PROGRAM);
  return wait_program(spawn_program(args, log), timeout);
}

int scan(std::vector<std::string> args, const std::string& log = "scan.log") {
  args.insert(args.begin(), {"scan", "--engine", "cpu"});
  return veldspan(args, log);
}

std::string make_job(const std::string& dir, const std::string& text) {
  mkdir(dir.c_str(), 0755);
  write_file(dir + "/input.txt", text);
  return dir;
}

std::string after_first_line(const std::string& text) { return text.substr(text.find('\n') + 1); }

// The rows scan.csv should have for a point run alone in dir: the turn
// count rows of its aperture.csv, after the point's name and values.
std::string expected_rows(const std::string& dir, const std::string& start) {
  std::string rows, text = after_first_line(after_first_line(read_file(dir + "/aperture.csv")));
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = text.substr(at, end - at);
    if (line.compare(0, 7, "Domain,") == 0) continue;
    rows += start + "," + line.substr(0, line.rfind(',')) + "\n";  // without lattice_bias
  }
  return rows;
}

// Whole sample lines of a record.
int samples_in(const std::string& path) {
  std::string text = "\n" + read_file(path);
  int lines = 0;
  for (size_t at = text.find("\ns "); at != std::string::npos; at = text.find("\ns ", at + 1))
    lines += text.find('\n', at + 1) != std::string::npos;
  return lines;
}

bool wait_for_samples(const std::string& path, int lines) {
  for (int k = 0; k < 6000; k++) {
    if (samples_in(path) >= lines) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// The process whose parent is pid (the scan's point); 0 when none.
int child_of(int pid) {
  int found = 0;
  DIR* proc = opendir("/proc");
  while (dirent* e = proc ? readdir(proc) : nullptr) {
    std::string stat = read_file(std::string("/proc/") + e->d_name + "/stat");
    size_t close = stat.rfind(')');
    if (close != std::string::npos && std::atoi(stat.c_str() + close + 4) == pid) found = std::atoi(e->d_name);
  }
  if (proc) closedir(proc);
  return found;
}

}  // namespace

// Every row of a 3 x 3 scan is the row of the same point run as a job of
// its own, and each point's output.csv is that job's; points run three at
// a time give the same table.
TEST(Scan, GridRowsEqualThePointsRunAlone) {
  TestDir dir;
  make_job("grid", std::string(kHead) + kick("1", "2") + kTail + kGridLines);
  ASSERT_EQ(scan({"grid"}), 0) << read_file("scan.log");
  std::string table = read_file("grid/scan.csv");
  ASSERT_EQ(table.compare(0, 26, "Veldspan scan of job \"grid"), 0) << table;
  EXPECT_NE(table.find(": scan 2 1 0.8 1.2 3; scan 2 2 1 3 3\n"), std::string::npos) << table;
  std::string rows = "point,value1,value2,Iters,passes,volume,stat_err,lo95,hi95\n";
  const char* const k1[] = {"0.8", "1", "1.2"};
  const char* const k2[] = {"1", "2", "3"};
  for (int j = 1; j <= 3; j++)
    for (int i = 1; i <= 3; i++) {
      std::string name = format_text("%d-%d", i, j), alone = "alone-" + name;
      std::string text = std::string(kHead) + kick(k1[i - 1], k2[j - 1]) + kTail;
      EXPECT_EQ(read_file("grid/scan/" + name + "/input.txt"), text) << name;
      make_job(alone, text);
      ASSERT_EQ(veldspan({"--headless", "--engine", "cpu", alone}, "alone.log"), 0) << read_file("alone.log");
      EXPECT_EQ(after_first_line(read_file("grid/scan/" + name + "/output.csv")),
                after_first_line(read_file(alone + "/output.csv"))) << name;
      rows += expected_rows(alone, name + "," + k1[i - 1] + "," + k2[j - 1]);
    }
  EXPECT_EQ(after_first_line(table), rows);
  EXPECT_NE(rows.find("1-1,0.8,1,10,4,0.109375,"), std::string::npos) << "survivors in the table\n" << rows;

  make_job("parallel", std::string(kHead) + kick("1", "2") + kTail + kGridLines);
  ASSERT_EQ(scan({"--jobs", "3", "parallel"}), 0) << read_file("scan.log");
  EXPECT_EQ(after_first_line(read_file("parallel/scan.csv")), rows);
  EXPECT_NE(read_file("parallel/scan/3-3/point.log").find("engine cpu"), std::string::npos);
  EXPECT_NE(read_file("scan.log").find("point 9 of 9 (3-3) done"), std::string::npos) << read_file("scan.log");
}

// A scan stopped by SIGTERM passes the stop to its point, which keeps its
// record; resumed, with its next point killed outright, and resumed again,
// it gives the table of an unbroken scan, running no complete point again.
TEST(Scan, StoppedAndKilledScansResumeToTheUnbrokenTable) {
  TestDir dir;
  std::string job = "baseres 10\niterations 100 1000\nxcollimator -1 1\nycollimator -1 1\nD 1\nK 1 2\nD 1\nK -1\n"
                    "scan 2 2 1 3 3\n";
  make_job("whole", job);
  ASSERT_EQ(scan({"--max-samples", "1296", "whole"}), 0) << read_file("scan.log");
  std::string table = after_first_line(read_file("whole/scan.csv"));
  ASSERT_EQ(table.compare(0, 50, "point,value1,Iters,passes,volume,stat_err,lo95,hi9"), 0) << table;

  make_job("broken", job);
  int pid = spawn_program({VELDSPAN_PROGRAM, "scan", "--engine", "cpu", "--max-samples", "1296", "broken"}, "scan.log");
  ASSERT_TRUE(wait_for_samples("broken/scan/2/samples.rec", 20)) << read_file("scan.log");
  kill(pid, SIGTERM);
  ASSERT_EQ(wait_program(pid, 60), 143) << read_file("scan.log");
  std::string log = read_file("scan.log");
  EXPECT_NE(log.find("veldspan: stopped by SIGTERM after"), std::string::npos) << "the point was stopped\n" << log;
  EXPECT_NE(log.find("veldspan scan: stopped by SIGTERM; the points done are in broken/scan.csv.\nTo go on: veldspan scan "
                     "--resume --engine cpu --max-samples 1296 broken\n"), std::string::npos)
      << log;
  EXPECT_LT(samples_in("broken/scan/2/samples.rec"), 1296);
  EXPECT_EQ(read_file("broken/scan/2/samples.rec").back(), '\n');
  std::string done = after_first_line(read_file("broken/scan.csv"));
  EXPECT_EQ(done, table.substr(0, table.find("\n2,") + 1)) << "point 1 alone";

  std::string first = read_file("broken/scan/1/output.csv");
  pid = spawn_program({VELDSPAN_PROGRAM, "scan", "--resume", "--engine", "cpu", "--max-samples", "1296", "broken"},
                      "scan.log");
  ASSERT_TRUE(wait_for_samples("broken/scan/3/samples.rec", 20)) << read_file("scan.log");
  int point = child_of(pid);
  ASSERT_GT(point, 0);
  kill(point, SIGKILL);
  EXPECT_EQ(wait_program(pid, 60), 128 + SIGKILL);
  EXPECT_NE(read_file("scan.log").find("veldspan scan: point 3 of 3 (3) failed (status 137)"), std::string::npos)
      << read_file("scan.log");

  ASSERT_EQ(scan({"--resume", "--max-samples", "1296", "broken"}), 0) << read_file("scan.log");
  EXPECT_NE(read_file("scan.log").find("2 of the 3 points are complete already"), std::string::npos);
  EXPECT_EQ(after_first_line(read_file("broken/scan.csv")), table);
  EXPECT_EQ(read_file("broken/scan/1/output.csv"), first) << "a complete point is not run again";
}

// The job's font is copied beside each point's job. An edited job is
// refused at the points it changed, nothing written, until --force writes
// them anew; a scan without a sample limit, and bad options, are refused
// before anything is written; --table names what is
// missing with status 3.
TEST(Scan, RefusalsBeforeAnythingIsWrittenAndTheTableOfAPartScan) {
  TestDir dir;
  std::string job = std::string(kHead) + kick("1", "2") + kTail + "scan 2 1 0.8 1.2 2\n";
  make_job("job", job);
  write_file("job/font.dat", std::string("font\0\r\ndata", 11));
  ASSERT_EQ(scan({"job"}), 0) << read_file("scan.log");
  EXPECT_EQ(read_file("job/scan/2/font.dat"), read_file("job/font.dat")) << "the font beside each point's job";
  std::string table = read_file("job/scan.csv");
  write_file("job/input.txt", std::string(kHead) + kick("1", "2.5") + kTail + "scan 2 1 0.8 1.2 2\n");
  EXPECT_EQ(scan({"job"}), 1);
  EXPECT_NE(read_file("scan.log").find("points hold another job's input.txt (was the job edited?): job/scan/1, "
                                       "job/scan/2; --force"), std::string::npos) << read_file("scan.log");
  EXPECT_EQ(read_file("job/scan.csv"), table);
  EXPECT_EQ(read_file("job/scan/1/input.txt"), std::string(kHead) + kick("0.8", "2") + kTail);
  ASSERT_EQ(scan({"--force", "--resume", "job"}), 0) << read_file("scan.log");
  EXPECT_EQ(read_file("job/scan/1/input.txt"), std::string(kHead) + kick("0.8", "2.5") + kTail);
  EXPECT_NE(read_file("job/scan.csv"), table);

  make_job("endless", "baseres 4\nD 1\nK 1\nscan 2 1 0 1 2\n");
  EXPECT_EQ(scan({"endless"}), 1);
  EXPECT_NE(read_file("scan.log").find("a scan needs a sample limit"), std::string::npos);
  EXPECT_EQ(scan({"--max-samples", "x", "endless"}), 2);
  EXPECT_EQ(scan({"--jobs", "0", "endless"}), 2);
  EXPECT_EQ(scan({"--precision", "quad", "endless"}), 2);
  EXPECT_EQ(veldspan({"scan", "--engine", "gpu", "endless"}, "scan.log"), 2);
  EXPECT_NE(read_file("scan.log").find("bad value for --engine: gpu"), std::string::npos);
  DIR* d = opendir("endless");
  int entries = 0;
  while (readdir(d)) entries++;
  closedir(d);
  EXPECT_EQ(entries, 3) << "only input.txt";

  ASSERT_EQ(scan({"--max-samples", "1", "endless"}), 0) << read_file("scan.log");
  EXPECT_EQ(scan({"--table", "--max-samples", "2", "endless"}), 3);
  EXPECT_NE(read_file("scan.log").find("point 1 is not complete: its record holds 1 of its 2 samples"),
            std::string::npos) << read_file("scan.log");
  EXPECT_EQ(after_first_line(read_file("endless/scan.csv")), "point,value1,Iters,passes,volume,stat_err,lo95,hi95\n");
}
