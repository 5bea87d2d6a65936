#include "map/colour_code.h"

namespace {

int digit(unsigned char byte, int q) { return (byte * (q - 1) + 128) / 255; }

}  // namespace

int32_t colour_levels_for(uint32_t entries) {
  uint32_t k = 3;
  while (k * k * k < entries + 1) k++;
  return static_cast<int32_t>(k);
}

void class_colour(int code, int levels, double rgb[3]) {
  double top = levels - 1;
  rgb[0] = (code / levels / levels) / top;
  rgb[1] = ((code / levels) % levels) / top;
  rgb[2] = (code % levels) / top;
}

uint32_t class_rgba(int code, int levels) {
  double rgb[3];
  class_colour(code, levels, rgb);
  uint32_t c = 0xFF000000u;
  for (int channel = 0; channel < 3; channel++) c |= uint32_t(rgb[channel] * 255 + 0.5) << (8 * channel);
  return c;
}

int decode_level(unsigned char red, unsigned char green, unsigned char blue, int q) {
  return (digit(red, q) * q + digit(green, q)) * q + digit(blue, q);
}

void fill_decode_table(int q, DecodeTable* t) {
  for (int byte = 0; byte < 256; byte++) {
    int d = digit(static_cast<unsigned char>(byte), q);
    t->weight[0][byte] = d * q * q;
    t->weight[1][byte] = d * q;
    t->weight[2][byte] = d;
  }
}
