// Fonts built by hand for tests that need no GL context: texture 0, every
// glyph slot the same width, an atlas of 256 x 256.
#pragma once
#include <cstdlib>
#include <cstring>
#include <string>

#include "util/text_util.h"
#include "text/font_registry.h"

inline GlyphFont* fake_font(const char* name, uint32_t glyph_width, uint8_t height) {
  GlyphFont* f = static_cast<GlyphFont*>(std::calloc(1, sizeof(GlyphFont)));
  string_set(&f->name, name);
  for (int g = 0; g < GLYPH_SLOTS; g++) {
    f->glyph_x[g] = uint32_t(g % 16) * 16;
    f->glyph_y[g] = uint32_t(g / 16) * 16;
    f->glyph_width[g] = glyph_width;
  }
  f->atlas_width = f->atlas_height = 256;
  f->max_width = uint8_t(glyph_width);
  f->max_height = height;
  f->reference_width = uint8_t(glyph_width + 1);
  f->style = DEFAULT_STYLE;
  f->style.base = f;
  f->style.own_glyphs = GLYPH_SLOTS;
  register_font(f);
  return f;
}

// Deletes every registered font; the current font goes with the last one.
inline void clear_registry() {
  while (registered_font_count()) delete_font(fonts[registered_font_count() - 1]);
}

// A font file record: width, height and w x h copies of one palette index.
inline std::string glyph_record(int w, int h, unsigned char index = 39) {
  return std::string(1, char(w)) + char(h) + std::string(size_t(w) * h, char(index));
}

inline const uint8_t* bytes_of(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}
