// The glyph atlas of a base font: the glyph bitmaps of its font file packed
// in rows of one RGBA texture with a full mipmap chain, whose reduced levels
// get extra contrast for the digits and glyphs 256..383 so that they stay
// bright when drawn small.
#pragma once
#include <cstddef>
#include <cstdint>

#include "text/font_registry.h"

// One glyph record of a font file: width and height bytes, then
// width x height palette indices, top row first.
struct GlyphRecord {
  uint32_t width;
  uint32_t height;
  const uint8_t* pixels;
};

// Reads the record at *offset and moves *offset past it. A record is used
// only when it is whole: false when its header or pixels would run past the
// end, and then *offset is left alone.
bool next_glyph_record(const uint8_t* bytes, size_t length, size_t* offset, GlyphRecord* record);

// Tallest glyph among the whole records, at least 1.
uint8_t tallest_glyph(const uint8_t* bytes, size_t length);

struct AtlasSize {
  uint32_t width;
  uint32_t height;
};

enum { ATLAS_ROW_LIMIT = 2048, TRANSPARENT_INDEX = 255 };

// Places every glyph cell in rows no wider than limit and fills glyph_x,
// glyph_y and glyph_width of all slots. Needs max_height set.
AtlasSize layout_glyphs(GlyphFont* font, const uint8_t* bytes, size_t length, uint32_t limit);
// Whether GL can hold an atlas of this size without scaling it down.
bool atlas_fits(AtlasSize size, int max_texture_size);

// The fixed 256-colour palette, components 0..1.
void make_palette(float* red, float* green, float* blue);
// Palette index to RGBA bytes; TRANSPARENT_INDEX gives transparent black.
void palette_pixel(uint8_t index, const float* red, const float* green, const float* blue,
                   uint8_t* rgba);
// The zero-filled atlas image with every whole record's pixels converted;
// width x height x 4 bytes from malloc, first row at the top.
uint8_t* make_atlas_image(const GlyphFont* font, const uint8_t* bytes, size_t length,
                          AtlasSize size);

// Contrast curve for the reduced mip levels.
void make_sharpen_table(uint8_t* lut);
// Raises the contrast of the digit glyphs and glyphs 256..383 in the pixels
// of one reduced mip level (level >= 1, width x height RGBA).
void sharpen_level(const GlyphFont* font, int level, uint8_t* pixels, uint32_t width,
                   uint32_t height, const uint8_t* lut);

// The font file read without GL: max_height, the glyph tables and the atlas
// size (atlas_width, atlas_height) of the font; false when an atlas of that
// size cannot be held by GL with the given texture size limit.
bool plan_glyph_atlas(GlyphFont* font, const uint8_t* bytes, size_t length, int max_texture_size);
// Plans, converts and uploads the atlas; 1 when built, 0 when it was
// refused because GL cannot hold it (a line on stderr says so).
int build_glyph_atlas(GlyphFont* font, const uint8_t* bytes, size_t length);
void sharpen_mip_levels(GlyphFont* font);
uint32_t next_power_of_two(uint32_t n);
