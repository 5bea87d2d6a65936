#include "map/colour_code.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(ColourCode, DecodeInvertsTheShaderColourCode) {
  EXPECT_EQ(decode_level(0, 0, 0, 3), 0);
  EXPECT_EQ(decode_level(0, 0, 127, 3), 1);
  EXPECT_EQ(decode_level(0, 0, 128, 3), 1);
  EXPECT_EQ(decode_level(0, 0, 255, 3), 2);
  EXPECT_EQ(decode_level(0, 0, 63, 3), 0);
  EXPECT_EQ(decode_level(0, 0, 64, 3), 1);
  EXPECT_EQ(decode_level(0, 0, 190, 3), 1);
  EXPECT_EQ(decode_level(0, 0, 191, 3), 2);
  EXPECT_EQ(decode_level(255, 255, 255, 3), 26);
  // Level 27 with L = 4 is the shader's (1/3, 2/3, 1): bytes 85, 170, 255.
  EXPECT_EQ(decode_level(85, 170, 255, 4), 27);
  for (int c = 0; c < 64; c++) {
    uint32_t rgba = class_rgba(c, 4);
    EXPECT_EQ(decode_level(rgba & 0xFF, (rgba >> 8) & 0xFF, (rgba >> 16) & 0xFF, 4), c);
  }
  double rgb[3];
  class_colour(27, 4, rgb);
  EXPECT_DOUBLE_EQ(rgb[0], 1.0 / 3);
  EXPECT_DOUBLE_EQ(rgb[1], 2.0 / 3);
  EXPECT_DOUBLE_EQ(rgb[2], 1.0);
  EXPECT_EQ(class_rgba(27, 4), 0xFFFFAA55u);
}

TEST(ColourCode, TableDecodesEveryColourAsDecodeLevel) {
  for (int q : {3, 4, 5}) {
    DecodeTable table;
    fill_decode_table(q, &table);
    int64_t wrong = 0, first = -1;
    for (int c = 0; c < (1 << 24); c++) {
      unsigned char r = static_cast<unsigned char>(c >> 16), g = static_cast<unsigned char>(c >> 8),
                    b = static_cast<unsigned char>(c);
      if (table_level(&table, r, g, b) == decode_level(r, g, b, q)) continue;
      if (wrong++ == 0) first = c;
    }
    EXPECT_EQ(wrong, 0) << "colourlevels " << q << ", first wrong colour 0x" << std::hex << first;
  }
}
