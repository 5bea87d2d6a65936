// Every font the text system knows, the one current font and the two metric
// bytes that describe it. A base font is read from a font file; every other
// font is a copy of a base font that shares its atlas texture and differs
// only in its style and its name.
#pragma once
#include <cstdint>

#include "util/growarray.h"

struct GlyphFont;

// How a font draws its base font's glyphs. Copied and compared as a whole.
struct FontStyle {
  GlyphFont* base;     // font whose glyphs, atlas and metric bytes are used
  float width_scale;   // horizontal scale factor
  float height_scale;  // vertical scale factor
  float skew;          // slant as a tangent
  float boldness;      // extra advance as a fraction of the glyph width
  int32_t own_glyphs;  // GLYPH_SLOTS for a font read from a file, else 0
};

enum { GLYPH_SLOTS = 512 };

extern const FontStyle DEFAULT_STYLE;

struct GlyphFont {
  uint32_t texture;                   // atlas texture, shared by copies
  uint32_t glyph_x[GLYPH_SLOTS];      // left edge of each cell in the atlas
  uint32_t glyph_y[GLYPH_SLOTS];      // top edge of each cell in the atlas
  uint32_t glyph_width[GLYPH_SLOTS];  // 0 for a slot the file did not fill
  uint32_t atlas_width;               // as GL reports level 0
  uint32_t atlas_height;
  uint8_t max_width;                  // widest glyph
  uint8_t max_height;                 // tallest glyph, at least 1: the cell height
  uint8_t reference_width;            // width of glyph 'C' plus 1: unit of letter spacing
  char* name;                         // owned; also a valid style description
  FontStyle style;
};

extern GrowArray font_registry;  // elements are GlyphFont pointers
extern GlyphFont** fonts;        // always the registry's storage; null until created
extern GlyphFont* current_font;  // null until a font is selected, or after the last is deleted
extern FontStyle current_style;  // the style last made current
extern uint8_t line_height;      // current font's cell height, scaled, modulo 256
extern uint8_t cell_width;       // current font's reference width, scaled, modulo 256

void ensure_registry();
uint32_t registered_font_count();
void register_font(GlyphFont* font);
GlyphFont* duplicate_font(GlyphFont* font);
void rename_font(GlyphFont* font, const char* name);
// Deletes the font and, when it is a base font, every copy made from it.
void delete_font(GlyphFont* font);
void select_font(GlyphFont* font);
int random_index(int n);

// Bit-for-bit equality of every field.
bool styles_equal(const FontStyle& a, const FontStyle& b);
// trunc(value x scale), kept as its low byte.
uint8_t scaled_byte(uint8_t value, float scale);
// Whether another registered font uses the same atlas texture.
bool texture_shared(const GlyphFont* font);
