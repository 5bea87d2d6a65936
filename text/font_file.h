// The font file and its loader. The file has no header: it is a sequence of
// glyph records for codes 0, 1, 2, ... (width byte, height byte, then
// width x height palette indices, 255 transparent), at most GLYPH_SLOTS of
// them. A missing or unusable file gives a blank font instead, so that the
// program runs without one.
#pragma once
#include <cstddef>
#include <cstdint>

#include "text/font_registry.h"

// 1 when the file was read and a font built from it, 0 when the blank font
// was made instead.
int load_font_file(const char* path, const char* name);
// The largest font file that can be used: GLYPH_SLOTS records of 255 x 255
// pixels. Bytes beyond them would never be read.
const size_t FONT_FILE_LIMIT = size_t(GLYPH_SLOTS) * (2 + 255 * 255);

// The whole file in a malloc'd buffer owned by the caller; null when it is
// not a regular file, cannot be read, is empty or is larger than
// FONT_FILE_LIMIT.
uint8_t* read_whole_file(const char* path, size_t* length);
// Builds and registers a base font from the bytes of a font file and
// selects it when no font is current. 1 when built; 0 when its atlas was
// refused and the blank font took its place.
int load_font_data(const uint8_t* bytes, size_t length, const char* name);
// max_width and reference_width from the glyph widths, then the atlas size
// that GL reports for the font's texture.
void compute_font_metrics(GlyphFont* font);
void compute_glyph_metrics(GlyphFont* font);
// The fallback font: every glyph one pixel of a 1 x 1 texture. Fonts already
// registered under the name (in any letter case) are deleted first.
GlyphFont* make_blank_font(const char* name);
