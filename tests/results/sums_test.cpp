// The count sums, their means and errors, and the blocks of output.csv.
#include "results/sums.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "results/ledger.h"
#include "results/reports.h"

namespace {

JobSettings job_with(std::vector<int> iterations, int baseres = 2) {
  JobSettings s = job_defaults();
  s.baseres = baseres;
  for (int t : iterations) growarray_append(&s.iterations, &t);
  return s;
}

// Adds a pass of the raw level counts to the sums.
void add(CountSums* sums, std::vector<int32_t> levels) {
  add_pass_counts(sums, levels.data(), int32_t(levels.size()) - 1);
}

}  // namespace

TEST(Sums, RowsTakeDomainThresholdsAndWrapToLevelZero) {
  JobSettings job = job_with({10, 100, 1000});
  CountSums sums = empty_sums(3);
  add(&sums, {14, 1, 1, 0});  // 14 survived all, one lost at level 1, one at level 2
  EXPECT_EQ(sums.sum, (std::vector<int64_t>{16, 15, 14, 14}));
  EXPECT_EQ(sums.passes, 1);
  EXPECT_EQ(sums_mean(&job, &sums, 1), 15.0);  // range volume 16 over 16 cells
}

TEST(Sums, BlackAndAllLostSquaresAndOneThreshold) {
  JobSettings job = job_with({100});
  CountSums black = empty_sums(1), lost = empty_sums(1);
  add(&black, {16, 0});  // all pixels level 0: survived everything
  EXPECT_EQ(sums_mean(&job, &black, 0), 16.0);
  EXPECT_EQ(sums_mean(&job, &black, 1), 16.0);
  add(&lost, {0, 16});
  EXPECT_EQ(sums_mean(&job, &lost, 0), 16.0);
  EXPECT_EQ(sums_mean(&job, &lost, 1), 0.0);
  EXPECT_EQ(range_volume(&job), 16.0);
  EXPECT_EQ(particle_volume(&job), 1.0);
}

TEST(Sums, MeanAndStandardErrorFromExactCounts) {
  JobSettings job = job_with({100});
  CountSums sums = empty_sums(1);
  for (int32_t c : {1, 2, 3}) add(&sums, {c, 16 - c});  // survivors 1, 2 and 3: sample variance 1
  EXPECT_EQ(sums_mean(&job, &sums, 0), 16.0);
  EXPECT_EQ(sums_standard_error(&job, &sums, 0), 0.0);
  EXPECT_EQ(sums_mean(&job, &sums, 1), 2.0);
  EXPECT_NEAR(sums_standard_error(&job, &sums, 1), std::sqrt(1.0 / 3), 1e-15);
}

// A box whose volume is no power of two: the per-sample volume is inexact,
// and sums of squared volumes used to cancel into a spread of about 1e-7
// where every sample had the same domain.
TEST(Sums, DomainErrorIsExactlyZeroForAnyBox) {
  JobSettings job = job_with({100});
  job.xrange = Range{-1.3, 1.7};
  job.yprange = Range{-0.7, 0.4};
  CountSums sums = empty_sums(1);
  for (int k = 0; k < 16; k++) add(&sums, {16, 0});  // the old double sums gave 1.2e-7 here
  EXPECT_EQ(sums_standard_error(&job, &sums, 0), 0.0);
  EXPECT_EQ(sums_standard_error(&job, &sums, 1), 0.0);
  EXPECT_EQ(sums_mean(&job, &sums, 0), range_volume(&job));
}

// A run of 2^31 - 1 samples of a full 32^4 square: the squared counts pass
// 2^64 long before, and the spread must still come out exactly 0.
TEST(Sums, SumsOfSquaresDoNotOverflow) {
  JobSettings job = job_with({100}, 32);
  CountSums sums = empty_sums(1);
  int64_t c = int64_t(1) << 20, n = INT32_MAX;
  sums.passes = n;
  sums.sum[0] = c * n;
  sums.sq_sum[0] = SquareSum(c * c) * SquareSum(n);
  EXPECT_EQ(sums_standard_error(&job, &sums, 0), 0.0);
  EXPECT_EQ(sums_mean(&job, &sums, 0), 16.0);
}

TEST(Sums, BlockTextFirstWithTwoColumnsThenThree) {
  JobSettings job = job_with({100}, 32);
  Ledger ledger = start_ledger(&job, 0, 0);
  ledger.samples.passes = 1;
  ledger.samples.sum[0] = 1 << 20;
  ledger.samples.sum[1] = 1;  // one particle of volume 2^-16
  EXPECT_EQ(result_block_text(&ledger, 1), "32^4 grid\nIters,4D_Vol\nDomain,16\n100,1.52587891e-005\n\n");
  ledger.samples.passes = 16;
  ledger.samples.sum[0] = int64_t(16) << 20;
  ledger.samples.sq_sum[0] = SquareSum(16) << 40;
  ledger.samples.sum[1] = 16 << 15;  // 2^15 particles, a volume of 0.5, in every sample
  ledger.samples.sq_sum[1] = SquareSum(16) << 30;
  EXPECT_EQ(result_block_text(&ledger, 2), "64^4 grid\nIters,4D_Vol,+/-\nDomain,16,0\n100,0.5,0\n\n");
  EXPECT_EQ(result_block_text(&ledger, 3).substr(0, 19), "96^4 irregular grid");
  EXPECT_EQ(result_block_text(&ledger, 4).substr(0, 10), "128^4 grid");
}

TEST(Sums, RowLabelsFollowTheJobOrder) {
  JobSettings job = job_with({1000, 10, 100});
  Ledger ledger = start_ledger(&job, 0, 0);
  ledger.samples.passes = 1;
  EXPECT_EQ(result_block_text(&ledger, 1), "2^4 grid\nIters,4D_Vol\nDomain,0\n1000,0\n10,0\n100,0\n\n");
}
