#include "app/statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "test_dir.h"

namespace {

// A run over a job with the given turn counts, without files or GL.
RunState run_with(std::vector<int> iterations, int baseres = 2) {
  RunState run;
  std::memset(&run, 0, sizeof run);
  run.settings = job_defaults();
  run.settings.baseres = baseres;
  for (int t : iterations) growarray_append(&run.settings.iterations, &t);
  run.settings.colourlevels = colour_levels_for(run.settings.iterations.count);
  run.side = baseres * baseres;
  run.pixels = new unsigned char[size_t(run.side) * run.side * 3]();
  run.histogram = new int32_t[iterations.size() + 1];
  run.count_sum = new int64_t[iterations.size() + 1]();
  run.count_sq_sum = new SquareSum[iterations.size() + 1]();
  string_set(&run.results_pending, "");
  return run;
}

void paint(RunState* run, int pixel, int r, int g, int b) {
  run->pixels[pixel * 3] = static_cast<unsigned char>(r);
  run->pixels[pixel * 3 + 1] = static_cast<unsigned char>(g);
  run->pixels[pixel * 3 + 2] = static_cast<unsigned char>(b);
}

void take_sample(RunState* run) {
  run->samples++;
  EXPECT_EQ(count_levels(run), 0);
  add_sample_counts(run);
}

}  // namespace

TEST(Statistics, DecodeInvertsTheShaderColourCode) {
  EXPECT_EQ(decode_level(0, 0, 0, 3), 0);
  EXPECT_EQ(decode_level(0, 0, 127, 3), 1);
  EXPECT_EQ(decode_level(0, 0, 128, 3), 1);
  EXPECT_EQ(decode_level(0, 0, 255, 3), 2);
  EXPECT_EQ(decode_level(0, 0, 63, 3), 0);
  EXPECT_EQ(decode_level(0, 0, 64, 3), 1);
  EXPECT_EQ(decode_level(0, 0, 190, 3), 1);
  EXPECT_EQ(decode_level(0, 0, 191, 3), 2);
  EXPECT_EQ(decode_level(255, 255, 255, 3), 26);
  // Level 27 with L = 4 is the shader's (1/3, 2/3, 1): bytes 85, 170, 255.
  EXPECT_EQ(decode_level(85, 170, 255, 4), 27);
  for (int c = 0; c < 64; c++) {
    int r = c / 16, g = (c / 4) % 4, b = c % 4;
    EXPECT_EQ(decode_level(static_cast<unsigned char>(std::lround(r * 255.0 / 3)),
                           static_cast<unsigned char>(std::lround(g * 255.0 / 3)),
                           static_cast<unsigned char>(std::lround(b * 255.0 / 3)), 4),
              c);
  }
}

TEST(Statistics, WorkedCaseOfThreeThresholds) {
  // Raw counts a=1, b=1, c=1, d=1 for levels 0..3 on a 2^4 = 16 pixel
  // square: the rest (12 pixels) are level 1, so b = 13.
  RunState run = run_with({10, 100, 1000});
  for (int p = 0; p < 16; p++) paint(&run, p, 0, 0, 127);  // level 1
  paint(&run, 0, 0, 0, 0);                                  // level 0
  paint(&run, 1, 0, 0, 255);                                // level 2
  paint(&run, 2, 0, 127, 0);                                // level 3
  ASSERT_EQ(count_levels(&run), 0);
  EXPECT_EQ(run.histogram[0], 1);
  EXPECT_EQ(run.histogram[1], 13);
  survival_counts(run.histogram, 3);
  EXPECT_EQ(run.histogram[0], 1);   // a
  EXPECT_EQ(run.histogram[1], 16);  // a + b + c + d
  EXPECT_EQ(run.histogram[2], 3);   // a + c + d
  EXPECT_EQ(run.histogram[3], 2);   // a + d
}

TEST(Statistics, RowsTakeDomainThresholdsAndWrapToLevelZero) {
  RunState run = run_with({10, 100, 1000});
  paint(&run, 0, 0, 0, 255);  // level 2: survived 10, not 100
  for (int p = 1; p < 16; p++) paint(&run, p, 0, 0, 0);
  paint(&run, 1, 0, 0, 127);  // level 1
  run.samples++;
  count_levels(&run);
  add_sample_counts(&run);
  EXPECT_EQ(run.count_sum[0], 16);
  EXPECT_EQ(run.count_sum[1], 15);
  EXPECT_EQ(run.count_sum[2], 14);
  EXPECT_EQ(run.count_sum[3], 14);
  EXPECT_EQ(row_mean(&run, 1), 15.0);  // range volume 16 over 16 cells
}

TEST(Statistics, BlackAndAllLostSquaresAndOneThreshold) {
  RunState black = run_with({100});
  take_sample(&black);  // all pixels level 0: survived everything
  EXPECT_EQ(row_mean(&black, 0), 16.0);
  EXPECT_EQ(row_mean(&black, 1), 16.0);
  RunState lost = run_with({100});
  for (int p = 0; p < 16; p++) paint(&lost, p, 0, 0, 128);
  take_sample(&lost);
  EXPECT_EQ(row_mean(&lost, 0), 16.0);
  EXPECT_EQ(row_mean(&lost, 1), 0.0);
  EXPECT_EQ(range_volume(&lost.settings), 16.0);
  EXPECT_EQ(particle_volume(&lost.settings), 1.0);
}

TEST(Statistics, LevelsBeyondTheLastAreCountedNowhere) {
  RunState run = run_with({10, 100});
  paint(&run, 3, 255, 255, 255);  // level 26 > n = 2
  paint(&run, 4, 0, 255, 0);      // level 6
  EXPECT_EQ(count_levels(&run), 2);
  EXPECT_EQ(run.histogram[0], 14);
  EXPECT_EQ(run.histogram[1] + run.histogram[2], 0);
}

TEST(Statistics, TableDecodesEveryColourAsDecodeLevel) {
  for (int q : {3, 4, 5}) {
    DecodeTable table;
    fill_decode_table(q, &table);
    int64_t wrong = 0, first = -1;
    for (int c = 0; c < (1 << 24); c++) {
      unsigned char r = static_cast<unsigned char>(c >> 16), g = static_cast<unsigned char>(c >> 8),
                    b = static_cast<unsigned char>(c);
      if (table_level(&table, r, g, b) == decode_level(r, g, b, q)) continue;
      if (wrong++ == 0) first = c;
    }
    EXPECT_EQ(wrong, 0) << "colourlevels " << q << ", first wrong colour 0x" << std::hex << first;
  }
}

// Runs of one colour of every length, at the start, across rows and at the
// end of the square; colours that differ but decode alike (127 and 128),
// and runs beyond the last level, must count as pixel by pixel.
TEST(Statistics, RunsOfEqualColoursCountPixelByPixel) {
  RunState run = run_with({10, 100, 1000}, 4);
  const int colours[6][3] = {{0, 0, 127}, {0, 0, 128}, {0, 0, 0}, {0, 127, 0}, {255, 255, 255}, {0, 255, 0}};
  for (int p = 0, length = 1, c = 0; p < 256; length = length % 7 + 1, c = (c + 1) % 6)
    for (int k = 0; k < length && p < 256; k++, p++) paint(&run, p, colours[c][0], colours[c][1], colours[c][2]);
  std::vector<int32_t> expected(4, 0);
  int64_t beyond = 0;
  for (int p = 0; p < 256; p++) {
    const unsigned char* c = run.pixels + 3 * p;
    int level = decode_level(c[0], c[1], c[2], run.settings.colourlevels);
    if (level <= 3) expected[size_t(level)]++;
    else beyond++;
  }
  ASSERT_GT(beyond, 0);
  EXPECT_EQ(count_levels(&run), beyond);
  EXPECT_EQ(std::vector<int32_t>(run.histogram, run.histogram + 4), expected);
}

TEST(Statistics, MeanAndStandardErrorFromExactCounts) {
  RunState run = run_with({100});
  for (int k = 0; k < 3; k++) take_sample(&run);
  EXPECT_EQ(row_mean(&run, 0), 16.0);
  EXPECT_EQ(row_standard_error(&run, 0), 0.0);
  run.count_sum[1] = 1 + 2 + 3;  // counts 1, 2 and 3: sample variance 1
  run.count_sq_sum[1] = 1 + 4 + 9;
  EXPECT_EQ(row_mean(&run, 1), 2.0);
  EXPECT_NEAR(row_standard_error(&run, 1), std::sqrt(1.0 / 3), 1e-15);
}

// A box whose volume is no power of two: the per-sample volume is inexact,
// and sums of squared volumes used to cancel into a spread of about 1e-7
// where every sample had the same domain.
TEST(Statistics, DomainErrorIsExactlyZeroForAnyBox) {
  RunState run = run_with({100});
  run.settings.xrange = Range{-1.3, 1.7};
  run.settings.yprange = Range{-0.7, 0.4};
  for (int k = 0; k < 16; k++) take_sample(&run);  // the old double sums gave 1.2e-7 here
  EXPECT_EQ(row_standard_error(&run, 0), 0.0);
  EXPECT_EQ(row_standard_error(&run, 1), 0.0);
  EXPECT_EQ(row_mean(&run, 0), range_volume(&run.settings));
}

// A run of 2^31 - 1 samples of a full 32^4 square: the squared counts pass
// 2^64 long before, and the spread must still come out exactly 0.
TEST(Statistics, SumsOfSquaresDoNotOverflow) {
  RunState run = run_with({100}, 32);
  int64_t c = int64_t(1) << 20, n = INT32_MAX;
  run.samples = int32_t(n);
  run.count_sum[0] = c * n;
  run.count_sq_sum[0] = SquareSum(c * c) * SquareSum(n);
  EXPECT_EQ(row_standard_error(&run, 0), 0.0);
  EXPECT_EQ(row_mean(&run, 0), 16.0);
}

TEST(Statistics, BlockTextFirstWithTwoColumnsThenThree) {
  RunState run = run_with({100}, 32);
  run.samples = 1;
  run.count_sum[0] = 1 << 20;
  run.count_sum[1] = 1;  // one particle of volume 2^-16
  EXPECT_EQ(result_block_text(&run, 1), "32^4 grid\nIters,4D_Vol\nDomain,16\n100,1.52587891e-005\n\n");
  run.samples = 16;
  run.count_sum[0] = int64_t(16) << 20;
  run.count_sq_sum[0] = SquareSum(16) << 40;
  run.count_sum[1] = 16 << 15;  // 2^15 particles, a volume of 0.5, in every sample
  run.count_sq_sum[1] = SquareSum(16) << 30;
  EXPECT_EQ(result_block_text(&run, 2), "64^4 grid\nIters,4D_Vol,+/-\nDomain,16,0\n100,0.5,0\n\n");
  EXPECT_EQ(result_block_text(&run, 3).substr(0, 19), "96^4 irregular grid");
  EXPECT_EQ(result_block_text(&run, 4).substr(0, 10), "128^4 grid");
}

TEST(Statistics, RowLabelsFollowTheJobOrder) {
  RunState run = run_with({1000, 10, 100});
  run.samples = 1;
  EXPECT_EQ(result_block_text(&run, 1), "2^4 grid\nIters,4D_Vol\nDomain,0\n1000,0\n10,0\n100,0\n\n");
}
