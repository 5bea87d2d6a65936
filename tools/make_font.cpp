// Renders the printable ASCII glyphs (32..126) of a TrueType font into the
// program's bitmap font file: one record per glyph code from 0 to 126, each
// a width byte, a height byte and width x height palette indices, top row
// first. Coverage goes through the palette's grey ramp (16 black .. 39
// white); 255 is transparent. Codes 0..31 get empty records.
//
// Every printable glyph is rendered into a cell of the full line height with
// the baseline on the same row, because the program places each glyph at
// the top of a cell as tall as the tallest glyph.
//
//   build/make_font /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf 10 examples/font.dat
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const int FIRST_PRINTABLE = 32, LAST_PRINTABLE = 126;
const int GREY_BLACK = 16, GREY_STEPS = 23, TRANSPARENT = 255;

// One rendered glyph: its coverage bitmap and where it sits on the pen.
struct Rendered {
  int left, top;        // bitmap offset from the pen, FreeType's bitmap_left/top
  int width, rows;      // bitmap size
  int advance;          // pen advance in whole pixels
  std::vector<unsigned char> coverage;
};

bool render(FT_Face face, int code, Rendered* out) {
  if (FT_Load_Char(face, FT_ULong(code), FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL)) return false;
  FT_GlyphSlot slot = face->glyph;
  const FT_Bitmap& b = slot->bitmap;
  out->left = slot->bitmap_left, out->top = slot->bitmap_top;
  out->width = int(b.width), out->rows = int(b.rows);
  out->advance = int((slot->advance.x + 32) >> 6);
  out->coverage.resize(size_t(out->width) * out->rows);
  for (int r = 0; r < out->rows; r++)
    for (int c = 0; c < out->width; c++) out->coverage[size_t(r) * out->width + c] = b.buffer[r * b.pitch + c];
  return true;
}

unsigned char palette_index(unsigned char coverage) {
  if (coverage == 0) return TRANSPARENT;
  return (unsigned char)(GREY_BLACK + int(std::lround(coverage * double(GREY_STEPS) / 255.0)));
}

// The program adds about one pixel of letter spacing to every glyph width,
// so a cell is one pixel narrower than the font's advance, unless the ink
// needs more. Ink left of the pen is moved into the cell.
int cell_width(const Rendered& g) {
  int shift = std::max(0, -g.left);
  return std::min(255, std::max({g.advance - 1, g.left + shift + g.width, 1}));
}

std::vector<unsigned char> glyph_cell(const Rendered& g, int width, int height, int baseline) {
  std::vector<unsigned char> cell(size_t(width) * height, TRANSPARENT);
  int x0 = std::max(0, g.left), y0 = baseline - g.top;
  for (int r = 0; r < g.rows; r++) {
    for (int c = 0; c < g.width; c++) {
      int x = x0 + c, y = y0 + r;
      if (x < 0 || x >= width || y < 0 || y >= height) continue;
      cell[size_t(y) * width + x] = palette_index(g.coverage[size_t(r) * g.width + c]);
    }
  }
  return cell;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_font FONT.ttf PIXEL_SIZE OUT.dat\n");
    return 2;
  }
  FT_Library library;
  FT_Face face;
  if (FT_Init_FreeType(&library) || FT_New_Face(library, argv[1], 0, &face) ||
      FT_Set_Pixel_Sizes(face, 0, FT_UInt(std::atoi(argv[2])))) {
    std::fprintf(stderr, "make_font: cannot open %s at size %s\n", argv[1], argv[2]);
    return 1;
  }
  std::vector<Rendered> glyphs(LAST_PRINTABLE + 1);
  int ascent = 1, descent = 0;
  for (int code = FIRST_PRINTABLE; code <= LAST_PRINTABLE; code++) {
    if (!render(face, code, &glyphs[code])) {
      std::fprintf(stderr, "make_font: cannot render glyph %d\n", code);
      return 1;
    }
    ascent = std::max(ascent, glyphs[code].top);
    descent = std::max(descent, glyphs[code].rows - glyphs[code].top);
  }
  int height = std::min(255, ascent + descent);
  std::FILE* out = std::fopen(argv[3], "wb");
  if (!out) {
    std::fprintf(stderr, "make_font: cannot write %s\n", argv[3]);
    return 1;
  }
  for (int code = 0; code < FIRST_PRINTABLE; code++) std::fputc(0, out), std::fputc(0, out);
  for (int code = FIRST_PRINTABLE; code <= LAST_PRINTABLE; code++) {
    int width = cell_width(glyphs[code]);
    std::vector<unsigned char> cell = glyph_cell(glyphs[code], width, height, ascent);
    std::fputc(width, out);
    std::fputc(height, out);
    std::fwrite(cell.data(), 1, cell.size(), out);
  }
  std::fclose(out);
  std::printf("%s: %d records, cell height %d, baseline at row %d\n", argv[3], LAST_PRINTABLE + 1,
              height, ascent);
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return 0;
}
