// Text layout and measuring. The first four bytes choose the font's glyph
// width and cell height, the pen's x and the wrap margin (0: none); the rest
// is the text, with its escapes, in a buffer that ends at its zero byte.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/text/font_fixture.h"
#include "text/text_draw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  GlyphFont* font = fake_font("normal", data[0], data[1]);
  select_font(font);
  int x = int(data[2]) * 4, wrap_right = int(data[3]) * 8;
  size_t length = size - 4;
  char* text = static_cast<char*>(std::malloc(length + 1));
  std::memcpy(text, data + 4, length);
  text[length] = 0;
  std::vector<TextQuad> quads;
  layout_text(x, 16, wrap_right, text, &quads);
  select_font(font);
  measure_text_n(text, SIZE_MAX);
  measure_text_n(text, length / 2);
  std::free(text);
  clear_registry();
  return 0;
}
