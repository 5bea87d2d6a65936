#include "text/font_registry.h"

#include "gfx/gl.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "util/text_util.h"

const FontStyle DEFAULT_STYLE = {nullptr, 1.0f, 1.0f, 0.0f, 0.0f, 0};

GrowArray font_registry;
GlyphFont** fonts = nullptr;
GlyphFont* current_font = nullptr;
FontStyle current_style = DEFAULT_STYLE;
uint8_t line_height = 0;
uint8_t cell_width = 0;

void ensure_registry() {
  if (fonts) return;
  growarray_init(&font_registry, sizeof(GlyphFont*));
  growarray_set_alias(&font_registry, reinterpret_cast<void**>(&fonts));
}

uint32_t registered_font_count() { return fonts ? font_registry.count : 0; }

void register_font(GlyphFont* font) {
  ensure_registry();
  growarray_append(&font_registry, &font);
}

GlyphFont* duplicate_font(GlyphFont* font) {
  GlyphFont* copy = static_cast<GlyphFont*>(std::malloc(sizeof(GlyphFont)));
  std::memcpy(copy, font, sizeof(GlyphFont));
  string_set(&copy->name, font->name);
  register_font(copy);
  return copy;
}

void rename_font(GlyphFont* font, const char* name) { string_replace(&font->name, name); }

bool texture_shared(const GlyphFont* font) {
  for (uint32_t i = registered_font_count(); i-- > 0;) {
    if (fonts[i] != font && fonts[i]->texture == font->texture) return true;
  }
  return false;
}

namespace {

// NOTE: a copy draws with its base font's glyph tables and metric bytes
// (style.base), so it cannot outlive its base: the copies go first. Deleting
// a font moves the last registry entry into its slot, so the registry is
// walked from the end, where every entry has been looked at.
void delete_copies_of(GlyphFont* base) {
  for (uint32_t i = registered_font_count(); i-- > 0;) {
    if (i < registered_font_count() && fonts[i] != base && fonts[i]->style.base == base) delete_font(fonts[i]);
  }
}

}  // namespace

// NOTE: when the last font goes while it is current there is no survivor to
// select; the program then has no current font, and measuring and drawing
// check for that.
void delete_font(GlyphFont* font) {
  delete_copies_of(font);
  if (font->texture && !texture_shared(font)) {
    GLuint name = font->texture;
    glDeleteTextures(1, &name);
  }
  bool was_current = font == current_font;
  growarray_remove(&font_registry, &font);
  std::free(font->name);
  std::free(font);
  if (!was_current) return;
  current_font = nullptr;
  current_style = DEFAULT_STYLE;
  uint32_t left = registered_font_count();
  if (left) select_font(fonts[random_index(int(left))]);
}

// NOTE: the product is checked before it becomes an integer, since a huge
// scale (a size of 1e20) overflows int64_t, which C++ leaves undefined. From
// 2^61 on every double is a multiple of 512, so the low byte of such a
// product is 0, which is what it gives; NaN gives 0 too.
uint8_t scaled_byte(uint8_t value, float scale) {
  double product = std::trunc(double(value) * scale);
  if (!(std::fabs(product) < 0x1p61)) return 0;
  return static_cast<uint8_t>(static_cast<int64_t>(product) & 0xFF);
}

void select_font(GlyphFont* font) {
  if (font == current_font) return;
  current_font = font;
  current_style = font->style;
  const FontStyle& s = font->style;
  line_height = scaled_byte(s.base->max_height, s.height_scale);
  cell_width = scaled_byte(s.base->reference_width, s.width_scale);
}

// NOTE: the draws are taken as 15-bit values (0..32767) whatever RAND_MAX
// is; with glibc's 31-bit rand() the formula would almost always give n - 1.
int random_index(int n) {
  double a = std::rand() % 32768, b = std::rand() % 32768;
  double r = ((a / 32768.0 + b) / 32768.0) * n;
  int k = int(std::floor(r));
  if (k < n) return k;
  return n - 1 > 0 ? n - 1 : 0;
}

bool styles_equal(const FontStyle& a, const FontStyle& b) {
  return a.base == b.base && a.own_glyphs == b.own_glyphs &&
         std::memcmp(&a.width_scale, &b.width_scale, sizeof(float)) == 0 &&
         std::memcmp(&a.height_scale, &b.height_scale, sizeof(float)) == 0 &&
         std::memcmp(&a.skew, &b.skew, sizeof(float)) == 0 &&
         std::memcmp(&a.boldness, &b.boldness, sizeof(float)) == 0;
}
