// Font files read without GL: the atlas plan, the atlas image, the glyph
// metrics, the sharpening of the first reduced level, and text laid out and
// measured with the font.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "tests/text/font_fixture.h"
#include "text/font_file.h"
#include "text/glyph_atlas.h"
#include "text/text_draw.h"

namespace {

// The smallest texture size limit GL 2.0 drivers commonly give; Mesa gives
// 16384, whose atlases take far longer to fill.
const int MAX_TEXTURE_SIZE = 2048;

void sharpen_first_reduced_level(const GlyphFont* font) {
  uint32_t w = std::max(1u, font->atlas_width / 2), h = std::max(1u, font->atlas_height / 2);
  std::vector<uint8_t> level(size_t(w) * h * 4, 200);
  uint8_t lut[256];
  make_sharpen_table(lut);
  sharpen_level(font, 1, level.data(), w, h, lut);
}

void lay_out_text(GlyphFont* font) {
  font->style = DEFAULT_STYLE;
  font->style.base = font;
  font->style.own_glyphs = GLYPH_SLOTS;
  register_font(font);
  select_font(font);
  std::vector<TextQuad> quads;
  layout_text(0, 0, 256, "Sample 123456 (12^4 in 7280)\n\x02\x01\x01 particles/s", &quads);
  measure_text_n("prog=3 glGetError()=0", SIZE_MAX);
  clear_registry();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  GlyphFont* font = static_cast<GlyphFont*>(std::calloc(1, sizeof(GlyphFont)));
  string_set(&font->name, "normal");
  if (!plan_glyph_atlas(font, data, size, MAX_TEXTURE_SIZE)) {
    std::free(font->name);
    std::free(font);
    return 0;
  }
  std::free(make_atlas_image(font, data, size, AtlasSize{font->atlas_width, font->atlas_height}));
  compute_glyph_metrics(font);
  sharpen_first_reduced_level(font);
  lay_out_text(font);
  return 0;
}
