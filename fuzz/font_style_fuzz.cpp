// Style descriptions ("normal:bold", "normal:size=16px"): parsed against two
// base fonts, the font found or derived for them made current, text laid
// out and measured with it, and a named copy made.
#include <string>
#include <vector>

#include "tests/text/font_fixture.h"
#include "text/font_style.h"
#include "text/text_draw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string description(reinterpret_cast<const char*>(data), size);
  GlyphFont* normal = fake_font("normal", 10, 12);
  fake_font("mono", 8, 16);
  select_font(normal);
  FontStyle wanted = parse_style(description.c_str());
  style_score(wanted, normal->style);
  select_style(wanted);
  std::vector<TextQuad> quads;
  layout_text(0, 0, 256, "Sample 1\n\x05\x02\x80\x01\x01\x01 2", &quads);
  measure_text_n("particles/s", SIZE_MAX);
  make_named_font(description.c_str(), "profile");
  clear_registry();
  return 0;
}
