#include <gtest/gtest.h>

#include <string>

#include "tests/text/font_fixture.h"
#include "text/font_style.h"

namespace {

// One base font "normal" (max_width 10, max_height 12), registered and current.
struct Styles : ::testing::Test {
  GlyphFont* normal = nullptr;
  void SetUp() override {
    clear_registry();
    normal = fake_font("normal", 10, 12);
    select_font(normal);
  }
  void TearDown() override { clear_registry(); }
};

}  // namespace

TEST_F(Styles, NamedCopyWinsTiesAgainstTheBase) {
  EXPECT_EQ(font_from_description("normal"), normal);
  EXPECT_FLOAT_EQ(style_score(parse_style("normal"), normal->style), 1.0f);
  GlyphFont* profile = make_named_font("normal", "profile");
  EXPECT_STREQ(profile->name, "profile");
  EXPECT_EQ(profile->texture, normal->texture);
  EXPECT_EQ(current_font, normal);
  EXPECT_EQ(font_from_description("normal"), profile);
  EXPECT_EQ(parse_style("profile:big").base, normal);
}

TEST_F(Styles, DerivedFontsAreNamedByTheirStyleAndFoundAgain) {
  GlyphFont* bold = font_from_description("normal:bold");
  EXPECT_STREQ(bold->name, "normal:width=1.1:boldness=0.05");
  EXPECT_EQ(bold->style.own_glyphs, 0);
  EXPECT_EQ(bold->style.base, normal);
  GlyphFont* big = font_from_description("normal:size=24px");
  EXPECT_STREQ(big->name, "normal:width=2:height=2");
  EXPECT_EQ(font_from_description("normal:size=24px"), big);
  EXPECT_STREQ(font_from_description("normal:italic")->name, "normal:skew=0.4");
  EXPECT_STREQ(font_from_description("normal:angle=45\xB0")->name, "normal:skew=1");
  EXPECT_STREQ(font_from_description("normal:size=1e25")->name, "normal:width=1e+025:height=1e+025");
  EXPECT_EQ(current_font, normal);
}

TEST_F(Styles, CloseStylesReuseAFont) {
  uint32_t before = registered_font_count();
  FontStyle w = parse_style("normal:width=1.02");
  EXPECT_NEAR(style_score(w, normal->style), 0.8f, 1e-5);
  EXPECT_EQ(font_for_style(w), normal);
  FontStyle reset = parse_style("normal:bold:normal");
  EXPECT_EQ(reset.own_glyphs, 0);
  EXPECT_EQ(font_for_style(reset), normal);
  EXPECT_EQ(registered_font_count(), before);
}

TEST_F(Styles, KeysUnitsAndUnknownNames) {
  FontStyle s = parse_style("NORMAL:Small");
  EXPECT_EQ(s.base, normal);
  EXPECT_FLOAT_EQ(s.width_scale, float(1 / 1.5));
  s = parse_style("nosuchfont:big");
  EXPECT_EQ(s.base, normal);
  EXPECT_FLOAT_EQ(s.height_scale, 1.5f);
  s = parse_style("normal:width=6px:height=50%:boldness=5px:skew=10%");
  EXPECT_FLOAT_EQ(s.width_scale, 0.5f);
  EXPECT_FLOAT_EQ(s.height_scale, 0.5f);
  EXPECT_FLOAT_EQ(s.boldness, 0.5f);
  EXPECT_FLOAT_EQ(s.skew, 0.1f);
  s = parse_style("normal:size:width:boldness::frobnicate=3");  // no values: ignored
  EXPECT_TRUE(styles_equal(s, normal->style));
}

TEST_F(Styles, OtherBasesNeverSeedADerivedFont) {
  GlyphFont* other = fake_font("other", 6, 8);
  GlyphFont* steep = font_from_description("normal:angle=89.99\xB0");
  EXPECT_EQ(steep->style.base, normal);
  EXPECT_EQ(std::string(steep->name).rfind("normal:skew=", 0), 0u);
  EXPECT_NE(steep->glyph_width[0], other->glyph_width[0]);
}

TEST_F(Styles, LongNamesAreNotCut) {
  std::string long_name(1100, 'n');
  GlyphFont* base = fake_font(long_name.c_str(), 10, 12);
  GlyphFont* wide = font_from_description((long_name + ":width=3:height=4").c_str());
  EXPECT_EQ(wide->style.base, base);
  EXPECT_EQ(std::string(wide->name), long_name + ":width=3:height=4");
}
