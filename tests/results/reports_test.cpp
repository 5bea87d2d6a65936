// The result files: output.csv's first line and blocks through the ledger,
// and text that cannot be written kept whole for later.
#include "results/reports.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <regex>

#include "test_dir.h"

namespace {

const std::regex kStartLine("Veldspan job started \\d{4}-[A-Za-z]{3}-\\d{2} \\d{2}:\\d{2}:\\d{2}\n");

// A ledger at sample L^4 of the job, and the block of checkpoint L as the
// loop writes it; returns the block's text.
std::string write_checkpoint(Reports* reports, Ledger* ledger, int32_t L) {
  ledger->samples.passes = int64_t(L) * L * L * L;
  ledger->next_checkpoint = L + 1;
  LedgerDue due{L, false, false};
  write_due_reports(reports, ledger, &due);
  return result_block_text(ledger, L);
}

// A small tmpfs mounted at "disk" for one test, taken away at its end.
struct SmallDisk {
  std::string path;
  ~SmallDisk() {
    if (!path.empty()) umount2(path.c_str(), MNT_DETACH);
  }
};

}  // namespace

TEST(Reports, EachStartWritesTheFirstLineAndDiscardsTheEarlierRun) {
  TestDir dir;
  JobSettings job = job_defaults();
  int32_t turns = 100;
  growarray_append(&job.iterations, &turns);
  for (int run = 0; run < 2; run++) {
    Reports reports = start_reports();
    EXPECT_TRUE(std::regex_match(read_file("output.csv"), kStartLine));
    Ledger ledger = start_ledger(&job, 0, 0);
    write_checkpoint(&reports, &ledger, 1);
  }
  std::string text = read_file("output.csv");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(text, m, kStartLine));
  EXPECT_EQ(m.position(0), 0);
  EXPECT_EQ(text.substr(m.length(0)), "32^4 grid\nIters,4D_Vol\nDomain,0\n100,0\n\n");
}

// Sixteen samples of the default job through the ledger, a quarter of the
// square lost before 100 turns: blocks at samples 1 and 16, and with
// random passes off no aperture.csv.
TEST(Reports, DefaultJobAfterTwoCheckpoints) {
  TestDir dir;
  JobSettings job = read_job_file("input.txt");
  job.randompasses = 0;
  Ledger ledger = start_ledger(&job, 0, 0);
  Reports reports = start_reports();
  int32_t pixels = 1 << 20;
  for (int s = 1; s <= 16; s++) {
    Pass pass{'s', s, {pixels - pixels / 4, pixels / 4}};
    LedgerDue due = ledger_take(&ledger, &pass);
    EXPECT_EQ(due.block, s == 1 ? 1 : s == 16 ? 2 : 0);
    EXPECT_FALSE(due.aperture);
    write_due_reports(&reports, &ledger, &due);
  }
  std::string text = read_file("output.csv");
  EXPECT_EQ(text.substr(text.find('\n') + 1),
            "32^4 grid\nIters,4D_Vol\nDomain,16\n100,12\n\n64^4 grid\nIters,4D_Vol,+/-\nDomain,16,0\n100,12,0\n\n");
  EXPECT_EQ(access("aperture.csv", F_OK), -1);
}

TEST(Reports, TextThatCannotBeWrittenIsKeptAndWrittenInOrderLater) {
  TestDir dir;
  JobSettings job = read_job_file("input.txt");
  Ledger ledger = start_ledger(&job, 0, 0);
  mkdir("output.csv", 0755);  // cannot be opened as a file
  testing::internal::CaptureStderr();
  Reports reports = start_reports();
  write_checkpoint(&reports, &ledger, 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(
                "output.csv could not be written (Is a directory); its text is kept and tried again later"),
            std::string::npos);
  EXPECT_FALSE(reports.output.unwritten.empty());
  rmdir("output.csv");
  write_checkpoint(&reports, &ledger, 2);
  std::string text = read_file("output.csv");
  EXPECT_TRUE(std::regex_search(text, kStartLine));
  size_t first = text.find("32^4 grid"), second = text.find("64^4 grid");
  EXPECT_NE(first, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_EQ(text.find("Veldspan", 1), std::string::npos);
  EXPECT_EQ(reports.output.unwritten, "");
  EXPECT_EQ(finish_reports(&reports, &ledger), 0);
}

// What still cannot be written at the end goes to stderr whole, the log
// says so, and the run ends with status 4.
TEST(Reports, TextStillUnwrittenAtTheEndGoesToStderr) {
  TestDir dir;
  JobSettings job = read_job_file("input.txt");
  Ledger ledger = start_ledger(&job, 0, 0);
  mkdir("output.csv", 0755);
  testing::internal::CaptureStderr();
  Reports reports = start_reports();
  std::string block = write_checkpoint(&reports, &ledger, 1);
  EXPECT_EQ(finish_reports(&reports, &ledger), kExitResultsLost);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("output.csv could not be written; the results missing from it were written to stderr:\n"
                     "Veldspan job started"),
            std::string::npos) << err;
  EXPECT_NE(err.find(block), std::string::npos);
  EXPECT_NE(read_file("graphics_error.log").find("output.csv could not be written"), std::string::npos);
}

// The disk fills up in the middle of a block: the file keeps only whole
// blocks, the cut one stays unwritten with the blocks after it, and once
// there is room again the next checkpoint writes them all, in order.
TEST(Reports, FullDiskLeavesOnlyWholeBlocksAndTheRestFollowsLater) {
  TestDir dir;
  std::string text = "baseres 4\niterations";
  for (int k = 1; k <= 250; k++) text += " " + std::to_string(k);  // blocks of about 2 kB, cut part way
  write_file("input.txt", text + "\n");
  JobSettings job = read_job_file("input.txt");
  Ledger ledger = start_ledger(&job, 0, 0);
  mkdir("disk", 0755);
  SmallDisk disk;
  if (mount("tmpfs", "disk", "tmpfs", 0, "size=16k") != 0)
    GTEST_SKIP() << "a tmpfs could not be mounted (" << std::strerror(errno) << "); run as root to test a full disk";
  disk.path = dir.path + "/disk";
  ASSERT_EQ(chdir("disk"), 0);
  write_file("filler", std::string(12288, 'x'));  // leaves one 4 kB page
  Reports reports = start_reports();
  std::string whole = read_file("output.csv"), cut;
  int32_t L = 1;
  testing::internal::CaptureStderr();
  for (; L <= 6 && cut.empty(); L++) {
    std::string block = write_checkpoint(&reports, &ledger, L);
    (reports.output.unwritten.empty() ? whole : cut) += block;
  }
  ASSERT_FALSE(cut.empty()) << "the disk never filled";
  ASSERT_GT(L, 2) << "no block fitted";
  EXPECT_EQ(read_file("output.csv"), whole);
  EXPECT_EQ(reports.output.unwritten, cut);
  cut += write_checkpoint(&reports, &ledger, L++);  // still full: it waits behind the cut one
  EXPECT_EQ(read_file("output.csv"), whole);
  ASSERT_EQ(unlink("filler"), 0);
  cut += write_checkpoint(&reports, &ledger, L);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(read_file("output.csv"), whole + cut);
  EXPECT_EQ(reports.output.unwritten, "");
}

// With emittances aperture.csv gives the DA in beam sigma of each row and
// the ends of its interval; without, the columns are not there.
TEST(Reports, ApertureGainsTheDynamicApertureInSigmaWithEmittances) {
  JobSettings job = read_job_file("/nonexistent/input.txt");
  job.baseres = 2;
  job.emittance[0] = 0.5;
  job.emittance[1] = 2;
  Ledger l = start_ledger(&job, 0, 0);
  for (int j = 1; j <= 2; j++) {
    Pass pass{'r', j, {4 + 4 * j, 12 - 4 * j}};  // survivors 8 and 12 of 16
    ledger_take(&l, &pass);
  }
  std::string text = aperture_text(&l, "ring", "t");
  EXPECT_NE(text.find("Iters,passes,volume,stat_err,lo95,hi95,lattice_bias,da_sigma,da_lo95,da_hi95\n"),
            std::string::npos) << text;
  // D = (2 V / (pi^2 ex ey))^(1/4) of the volume and of the interval's
  // ends, an end below 0 giving 0.
  std::string row = text.substr(text.find("\n100,") + 1);
  double volume, low, high, d, d_low, d_high;
  ASSERT_EQ(std::sscanf(row.c_str(), "100,2,%lf,%*[^,],%lf,%lf,-,%lf,%lf,%lf", &volume, &low, &high, &d, &d_low, &d_high),
            6) << row;
  auto da = [](double v) { return std::pow(2 * std::max(v, 0.0) / (M_PI * M_PI), 0.25); };
  EXPECT_EQ(volume, 10);
  EXPECT_NEAR(d, da(volume), 1e-8);
  EXPECT_NEAR(d_low, da(low), 1e-8);
  EXPECT_NEAR(d_high, da(high), 1e-8);
  job.emittance[0] = 0;
  EXPECT_EQ(aperture_text(&l, "ring", "t").find("da_sigma"), std::string::npos);
}
