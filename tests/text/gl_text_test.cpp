#include "tests/text/gl_context.h"

#include <algorithm>
#include <string>

#include "tests/text/font_fixture.h"
#include "text/font_file.h"
#include "text/glyph_atlas.h"
#include "text/text_draw.h"

namespace {

const std::string BUNDLED_FONT = std::string(VELDSPAN_SOURCE_DIR) + "/examples/font.dat";

struct GlText : GlContext {
  void SetUp() override {
    GlContext::SetUp();
    if (context) clear_registry();
  }
  void TearDown() override {
    if (context) clear_registry();
    GlContext::TearDown();
  }
};

bool inside(const TextQuad& q, int x, int y) {
  return x + 0.5f > q.x0 && x + 0.5f < q.x1 && y + 0.5f > q.y0 && y + 0.5f < q.y1;
}

bool lit(const std::vector<unsigned char>& px, int x, int y) {
  const unsigned char* p = &px[(size_t(y) * GlContext::WIDTH + x) * 3];
  return p[0] || p[1] || p[2];
}

// Every lit pixel lies in one of the quads; returns how many were lit.
int lit_only_in(const std::vector<unsigned char>& px, const std::vector<TextQuad>& quads) {
  int count = 0;
  for (int y = 0; y < GlContext::HEIGHT; y++) {
    for (int x = 0; x < GlContext::WIDTH; x++) {
      if (!lit(px, x, y)) continue;
      count++;
      bool covered = std::any_of(quads.begin(), quads.end(), [&](const TextQuad& q) { return inside(q, x, y); });
      EXPECT_TRUE(covered) << "lit pixel outside the glyph cells at " << x << "," << y;
      if (!covered) return count;
    }
  }
  return count;
}

int lit_in(const std::vector<unsigned char>& px, const TextQuad& q) {
  int count = 0;
  for (int y = int(q.y0); y < int(q.y1) + 1; y++)
    for (int x = int(q.x0); x < int(q.x1) + 1; x++) count += inside(q, x, y) && lit(px, x, y);
  return count;
}

}  // namespace

TEST_F(GlText, BundledFontLightsOnlyTheGlyphCells) {
  ASSERT_EQ(load_font_file(BUNDLED_FONT.c_str(), "normal"), 1);
  GlyphFont* normal = current_font;
  const char* text = "Sample 123456 (12^4 in 7280)\n2.34567e+010 particles";
  draw_text(1024, 0, 0, text, 0xFFFFFF);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  std::vector<TextQuad> quads;
  layout_text(1024, 0, 0, text, &quads);
  std::vector<unsigned char> px = read_pixels();
  EXPECT_GT(lit_only_in(px, quads), 200);
  for (size_t i = 0; i < quads.size(); i++) {
    bool blank = text[i < 28 ? i : i + 1] == ' ';  // text index past the new line
    if (!blank) {
      EXPECT_GT(lit_in(px, quads[i]), 0) << "glyph " << i << " drew nothing";
    }
  }
  EXPECT_EQ(*std::max_element(px.begin(), px.end()), 255);
  EXPECT_NE(std::search_n(px.begin(), px.end(), 3, 255), px.end());  // a white pixel

  ASSERT_EQ(load_font_file(BUNDLED_FONT.c_str(), "second"), 1);
  EXPECT_EQ(current_font, normal);
}

TEST_F(GlText, TextTakesItsColourAndRestoresTheStateItTouches) {
  ASSERT_EQ(load_font_file(BUNDLED_FONT.c_str(), "normal"), 1);
  glEnable(GL_DEPTH_TEST);
  glDisable(GL_BLEND);
  glBlendFunc(GL_ZERO, GL_ONE);
  glBindTexture(GL_TEXTURE_2D, 0);
  glMatrixMode(GL_MODELVIEW);
  glTranslatef(3, 4, 0);
  GLfloat projection[16], modelview[16], after[16];
  glGetFloatv(GL_PROJECTION_MATRIX, projection);
  glGetFloatv(GL_MODELVIEW_MATRIX, modelview);

  draw_text(100, 200, 0, "0123456789", 0x00FF00);

  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  GLint value = 0;
  glGetIntegerv(GL_BLEND_SRC, &value);
  EXPECT_EQ(value, GL_ZERO);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &value);
  EXPECT_EQ(value, 0);
  glGetIntegerv(GL_MATRIX_MODE, &value);
  EXPECT_EQ(value, GL_MODELVIEW);
  glGetFloatv(GL_PROJECTION_MATRIX, after);
  EXPECT_TRUE(std::equal(after, after + 16, projection));
  glGetFloatv(GL_MODELVIEW_MATRIX, after);
  EXPECT_TRUE(std::equal(after, after + 16, modelview));
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  EXPECT_EQ(std::vector<GLfloat>(colour, colour + 4), std::vector<GLfloat>({0, 1, 0, 1})) << "left at the text's";
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

  std::vector<unsigned char> px = read_pixels();
  int green = 0;
  for (size_t i = 0; i < px.size(); i += 3) {
    EXPECT_EQ(px[i] | px[i + 2], 0);
    green = std::max(green, int(px[i + 1]));
  }
  EXPECT_EQ(green, 255);
}

TEST_F(GlText, MissingFontFileGivesABlankFontThatDraws) {
  GlyphFont* old = make_blank_font("normal");
  GlyphFont* copy = duplicate_font(old);
  rename_font(copy, "NORMAL");
  GLuint shared = old->texture;
  EXPECT_EQ(load_font_file("/nonexistent/font.dat", "Normal"), 0);
  EXPECT_FALSE(glIsTexture(shared));  // both old fonts went, and their atlas
  ASSERT_EQ(registered_font_count(), 1u);
  GlyphFont* blank = fonts[0];
  EXPECT_EQ(current_font, blank);
  EXPECT_EQ(blank->atlas_width, 1u);
  EXPECT_EQ(blank->atlas_height, 1u);
  EXPECT_EQ(blank->max_height, 1);

  draw_text(10, 10, 0, "abc", 0xFFFFFF);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  std::vector<TextQuad> quads;
  layout_text(10, 10, 0, "abc", &quads);
  ASSERT_EQ(quads.size(), 3u);
  lit_only_in(read_pixels(), quads);

  GLuint texture = blank->texture;
  delete_font(duplicate_font(blank));
  EXPECT_TRUE(glIsTexture(texture));  // still used by the base font
  duplicate_font(blank);
  delete_font(blank);  // takes its copy along, and the atlas with the last user
  EXPECT_EQ(registered_font_count(), 0u);
  EXPECT_FALSE(glIsTexture(texture));
}

TEST_F(GlText, AtlasTallerThanGLAllowsGivesTheBlankFont) {
  GLint max_size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
  std::string file = glyph_record(255, 255, 255);
  for (int g = 1; g < GLYPH_SLOTS; g++) file += glyph_record(255, 1, 255);
  GlyphFont probe = {};
  probe.max_height = 255;
  AtlasSize size = layout_glyphs(&probe, bytes_of(file), file.size(), ATLAS_ROW_LIMIT);
  if (atlas_fits(size, max_size)) GTEST_SKIP() << "GL holds " << size.height << " rows";

  testing::internal::CaptureStderr();
  EXPECT_EQ(load_font_data(bytes_of(file), file.size(), "huge"), 0);
  std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("exceeds the GL texture size limit"), std::string::npos) << said;
  ASSERT_NE(current_font, nullptr);
  EXPECT_STREQ(current_font->name, "huge");
  EXPECT_EQ(current_font->atlas_width, 1u);
  draw_text(0, 0, 0, "still draws", 0xFFFFFF);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}
