#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "tests/text/font_fixture.h"
#include "text/font_file.h"
#include "text/font_style.h"
#include "text/glyph_atlas.h"
#include "text/text_draw.h"

namespace {

// Base font "normal": every glyph 9 wide, cells 16 tall, cell_width 10, so a
// glyph advances 10 pixels when drawn and when measured.
struct Layout : ::testing::Test {
  GlyphFont* normal = nullptr;
  void SetUp() override {
    clear_registry();
    normal = fake_font("normal", 9, 16);
    select_font(normal);
  }
  void TearDown() override { clear_registry(); }
};

std::vector<TextQuad> lay_out(const char* text, int x = 0, int y = 0, int wrap_right = 0) {
  std::vector<TextQuad> quads;
  layout_text(x, y, wrap_right, text, &quads);
  return quads;
}

// The text placed so that its terminating zero is the last readable byte:
// reading past it faults.
const char* at_page_end(const std::string& text) {
  size_t page = size_t(sysconf(_SC_PAGESIZE));
  char* base = static_cast<char*>(
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  mprotect(base + page, page, PROT_NONE);
  char* start = base + page - (text.size() + 1);
  std::memcpy(start, text.c_str(), text.size() + 1);
  return start;
}

}  // namespace

TEST_F(Layout, GlyphsAdvanceAndNewLinesReturnToX) {
  std::vector<TextQuad> q = lay_out("A\nBC", 5, 7);
  ASSERT_EQ(q.size(), 3u);
  EXPECT_FLOAT_EQ(q[0].x0, 5.0f);
  EXPECT_FLOAT_EQ(q[0].x1, 14.0f);
  EXPECT_FLOAT_EQ(q[0].y1, 23.0f);
  EXPECT_FLOAT_EQ(q[0].u1, 25.0f / 256);  // cell of 'A' at (16, 64)
  EXPECT_FLOAT_EQ(q[0].v1, 80.0f / 256);
  EXPECT_FLOAT_EQ(q[1].x0, 5.0f);
  EXPECT_FLOAT_EQ(q[1].y0, 24.0f);  // trunc(7 + 16 + 1)
  EXPECT_FLOAT_EQ(q[2].x0, 15.0f);
  EXPECT_EQ(measure_text_n("A\nBC", SIZE_MAX), 10);
  EXPECT_EQ(measure_text_n("BC", SIZE_MAX), 20);
  EXPECT_EQ(lay_out(nullptr).size(), 5u);  // "NULL?"
  EXPECT_EQ(measure_text_n(nullptr, SIZE_MAX), 50);
}

TEST_F(Layout, SpacesWrapWhenTheNextWordPassesTheMargin) {
  std::vector<TextQuad> q = lay_out("aaaaaaaaa bb", 0, 0, 100);  // pen at 90 at the space
  ASSERT_EQ(q.size(), 11u);                                        // the space is not drawn
  EXPECT_FLOAT_EQ(q[9].x0, 0.0f);
  EXPECT_FLOAT_EQ(q[9].y0, 17.0f);
  q = lay_out("aaaaaaaaa b", 0, 0, 100);  // 90 + 10 is not past 100
  ASSERT_EQ(q.size(), 10u);
  EXPECT_FLOAT_EQ(q[9].x0, 100.0f);
  EXPECT_FLOAT_EQ(q[9].y0, 0.0f);
  q = lay_out("aaaaaaaaa bb");
  ASSERT_EQ(q.size(), 12u);
  EXPECT_FLOAT_EQ(q[11].x0, 110.0f);
}

TEST_F(Layout, SizeCommandsScaleFromTheStartingFontAndUndoTheRaise) {
  std::vector<TextQuad> q = lay_out("A\x05\x02\x80\x01\xff\xff" "B");  // 1.5 x, raise -1/256
  ASSERT_EQ(q.size(), 2u);
  EXPECT_FLOAT_EQ(q[1].x0, 10.0f);
  EXPECT_FLOAT_EQ(q[1].x1 - q[1].x0, 13.5f);
  EXPECT_FLOAT_EQ(q[1].y1 - q[1].y0, 24.0f);
  EXPECT_FLOAT_EQ(q[1].y0, 0.0f);
  EXPECT_STREQ(current_font->name, "normal:width=1.5:height=1.5");
  EXPECT_EQ(line_height, 24);

  select_font(normal);
  // raise 384/256 of 16 = 24 pixels, then 257/256 of 16 = 16 after undoing it
  q = lay_out("A\x05\x02\x01\x01\x80\x01" "B\x05\x02\x01\x01\x01\x01" "C", 0, 100);
  ASSERT_EQ(q.size(), 3u);
  EXPECT_FLOAT_EQ(q[1].y0, 76.0f);
  EXPECT_FLOAT_EQ(q[2].y0, 84.0f);
  EXPECT_EQ(current_font, normal);  // 257/256 is close enough to the base
  EXPECT_FLOAT_EQ(current_style.width_scale, 257.0f / 256);  // the wanted style, not the font's
}

// Any float is a scale: widths and line steps that no int holds are clamped
// (NaN counts as 0) rather than converted with undefined results.
TEST_F(Layout, HugeAndNanScalesAreClampedNotOverflowed) {
  select_font(font_from_description("normal:size=1e20"));
  EXPECT_EQ(line_height, 0);
  EXPECT_EQ(measure_text_n("AB", SIZE_MAX), 1000000000);
  std::vector<TextQuad> q = lay_out("A\nB\x05\x02\x01\x01\xff\x7f" "C");
  ASSERT_EQ(q.size(), 3u);
  EXPECT_GT(q[1].y0, 1e21f);
  EXPECT_LT(q[2].y0, -1e21f);  // raised by about 128 of its 1.6e21-pixel lines
  select_font(font_from_description("normal:width=nan"));
  EXPECT_EQ(measure_text_n("AB", SIZE_MAX), 0);
}

TEST_F(Layout, GlyphEscapesReachTheUpperSlotsOnly) {
  std::vector<TextQuad> q = lay_out("\x02\x01\x01" "B");
  ASSERT_EQ(q.size(), 2u);
  EXPECT_FLOAT_EQ(q[0].u0, float(normal->glyph_x[257]) / 256);
  EXPECT_FLOAT_EQ(q[1].x0, 10.0f);
  q = lay_out("\x02\x02\x01" "B\x02\xff\xff");  // 513 and 65535: nothing
  ASSERT_EQ(q.size(), 1u);
  EXPECT_FLOAT_EQ(q[0].x0, 0.0f);
  EXPECT_EQ(measure_text_n("A\x02\x01\x01" "B", SIZE_MAX), 20);
  EXPECT_EQ(measure_text_n("A\x07\x01\x01\x01\x01\x01\x01\x01" "B", SIZE_MAX), 20);
}

TEST_F(Layout, SequencesCutShortStopAtTheZero) {
  EXPECT_EQ(lay_out(at_page_end("AB\x02")).size(), 2u);
  EXPECT_EQ(lay_out(at_page_end("A\x02\x01")).size(), 1u);
  EXPECT_EQ(lay_out(at_page_end("A\x05\x02\x80\x01\x01")).size(), 1u);
  EXPECT_EQ(lay_out(at_page_end("A\x05")).size(), 1u);
  EXPECT_EQ(lay_out(at_page_end("A \x02\x01"), 0, 0, 100).size(), 1u);
  EXPECT_EQ(measure_text_n(at_page_end("A\x03\x41"), SIZE_MAX), 10);
  EXPECT_EQ(measure_text_n(at_page_end("A\x07"), SIZE_MAX), 10);
  EXPECT_STREQ(current_font->name, "normal");
}

TEST(BundledFont, StatusLinesFitTheStripRightOfTheSquare) {
  clear_registry();
  size_t length = 0;
  uint8_t* bytes = read_whole_file(VELDSPAN_SOURCE_DIR "/examples/font.dat", &length);
  ASSERT_NE(bytes, nullptr);
  GlyphFont* font = fake_font("normal", 0, 0);
  font->max_height = tallest_glyph(bytes, length);
  layout_glyphs(font, bytes, length, ATLAS_ROW_LIMIT);
  compute_glyph_metrics(font);
  std::free(bytes);
  select_font(font);
  const char* lines[] = {"prog=3 glGetError()=0 (GL_NO_ERROR=0)", "1.23457e+006 particles/s",
                         "Sample 123456 (12^4 in 7280)", "2.34567e+010 particles",
                         "1000000: 1.23457e-005 +/- 1.2e-006 (95%)"};
  for (const char* line : lines) {
    EXPECT_LE(measure_text_n(line, SIZE_MAX), 256 - 4) << line;
    std::vector<TextQuad> q = lay_out(line, 1024);
    EXPECT_LE(q.back().x1, 1024 + 256 - 4) << line;
  }
  EXPECT_GE(measure_text_n("0123456789", SIZE_MAX) / 10, 5);  // digits stay legible
  clear_registry();
}
