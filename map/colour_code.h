// The colour code of a loss class: how the fragment shader writes a
// particle's level into its pixel, and how the pixel is read back. Class c
// is written in base `levels`, most significant digit in red; each digit d
// shows as d / (levels - 1). Level 0 (past every turn count) is black.
#pragma once
#include <cstdint>

// Smallest k >= 3 with k^3 >= entries + 1, on unsigned 32-bit values: the
// base that tells entries classes and black apart.
int32_t colour_levels_for(uint32_t entries);

// The colour that codes class c in base levels, as fractions 0 .. 1.
void class_colour(int code, int levels, double rgb[3]);
// The same colour as 8-bit RGBA, red in the lowest byte, alpha 255.
uint32_t class_rgba(int code, int levels);

// The class of a read-back pixel: each byte is rounded to its digit.
int decode_level(unsigned char red, unsigned char green, unsigned char blue, int levels);

// decode_level by table: each channel's byte gives its digit already
// weighted (red by q^2, green by q, blue by 1), so a level is three loads
// and two additions.
struct DecodeTable {
  int32_t weight[3][256];
};
void fill_decode_table(int levels, DecodeTable* table);
inline int table_level(const DecodeTable* t, unsigned char red, unsigned char green, unsigned char blue) {
  return t->weight[0][red] + t->weight[1][green] + t->weight[2][blue];
}
