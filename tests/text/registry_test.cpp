#include <gtest/gtest.h>

#include <set>

#include "tests/text/font_fixture.h"
#include "text/font_registry.h"
#include "text/text_draw.h"

namespace {

struct Registry : ::testing::Test {
  void SetUp() override { clear_registry(); }
  void TearDown() override { clear_registry(); }
};

}  // namespace

TEST_F(Registry, StoresWholePointersAndCopiesShareTheAtlas) {
  GlyphFont* a = fake_font("normal", 8, 12);
  a->texture = 7;
  GlyphFont* b = duplicate_font(a);
  EXPECT_EQ(font_registry.elemsize, sizeof(GlyphFont*));
  ASSERT_EQ(registered_font_count(), 2u);
  EXPECT_EQ(fonts[0], a);
  EXPECT_EQ(fonts[1], b);
  EXPECT_EQ(b->texture, 7u);
  EXPECT_EQ(b->style.base, a);
  EXPECT_NE(b->name, a->name);
  rename_font(b, "profile");
  EXPECT_STREQ(a->name, "normal");
  EXPECT_STREQ(b->name, "profile");
  EXPECT_TRUE(texture_shared(a));
  a->texture = b->texture = 0;
}

TEST_F(Registry, CurrentFontBytesAreScaledModulo256) {
  GlyphFont* a = fake_font("tall", 8, 150);
  GlyphFont* b = duplicate_font(a);
  b->style.height_scale = 2.0f;
  b->style.width_scale = 1.5f;
  select_font(b);
  EXPECT_EQ(line_height, 44);  // 300 modulo 256
  EXPECT_EQ(cell_width, 13);   // trunc(9 x 1.5)
  b->style.height_scale = 1.0f;
  select_font(b);  // already current: nothing is refreshed
  EXPECT_EQ(line_height, 44);
  EXPECT_EQ(current_style.height_scale, 2.0f);
  select_font(a);
  EXPECT_EQ(line_height, 150);
  EXPECT_EQ(cell_width, 9);
}

TEST_F(Registry, DeletingTheCurrentFontSelectsASurvivor) {
  GlyphFont* a = fake_font("a", 8, 12);
  GlyphFont* b = fake_font("b", 8, 12);
  GlyphFont* c = fake_font("c", 8, 12);
  select_font(b);
  delete_font(b);
  EXPECT_EQ(registered_font_count(), 2u);
  EXPECT_TRUE(current_font == a || current_font == c);
}

// A copy reads its glyphs through its base font: deleting the base takes the
// copies along instead of leaving them pointing at freed memory.
TEST_F(Registry, CopiesGoWithTheirBaseFont) {
  GlyphFont* base = fake_font("base", 8, 12);
  GlyphFont* other = fake_font("other", 8, 12);
  GlyphFont* wide = duplicate_font(base);
  wide->style.width_scale = 2.0f;
  GlyphFont* named = duplicate_font(wide);
  select_font(named);
  delete_font(wide);  // a copy goes alone
  ASSERT_EQ(registered_font_count(), 3u);
  EXPECT_EQ(current_font, named);
  duplicate_font(base);
  delete_font(base);
  ASSERT_EQ(registered_font_count(), 1u);
  EXPECT_EQ(fonts[0], other);
  EXPECT_EQ(current_font, other);
  EXPECT_EQ(measure_text_n("ab", SIZE_MAX), 2 * (8 + 1));
}

TEST_F(Registry, DeletingTheLastFontLeavesNoCurrentFontAndTextCopes) {
  GlyphFont* a = fake_font("only", 8, 12);
  select_font(a);
  delete_font(a);
  EXPECT_EQ(registered_font_count(), 0u);
  EXPECT_EQ(current_font, nullptr);
  EXPECT_EQ(measure_text_n("anything", SIZE_MAX), 10);
  std::vector<TextQuad> quads;
  layout_text(0, 0, 0, "anything", &quads);
  EXPECT_TRUE(quads.empty());
  draw_text(0, 0, 0, "anything", 0xFFFFFF);  // returns before any GL call
  GlyphFont* again = fake_font("again", 8, 12);
  select_font(again);
  EXPECT_EQ(current_font, again);
}

TEST(RandomIndex, StaysInRangeAndReachesEveryIndex) {
  std::set<int> seen;
  for (int i = 0; i < 2000; i++) {
    EXPECT_EQ(random_index(1), 0);
    int k = random_index(3);
    ASSERT_GE(k, 0);
    ASSERT_LT(k, 3);
    seen.insert(k);
  }
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_EQ(random_index(0), 0);
}
