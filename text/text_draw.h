// Text drawn with the current font as textured quads in window pixels, and
// its measured width. Besides glyph bytes a text may carry:
//   10                      new line
//   2, hi, lo               glyph hi x 256 + lo (reaches slots 256..511)
//   5, 1, four bytes        pen x as a little-endian float
//   5, 2, s0, s1, o0, o1    size s/256 of the starting font, raise o/256 of
//                           its line height (s unsigned, o signed, 16-bit LE)
//   5, other, four bytes    ignored (5, 0 would be a colour, but see below)
// A zero byte ends the text wherever it stands, inside a sequence too, so
// that nothing is read past the text: a sequence is used only when all its
// bytes are non-zero.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// One glyph quad: window pixels (x0, y0) top-left to (x1, y1) bottom-right,
// atlas coordinates (u0, v0) to (u1, v1).
struct TextQuad {
  float x0, y0, x1, y1;
  float u0, v0, u1, v1;
};

// Draws text with its first line's top-left corner at (x, y), y downwards.
// wrap_right is the right margin for word wrapping, 0 for none. A null text
// draws "NULL?"; an empty text, or no current font, draws nothing.
void draw_text(int x, int y, int wrap_right, const char* text, uint32_t colour);
// Width in pixels of at most n bytes of the text, up to its first new line
// (SIZE_MAX: the whole line); 10 with no font.
int measure_text_n(const char* text, size_t n);

// The quads draw_text would draw, without GL. Size commands make their
// fonts current as they do when drawing.
void layout_text(int x, int y, int wrap_right, const char* text, std::vector<TextQuad>* quads);
