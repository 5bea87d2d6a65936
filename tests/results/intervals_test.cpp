// Random passes: their jitter, the exact volume they are judged against,
// the coverage of their intervals, and aperture.csv.
#include "results/intervals.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "reference/coverage.h"
#include "reference/exact_volume.h"
#include "results/reports.h"
#include "results/schedule.h"
#include "test_dir.h"

namespace {

// Per plane (0 x, 1 y), the share of an n x n grid of cell midpoints over
// the plane's box that stays inside the collimator before each of turns
// 0 .. last, tracked element by element as the program's loop does.
double grid_share(const JobSettings* s, int plane, int last, int n) {
  const Range& q = plane ? s->yrange : s->xrange;
  const Range& p = plane ? s->yprange : s->xprange;
  const Range& c = plane ? s->ycollimator : s->xcollimator;
  int64_t inside = 0;
  for (int a = 0; a < n; a++)
    for (int b = 0; b < n; b++) {
      double x = q.low + (q.high - q.low) * (a + 0.5) / n, xp = p.low + (p.high - p.low) * (b + 0.5) / n;
      int turns = 0;
      for (; turns <= last && x >= c.low && x <= c.high; turns++)
        for (int32_t k = 0; k < element_count(s); k++) {
          const MapElement* e = element_at(s, k);
          if (e->kind == kElementDrift) x += e->length * xp;
          else xp += (plane ? 1 : -1) * e->strengths[0] * x;
        }
      inside += turns > last;
    }
  return double(inside) / (double(n) * n);
}

struct CoverageCount {
  std::vector<int> covered, student, exact_zero_width;
  int seeds;
};

// How often the 95% interval of `passes` random passes (and Student's t
// alone) covers each row's exact volume, over seeds 1 .. seeds, and how
// often it has no width where the exact volume is neither 0 nor the domain.
CoverageCount random_pass_coverage(const std::string& job, int seeds, int passes = 32) {
  TrackedJob* t = tracked_job(job);
  std::vector<double> exact = exact_row_volumes(&t->job);
  std::vector<int> zeros(exact.size(), 0);
  CoverageCount count{zeros, zeros, zeros, seeds};
  for (int seed = 1; seed <= seeds; seed++) {
    CountSums sums = empty_sums(iteration_count(&t->job));
    add_random_passes_from(t, uint64_t(seed), &sums, 1, passes);
    for (size_t row = 0; row < exact.size(); row++) {
      RandomInterval v = random_interval(&t->job, &sums, int32_t(row));
      double half = student_t_975(passes - 1) * v.error;
      count.covered[row] += covers(v.low, v.high, exact[row]);
      count.student[row] += covers(v.volume - half, v.volume + half, exact[row]);
      count.exact_zero_width[row] += v.low == v.high && exact[row] > 0 && exact[row] < exact[0];
    }
  }
  delete t;
  return count;
}

// Random passes of the small job (16 grid points, particle volume 1),
// each given by its survivors after turn counts 10 and 100.
CountSums small_job_passes(std::vector<std::pair<int32_t, int32_t>> survivors) {
  CountSums sums = empty_sums(2);
  for (auto p : survivors) {
    int32_t levels[3] = {p.second, 16 - p.first, p.first - p.second};
    add_pass_counts(&sums, levels, 2);
  }
  return sums;
}

// The job with iterations 10 and 100 on a 16-pixel square of unit particle
// volume: its seed 7, a random pass after every 4 samples.
const JobSettings* small_job() {
  static JobSettings s = job_from_text("baseres 2\niterations 10 100\nseed 7\n");
  return &s;
}

// A ledger of the small job with the given random passes and two samples
// counted.
Ledger counted_ledger(int passes) {
  Ledger l = start_ledger(small_job(), 0, 0);
  for (int j = 1; j <= passes; j++) {
    Pass pass{'r', j, {2 + 2 * j, 16 - 4 - 2 * j, 2}};  // levels 0, 1, 2: rows 16, 4 + 2j, 2 + 2j
    ledger_take(&l, &pass);
  }
  l.samples.passes = 2;
  l.next_checkpoint = 3;
  l.samples.sum = {32, 14, 10};  // schedule means 16, 7 and 5
  return l;
}

}  // namespace

// The calculator the coverage is judged by, against a plain count of a
// fine grid tracked turn by turn.
TEST(ExactVolume, AgreesWithAFineGridCountOfEachPlane) {
  for (const char* job : {kFodoJob, kGridFacesJob}) {
    JobSettings s = job_from_text(job);
    double mx[4], my[4];
    ASSERT_TRUE(plane_matrices(&s, mx, my));
    for (int32_t k = 0; k < iteration_count(&s); k++) {
      int last = iteration_at(&s, k);
      double x = surviving_area(s.xrange, s.xprange, s.xcollimator, mx, last) / 4;
      double y = surviving_area(s.yrange, s.yprange, s.ycollimator, my, last) / 4;
      EXPECT_NEAR(x, grid_share(&s, 0, last, 600), 2e-3) << job << " turns " << last;
      EXPECT_NEAR(y, grid_share(&s, 1, last, 600), 2e-3) << job << " turns " << last;
    }
  }
  JobSettings sextupole = job_from_text("D 1\nK 0.5 0.1\n");
  EXPECT_TRUE(exact_row_volumes(&sextupole).empty());
}

// NOTE: the passes' jitter is part of what a sample record means: a resumed
// run or a shard recomputes pass j from the seed alone, so the numbers
// must not change between versions.
TEST(RandomPasses, JitterDependsOnSeedAndIndexOnlyAndIsExactInSinglePrecision) {
  double first[4], again[4], other_seed[4];
  random_pass_jitter(kDefaultSeed, 1, first);
  random_pass_jitter(kDefaultSeed, 1, again);
  random_pass_jitter(kDefaultSeed + 1, 1, other_seed);
  const double pinned[4] = {0.81393659114837646, 0.026576578617095947, 0.12370395660400391, 0.61816275119781494};
  for (int k = 0; k < 4; k++) {
    EXPECT_EQ(first[k], again[k]);
    EXPECT_NE(first[k], other_seed[k]);
    EXPECT_DOUBLE_EQ(first[k], pinned[k]) << k;
  }
  double sum[4] = {}, sq[4] = {};
  const int passes = 4000;
  for (int j = 1; j <= passes; j++) {
    double u[4];
    random_pass_jitter(123, j, u);
    for (int k = 0; k < 4; k++) {
      EXPECT_TRUE(u[k] >= 0 && u[k] < 1 && double(float(u[k])) == u[k]) << u[k];
      sum[k] += u[k];
      sq[k] += u[k] * u[k];
    }
  }
  for (int k = 0; k < 4; k++) {  // a uniform's mean 1/2 and variance 1/12
    double mean = sum[k] / passes;
    EXPECT_NEAR(mean, 0.5, 0.02);
    EXPECT_NEAR(sq[k] / passes - mean * mean, 1.0 / 12, 0.005);
  }
}

TEST(RandomPasses, IntervalsOf32PassesCoverTheExactVolume) {
  for (const char* job : {kFodoJob, kGridFacesJob}) {
    CoverageCount c = random_pass_coverage(job, 40);
    for (size_t row = 0; row < c.covered.size(); row++) {
      std::printf("row %zu: covered in %d of %d\n", row, c.covered[row], c.seeds);
      EXPECT_GE(c.covered[row], 33) << job << " row " << row;
    }
  }
}

// Why the random passes exist: after 256 samples the schedule's mean lies
// further from the exact volume than its standard error admits.
TEST(RandomPasses, ScheduleErrorBarsMissTheExactVolume) {
  TrackedJob* t = tracked_job(kGridFacesJob);
  std::vector<double> exact = exact_row_volumes(&t->job);
  CountSums sums = empty_sums(iteration_count(&t->job));
  add_schedule_from(t, &sums, 1, 256);
  int missed = 0;
  for (int32_t row = 1; row < int32_t(exact.size()); row++) {
    double mean = sums_mean(&t->job, &sums, row), se = sums_standard_error(&t->job, &sums, row);
    std::printf("row %d: schedule %.6g +- %.2g, exact %.6g: %.1f SE off\n", row, mean, se, exact[size_t(row)],
                std::fabs(mean - exact[size_t(row)]) / se);
    missed += !covers(mean - 2 * se, mean + 2 * se, exact[size_t(row)]);
  }
  EXPECT_GE(missed, 1);
  delete t;
}

TEST(Aperture, RowsFromTheRandomPassesWithDashesWhereThereIsNoFigure) {
  const char* columns = "Iters,passes,volume,stat_err,lo95,hi95,lattice_bias\n";
  Ledger three = counted_ledger(3);
  std::string text = aperture_text(&three, "ring", "2011-Jan-01 12:00:00");
  EXPECT_EQ(text, std::string("Veldspan aperture of job \"ring\" at 2011-Jan-01 12:00:00: sample 2 (4^4 grid), "
                              "3 random passes (randompasses 4, seed 7)\n") +
                      columns +
                      "Domain,3,16,0,16,16,0\n"
                      "10,3,8,1.15470054,3.03172458,12.9682754,-1\n"
                      "100,3,6,1.15470054,1.03172458,10.9682754,-1\n");
  Ledger one = counted_ledger(1);
  std::string lines = aperture_text(&one, "ring", "t");
  EXPECT_EQ(lines.substr(lines.find(columns) + std::strlen(columns)),
            "Domain,1,16,-,-,-,0\n10,1,6,-,-,-,1\n100,1,4,-,-,-,1\n");
  Ledger none = counted_ledger(0);
  lines = aperture_text(&none, "ring", "t");
  EXPECT_EQ(lines.substr(lines.find(columns) + std::strlen(columns)),
            "Domain,0,-,-,-,-,-\n10,0,-,-,-,-,-\n100,0,-,-,-,-,-\n");
}

// The aperture of a checkpoint whose sample owes a random pass waits for
// that pass; a run that ends while it is owed writes it with the passes
// there are.
TEST(Aperture, WaitsForTheRandomPassOfItsCheckpoint) {
  TestDir dir;
  Ledger l = start_ledger(small_job(), 0, 0);
  for (int s = 1; s <= 16; s++) {
    Pass pass{'s', s, {16, 0, 0}};
    LedgerDue due = ledger_take(&l, &pass);
    EXPECT_EQ(due.block, s == 1 ? 1 : s == 16 ? 2 : 0);
    EXPECT_EQ(due.aperture, s == 1) << s;  // sample 16 owes random pass 4
    if (s % 4 == 0) {
      Pass random{'r', s / 4, {16, 0, 0}};
      EXPECT_EQ(ledger_take(&l, &random).aperture, s == 16) << s;
    }
  }
  EXPECT_FALSE(l.aperture_due);
  Reports reports = start_reports();
  l.aperture_due = true;  // a checkpoint whose pass never came
  EXPECT_EQ(finish_reports(&reports, &l), 0);
  EXPECT_NE(read_file("aperture.csv").find("4 random passes"), std::string::npos);
}

// A file that cannot be put in place leaves no temporary file behind, is
// reported and ends the run with status 4; the next checkpoint that can
// write it writes it whole.
TEST(Aperture, UnwritableFileIsReportedAndLaterWrittenWhole) {
  TestDir dir;
  Ledger l = counted_ledger(3);
  Reports reports{output_report(), aperture_report()};
  mkdir("aperture.csv", 0755);
  LedgerDue due{0, true, false};
  testing::internal::CaptureStderr();
  write_due_reports(&reports, &l, &due);
  EXPECT_NE(access("aperture.csv.tmp", F_OK), 0);
  ASSERT_FALSE(reports.aperture.unwritten.empty());
  EXPECT_EQ(finish_reports(&reports, &l), kExitResultsLost);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("aperture.csv could not be written (Is a directory); it is written again at the next checkpoint"),
            std::string::npos) << err;
  EXPECT_NE(err.find("aperture.csv could not be written; its text was written to stderr:\nVeldspan aperture"),
            std::string::npos) << err;
  EXPECT_NE(read_file("graphics_error.log").find("aperture.csv could not be written"), std::string::npos);
  rmdir("aperture.csv");
  write_due_reports(&reports, &l, &due);
  EXPECT_TRUE(reports.aperture.unwritten.empty());
  EXPECT_NE(access("aperture.csv.tmp", F_OK), 0);
  std::string text = read_file("aperture.csv");
  EXPECT_EQ(text.substr(text.find('\n') + 1, 52), "Iters,passes,volume,stat_err,lo95,hi95,lattice_bias\n");
  EXPECT_EQ(finish_reports(&reports, &l), 0);
}

// The distribution functions against values known from their closed forms,
// from tables, and from sums done term by term.
TEST(Quantiles, IncompleteBetaAndItsQuantile) {
  EXPECT_NEAR(incomplete_beta(2, 5, 0.3), 0.579825, 1e-14);  // 1 - P(Bin(6, 0.3) <= 1)
  EXPECT_NEAR(incomplete_beta(1, 1, 0.37), 0.37, 1e-15);
  for (double a : {0.5, 3.0, 1e4}) EXPECT_NEAR(incomplete_beta(a, a, 0.5), 0.5, 1e-13) << a;
  EXPECT_NEAR(incomplete_beta(1e12, 1e12, 0.5), 0.5, 1e-9);  // a million terms of the fraction
  EXPECT_NEAR(incomplete_beta(0.5, 0.5, 0.25), 1.0 / 3, 1e-14);  // (2 / pi) asin(sqrt(x))
  EXPECT_NEAR(incomplete_beta(3, 7, 0.2) + incomplete_beta(7, 3, 0.8), 1.0, 1e-14);
  EXPECT_EQ(incomplete_beta(2, 3, 0), 0.0);
  EXPECT_EQ(incomplete_beta(2, 3, 1), 1.0);
  for (double q : {1e-6, 0.025, 0.5, 0.975}) {
    double x = beta_quantile(4, 200, q);
    EXPECT_NEAR(incomplete_beta(4, 200, x), q, 1e-12 * std::max(q, 1e-3)) << q;
  }
}

TEST(Quantiles, BinomialCdfSummedAndFromTheBeta) {
  EXPECT_NEAR(binomial_cdf(5, 20, 0.3), 0.416370829447481, 1e-14);
  EXPECT_NEAR(binomial_cdf(17, 40, 0.55), 0.0766817057137955, 1e-15);
  EXPECT_NEAR(binomial_cdf(0, 1000000, 3e-6), std::exp(1000000 * std::log1p(-3e-6)), 1e-15);
  EXPECT_EQ(binomial_cdf(7, 7, 0.5), 1.0);
  EXPECT_EQ(binomial_cdf(0, 5, 0), 1.0);
  EXPECT_EQ(binomial_cdf(4, 5, 1), 0.0);
  // Term by term below 10^4 counts, from the incomplete beta above: the
  // two agree where they meet.
  double p = 1e-5, n = 1e9, step = binomial_cdf(10001, int64_t(n), p) - binomial_cdf(10000, int64_t(n), p);
  double log_choose = std::lgamma(n + 1) - std::lgamma(10002.0) - std::lgamma(n - 10000);
  double pmf = std::exp(log_choose + 10001 * std::log(p) + (n - 10001) * std::log1p(-p));
  EXPECT_NEAR(step / pmf, 1.0, 2e-5);  // lgamma(1e9) leaves about 1e-6
}

TEST(Quantiles, ClopperPearsonIntervals) {
  ShareBounds three = binomial_interval_95(3, 10);
  EXPECT_NEAR(three.low, 0.06673951118, 1e-10);
  EXPECT_NEAR(three.high, 0.6524528501, 1e-10);
  ShareBounds none = binomial_interval_95(0, 20), all = binomial_interval_95(20, 20);
  EXPECT_EQ(none.low, 0.0);
  EXPECT_NEAR(none.high, 1 - std::pow(0.025, 1.0 / 20), 1e-13);
  EXPECT_EQ(all.high, 1.0);
  EXPECT_NEAR(all.low, std::pow(0.025, 1.0 / 20), 1e-13);
  // Many trials: the exact Poisson (Garwood) bounds of the count.
  const double n = 1e9;
  struct Known {
    int64_t k;
    double low, high;
  } poisson[] = {{0, 0, 3.688879454},       {1, 0.02531780798, 5.571643391}, {3, 0.6186721229, 8.76727307},
                 {10, 4.795388696, 18.39035604}, {10000, 9804.95246727, 10197.9516247},
                 {10001, 9805.94266761, 10198.9614238}};
  for (const Known& c : poisson) {
    ShareBounds b = binomial_interval_95(c.k, int64_t(n));
    EXPECT_NEAR(b.low * n, c.low, 1e-6 * c.high) << c.k;
    EXPECT_NEAR(b.high * n, c.high, 1e-6 * c.high) << c.k;
  }
  ShareBounds mirrored = binomial_interval_95(int64_t(n) - 3, int64_t(n));
  EXPECT_NEAR((1 - mirrored.high) * n, 0.6186721229, 1e-5);
  EXPECT_NEAR((1 - mirrored.low) * n, 8.76727307, 1e-5);
}

TEST(Quantiles, StudentT975ForAnyDegrees) {
  const double table[][2] = {{1, 12.7062047362}, {2, 4.30265272975}, {5, 2.57058183564}, {10, 2.22813885199},
                             {30, 2.0422724563}, {31, 2.0395134464},  {63, 1.99834054252}, {1000, 1.96233908083},
                             {1e6, 1.95996635682}};
  for (const auto& t : table) EXPECT_NEAR(student_t_975(int64_t(t[0])), t[1], 1e-9) << t[0];
  EXPECT_NEAR(student_t_975(9999), student_t_975(10000), 3e-8);  // where the expansion takes over
  EXPECT_GT(student_t_975(9999), student_t_975(10000));
  EXPECT_NEAR(student_t_975(int64_t(1) << 40), 1.959963984540054, 3e-12);
}

TEST(CountSums, PassesThatHitARowOrKeepItWholeAndItsLargestAndSmallestCounts) {
  CountSums sums = small_job_passes({{16, 0}, {5, 5}, {16, 16}, {0, 0}});
  EXPECT_EQ(sums.hit, (std::vector<int64_t>{4, 3, 2}));
  EXPECT_EQ(sums.whole, (std::vector<int64_t>{4, 2, 1}));
  EXPECT_EQ(sums.most, (std::vector<int64_t>{16, 16, 16}));
  EXPECT_EQ(sums.least, (std::vector<int64_t>{16, 0, 0}));
}

// The edge cases of the interval, on the small job: 16 grid points of
// particle volume 1, a domain of 16.
TEST(RandomInterval, NoSurvivorHasAPositiveUpperBoundAndAllSurvivorsALowerBoundBelowTheDomain) {
  for (int passes : {2, 3, 16}) {
    CountSums sums = small_job_passes(std::vector<std::pair<int32_t, int32_t>>(size_t(passes), {16, 0}));
    RandomInterval whole = random_interval(small_job(), &sums, 1), none = random_interval(small_job(), &sums, 2);
    EXPECT_EQ(whole.volume, 16.0);
    EXPECT_EQ(whole.high, 16.0);
    EXPECT_LT(whole.low, 16.0) << passes;
    EXPECT_GT(whole.low, 0.0) << passes;
    EXPECT_EQ(none.volume, 0.0);
    EXPECT_EQ(none.low, 0.0);
    EXPECT_GT(none.high, 0.0) << passes;
    EXPECT_LT(none.high, 16.0) << passes;
    EXPECT_GT(interval_half_width(&whole), 0.0);
    // Nothing after the last row bounds its losses: up to a share
    // 1 - 0.025^(1 / passes) of the passes may lose everything.
    EXPECT_LE(none.high, 16 * (1 - std::pow(0.025, 1.0 / passes)) + 1e-12);
  }
  CountSums sums = small_job_passes({{16, 16}, {16, 16}, {16, 16}, {16, 16}});
  RandomInterval last = random_interval(small_job(), &sums, 2);
  EXPECT_NEAR(last.low, 16 * std::pow(0.025, 1.0 / 4), 1e-12);
}

TEST(RandomInterval, DomainIsExactAndOnePassGivesNoInterval) {
  CountSums one = small_job_passes({{7, 3}});
  RandomInterval v = random_interval(small_job(), &one, 1);
  EXPECT_EQ(v.passes, 1);
  EXPECT_EQ(v.volume, 7.0);
  EXPECT_EQ(v.error, 0.0);
  EXPECT_EQ(v.low, 0.0);
  EXPECT_EQ(v.high, 0.0);
  CountSums two = small_job_passes({{7, 3}, {9, 0}});
  RandomInterval domain = random_interval(small_job(), &two, 0);
  EXPECT_EQ(domain.low, 16.0);
  EXPECT_EQ(domain.high, 16.0);
  EXPECT_EQ(domain.error, 0.0);
  // Two passes: Student's t of 1 degree (12.7 standard errors) cut at the
  // domain and at 0.
  RandomInterval row = random_interval(small_job(), &two, 1);
  EXPECT_EQ(row.volume, 8.0);
  EXPECT_EQ(row.error, 1.0);
  EXPECT_EQ(row.low, 0.0);
  EXPECT_EQ(row.high, 16.0);
}

// A row whose passes all counted the same number, or that only some passes
// hit: the interval holds what a pass may hold unseen.
TEST(RandomInterval, CountsAlikeAndClumpsWidenTheInterval) {
  CountSums alike = small_job_passes({{12, 4}, {14, 4}, {10, 4}, {12, 4}});
  RandomInterval v = random_interval(small_job(), &alike, 2);
  double q = 1 - std::pow(0.025, 1.0 / 4);
  EXPECT_NEAR(v.low, 4 * (1 - q), 1e-12);  // nothing after the last row: a share q of the passes may hold none
  EXPECT_NEAR(v.high, 4 + q * 10, 1e-12);  // row 1 counts 14 at the most
  CountSums clumps = small_job_passes({{16, 8}, {16, 0}, {16, 0}, {16, 0}, {16, 8}, {16, 0}, {16, 0}, {16, 0}});
  RandomInterval c = random_interval(small_job(), &clumps, 2);
  ShareBounds hits = binomial_interval_95(2, 8);
  EXPECT_LE(c.low, hits.low * 8 + 1e-12);  // passes that hold any hold 8
  EXPECT_GE(c.high, hits.high * 8 - 1e-12);
}

// The rows around a block of rows that every pass counted alike bound
// what the passes may have missed: here rows 2 to 5 count 8 in both
// passes, between row 1 (12 and 14) and row 6 (4 and 2).
TEST(RandomInterval, RowsCountedAlikeAreBoundedByTheNearestRowsThatDiffer) {
  JobSettings job = job_from_text("baseres 2\niterations 1 2 3 4 5 6 7\n");
  CountSums sums = empty_sums(7);
  for (std::vector<int32_t> rows : {std::vector<int32_t>{12, 8, 8, 8, 8, 4, 0}, {14, 8, 8, 8, 8, 2, 0}}) {
    std::vector<int32_t> levels{rows[6], 16 - rows[0]};  // level k: lost between rows k - 1 and k
    for (size_t k = 1; k < rows.size(); k++) levels.push_back(rows[k - 1] - rows[k]);
    add_pass_counts(&sums, levels.data(), 7);
  }
  double q = 1 - std::sqrt(0.025);  // a share of the shifts that two passes may both have missed
  for (int32_t row = 2; row <= 5; row++) {
    RandomInterval v = random_interval(&job, &sums, row);
    EXPECT_EQ(v.error, 0.0);
    EXPECT_NEAR(v.low, 8 - q * (8 - 2), 1e-12) << row;  // row 6 counts 2 at the least
    EXPECT_NEAR(v.high, 8 + q * (14 - 8), 1e-12) << row;  // row 1 counts 14 at the most
  }
}

TEST(RandomInterval, StaysWithinZeroAndTheDomain) {
  CountSums sums = small_job_passes({{15, 1}, {16, 0}, {14, 2}, {16, 1}, {3, 0}});
  for (int32_t row = 0; row <= 2; row++) {
    RandomInterval v = random_interval(small_job(), &sums, row);
    EXPECT_LE(0.0, v.low);
    EXPECT_LE(v.low, v.volume);
    EXPECT_LE(v.volume, v.high);
    EXPECT_LE(v.high, 16.0);
  }
}

// Where Student's t alone fails: a pass that holds 0.3 survivors on
// average (a box 81 times as large), nearly all of the grid, or survivors
// in clumps of 64 (no y collimator: a pass holds all 64 y points of an x
// point or none).
TEST(RandomPasses, IntervalsCoverTheExactVolumeAtTheExtremes) {
  const std::string jobs[] = {scaled_box(kFodoJob, 3, true), nearly_whole_ring("K 0.5\nD 0.5\nK -0.5\nD 0.5\n", 3, 1),
                              scaled_box(kFodoJob, 6, false) + "ycollimator -1e20 1e20\n"};
  int student_worst = 100;
  for (const std::string& job : jobs) {
    CoverageCount c = random_pass_coverage(job, 100, 16);
    for (size_t row = 1; row < c.covered.size(); row++) {
      std::printf("row %zu: covered in %d of %d (Student's t alone %d)\n", row, c.covered[row], c.seeds, c.student[row]);
      EXPECT_GE(c.covered[row], 92) << job << " row " << row;
      EXPECT_EQ(c.exact_zero_width[row], 0) << job << " row " << row;
      student_worst = std::min(student_worst, c.student[row]);
    }
  }
  EXPECT_LE(student_worst, 50);
}
