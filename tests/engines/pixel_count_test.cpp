// The fragment engine's count of read-back pixels, without GL.
#include <gtest/gtest.h>

#include <vector>

#include "engines/engine.h"
#include "results/sums.h"

namespace {

struct Square {
  std::vector<unsigned char> pixels;
  int32_t n;
  DecodeTable table;
};

Square square(int pixels, int turn_counts) {
  Square s{std::vector<unsigned char>(size_t(pixels) * 3, 0), turn_counts, {}};
  fill_decode_table(colour_levels_for(uint32_t(turn_counts)), &s.table);
  return s;
}

void paint(Square* s, int pixel, int r, int g, int b) {
  s->pixels[size_t(pixel) * 3] = static_cast<unsigned char>(r);
  s->pixels[size_t(pixel) * 3 + 1] = static_cast<unsigned char>(g);
  s->pixels[size_t(pixel) * 3 + 2] = static_cast<unsigned char>(b);
}

int64_t count(const Square& s, std::vector<int32_t>* levels) {
  levels->assign(size_t(s.n) + 1, -1);
  return count_pixel_levels(s.pixels.data(), s.pixels.size() / 3, &s.table, s.n, levels->data());
}

}  // namespace

TEST(PixelCount, WorkedCaseOfThreeThresholds) {
  // Raw counts a=1, b=1, c=1, d=1 for levels 0..3 on a 2^4 = 16 pixel
  // square: the rest (12 pixels) are level 1, so b = 13.
  Square s = square(16, 3);
  for (int p = 0; p < 16; p++) paint(&s, p, 0, 0, 127);  // level 1
  paint(&s, 0, 0, 0, 0);                                  // level 0
  paint(&s, 1, 0, 0, 255);                                // level 2
  paint(&s, 2, 0, 127, 0);                                // level 3
  std::vector<int32_t> h;
  ASSERT_EQ(count(s, &h), 0);
  EXPECT_EQ(h, (std::vector<int32_t>{1, 13, 1, 1}));
  survival_counts(h.data(), 3);
  EXPECT_EQ(h, (std::vector<int32_t>{1, 16, 3, 2}));  // a; a + b + c + d; a + c + d; a + d
}

TEST(PixelCount, LevelsBeyondTheLastAreCountedNowhere) {
  Square s = square(16, 2);
  paint(&s, 3, 255, 255, 255);  // level 26 > n = 2
  paint(&s, 4, 0, 255, 0);      // level 6
  std::vector<int32_t> h;
  EXPECT_EQ(count(s, &h), 2);
  EXPECT_EQ(h, (std::vector<int32_t>{14, 0, 0}));
}

// Runs of one colour of every length, at the start, across rows and at the
// end of the square; colours that differ but decode alike (127 and 128),
// and runs beyond the last level, must count as pixel by pixel.
TEST(PixelCount, RunsOfEqualColoursCountPixelByPixel) {
  Square s = square(256, 3);
  const int colours[6][3] = {{0, 0, 127}, {0, 0, 128}, {0, 0, 0}, {0, 127, 0}, {255, 255, 255}, {0, 255, 0}};
  for (int p = 0, length = 1, c = 0; p < 256; length = length % 7 + 1, c = (c + 1) % 6)
    for (int k = 0; k < length && p < 256; k++, p++) paint(&s, p, colours[c][0], colours[c][1], colours[c][2]);
  std::vector<int32_t> expected(4, 0);
  int64_t beyond = 0;
  for (int p = 0; p < 256; p++) {
    const unsigned char* c = &s.pixels[size_t(p) * 3];
    int level = decode_level(c[0], c[1], c[2], 3);
    if (level <= 3) expected[size_t(level)]++;
    else beyond++;
  }
  ASSERT_GT(beyond, 0);
  std::vector<int32_t> h;
  EXPECT_EQ(count(s, &h), beyond);
  EXPECT_EQ(h, expected);
}

// The survivors (black) on the box's edge: on a 3-point grid (9 x 9
// pixels) only the pixel at row 4, column 4 (the middle line of the middle
// block both ways) is inside; the count reads every edge row whole and
// only the edge columns of the rows between.
TEST(PixelCount, SurvivorsOnTheEdgeAreTheBlackPixelsOnEdgeLines) {
  Square s = square(81, 2);
  for (int p = 0; p < 81; p++) paint(&s, p, 0, 0, 127);  // level 1 everywhere
  int64_t expected = 0;
  for (int p : {0, 8, 40, 36, 44, 4, 76, 31, 22}) {
    paint(&s, p, 0, 0, 0);
    int row = p / 9, column = p % 9;
    expected += row != 4 || column != 4;
  }
  ASSERT_EQ(expected, 8);
  EXPECT_EQ(count_edge_survivors(s.pixels.data(), 3, &s.table), expected);
  // A 16 x 16 square all black: the 4^4 - 2^4 edge points of a 4-point grid.
  Square all = square(256, 2);
  EXPECT_EQ(count_edge_survivors(all.pixels.data(), 4, &all.table), 256 - 16);
}
