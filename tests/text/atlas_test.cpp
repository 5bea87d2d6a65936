#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>

#include "test_dir.h"
#include "tests/text/font_fixture.h"
#include "text/font_file.h"
#include "text/glyph_atlas.h"

namespace {

struct Laid {
  GlyphFont font;
  AtlasSize size;
};

Laid lay_out(const std::string& file, uint32_t limit = ATLAS_ROW_LIMIT) {
  Laid l;
  std::memset(&l.font, 0, sizeof l.font);
  l.font.max_height = tallest_glyph(bytes_of(file), file.size());
  l.size = layout_glyphs(&l.font, bytes_of(file), file.size(), limit);
  return l;
}

std::string records(int n, int w, int h) {
  std::string s;
  for (int i = 0; i < n; i++) s += glyph_record(w, h);
  return s;
}

}  // namespace

TEST(AtlasLayout, PadsCellsByAQuarterOfTheHeight) {
  Laid l = lay_out(records(3, 10, 8));
  EXPECT_EQ(l.font.glyph_x[0], 0u);
  EXPECT_EQ(l.font.glyph_x[1], 12u);
  EXPECT_EQ(l.font.glyph_x[2], 24u);
  EXPECT_EQ(l.font.glyph_width[3], 0u);
  EXPECT_EQ(l.size.width, 64u);  // right edge 34
  EXPECT_EQ(l.size.height, 8u);
}

TEST(AtlasLayout, BreaksRowsAtTheLimit) {
  Laid l = lay_out(records(100, 20, 16));
  EXPECT_EQ(l.font.glyph_x[84], 2016u);
  EXPECT_EQ(l.font.glyph_y[84], 0u);
  EXPECT_EQ(l.font.glyph_x[85], 0u);
  EXPECT_EQ(l.font.glyph_y[85], 20u);
  EXPECT_EQ(l.font.glyph_x[86], 24u);
  EXPECT_EQ(l.size.width, 2048u);
  EXPECT_EQ(l.size.height, 64u);  // 20 + 16 rounded up
  Laid wide = lay_out(glyph_record(250, 16) + glyph_record(50, 16));
  EXPECT_EQ(wide.size.width, 512u);  // right edge 304
  EXPECT_EQ(wide.size.height, 16u);
}

TEST(AtlasLayout, UsesOnlyWholeRecordsAndAtMost512) {
  std::string file = records(2, 3, 2) + glyph_record(4, 40).substr(0, 50);
  Laid l = lay_out(file);
  EXPECT_EQ(l.font.max_height, 2);  // the cut record's height is not seen
  EXPECT_EQ(l.font.glyph_width[1], 3u);
  EXPECT_EQ(l.font.glyph_width[2], 0u);
  EXPECT_EQ(lay_out(std::string("\x05", 1)).font.glyph_width[0], 0u);
  uint8_t* image = make_atlas_image(&l.font, bytes_of(file), file.size(), l.size);
  EXPECT_EQ(image[(1 * l.size.width + 5) * 4 + 3], 255);  // glyph 1, row 1
  std::free(image);

  Laid many = lay_out(records(511, 1, 1) + glyph_record(1, 40) + glyph_record(1, 90));
  EXPECT_EQ(many.font.max_height, 40);
  EXPECT_EQ(many.font.glyph_width[511], 1u);
}

TEST(AtlasLayout, RefusesAnAtlasGLCannotHold) {
  Laid l = lay_out(records(40, 20, 16), 64);  // two glyphs a row
  EXPECT_EQ(l.size.height, 512u);
  EXPECT_FALSE(atlas_fits(l.size, 64));
  EXPECT_TRUE(atlas_fits(l.size, int(l.size.height)));
  EXPECT_TRUE(atlas_fits({2048, 64}, 2048));
}

TEST(AtlasPixels, PaletteIndicesBecomeRgba) {
  float r[256], g[256], b[256];
  make_palette(r, g, b);
  auto px = [&](int i) {
    uint8_t c[4];
    palette_pixel(uint8_t(i), r, g, b, c);
    return std::vector<int>{c[0], c[1], c[2], c[3]};
  };
  EXPECT_EQ(px(8), (std::vector<int>{63, 63, 63, 255}));
  EXPECT_EQ(px(15), (std::vector<int>{255, 255, 255, 255}));
  EXPECT_EQ(px(7), (std::vector<int>{127, 127, 127, 255}));
  EXPECT_EQ(px(12), (std::vector<int>{255, 0, 0, 255}));
  EXPECT_EQ(px(16), (std::vector<int>{0, 0, 0, 255}));
  EXPECT_EQ(px(39), (std::vector<int>{255, 255, 255, 255}));
  EXPECT_EQ(px(40 + 5 + 6 * 2 + 36 * 1), (std::vector<int>{255, 102, 51, 255}));
  EXPECT_EQ(px(255), (std::vector<int>{0, 0, 0, 0}));
}

TEST(AtlasPixels, SharpensDigitsAtReducedLevels) {
  uint8_t lut[256];
  make_sharpen_table(lut);
  EXPECT_EQ(lut[0], 0);
  EXPECT_EQ(lut[255], 255);
  GlyphFont* f = static_cast<GlyphFont*>(std::calloc(1, sizeof(GlyphFont)));
  f->max_height = 8;
  f->glyph_x['1'] = 8, f->glyph_width['1'] = 8;    // level 1: columns 4..7
  f->glyph_x['A'] = 16, f->glyph_width['A'] = 8;   // not a digit
  f->glyph_x[300] = 24, f->glyph_width[300] = 8;   // all zero
  std::vector<uint8_t> level(16 * 4 * 4, 0);
  level[(1 * 16 + 5) * 4] = 100;
  level[(1 * 16 + 6) * 4] = 50;
  level[(1 * 16 + 9) * 4] = 100;
  sharpen_level(f, 1, level.data(), 16, 4, lut);
  EXPECT_EQ(level[(1 * 16 + 5) * 4], 255);
  EXPECT_EQ(level[(1 * 16 + 6) * 4], lut[127]);
  EXPECT_EQ(level[(1 * 16 + 9) * 4], 100);
  for (int x = 12; x < 16; x++) EXPECT_EQ(level[(1 * 16 + x) * 4], 0);
  std::free(f);
}

TEST(FontFile, MetricsAndMissingFiles) {
  Laid l = lay_out(records(68, 6, 9));
  compute_glyph_metrics(&l.font);
  EXPECT_EQ(l.font.reference_width, 7);
  EXPECT_EQ(l.font.max_width, 6);
  Laid few = lay_out(records(67, 6, 9));
  compute_glyph_metrics(&few.font);
  EXPECT_EQ(few.font.reference_width, 1);
  Laid empty = lay_out(std::string("\0\0", 2));
  EXPECT_EQ(empty.font.max_height, 1);
  size_t length = 7;
  EXPECT_EQ(read_whole_file("/nonexistent/font.dat", &length), nullptr);
  EXPECT_EQ(read_whole_file("/dev/null", &length), nullptr);
}

// A directory, or a file larger than any usable font, gives the blank font
// like a missing file instead of a read of LLONG_MAX or a gigabyte.
TEST(FontFile, ReadsOnlyRegularFilesUpToTheLargestUsableFont) {
  TestDir dir;
  size_t length = 7;
  EXPECT_EQ(read_whole_file(".", &length), nullptr);
  write_file("font.dat", glyph_record(1, 1));
  ASSERT_EQ(truncate("font.dat", off_t(FONT_FILE_LIMIT)), 0);  // sparse: no disk used
  uint8_t* bytes = read_whole_file("font.dat", &length);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(length, FONT_FILE_LIMIT);
  EXPECT_EQ(bytes[0], 1);
  std::free(bytes);
  ASSERT_EQ(truncate("font.dat", off_t(FONT_FILE_LIMIT) + 1), 0);
  EXPECT_EQ(read_whole_file("font.dat", &length), nullptr);
  EXPECT_EQ(length, FONT_FILE_LIMIT);
}
