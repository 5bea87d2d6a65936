#include "text/text_draw.h"

#include "gfx/gl.h"

#include <cmath>
#include <cstring>

#include "gfx/gl_state.h"
#include "gfx/graphics_state.h"
#include "text/font_style.h"

namespace {

const char NULL_TEXT[] = "NULL?";

bool ends_line(unsigned char c) { return c == 0 || c == '\n'; }

// Index after a 1..7 sequence starting at i, or n when the text, the word
// or the line ends inside it.
size_t skip_sequence(const unsigned char* p, size_t i, size_t n) {
  size_t end = i + 1 + p[i];
  for (size_t k = i + 1; k < end; k++) {
    if (k >= n || p[k] == 0) return n;
  }
  return end;
}

// NOTE: a style may scale by any float (a size of 1e20, or NaN), giving
// pixel counts that no int holds; converting those is undefined, so counts
// are kept as doubles and clamped to +-1e9 pixels (NaN to 0) where an int
// is due.
int clamped_pixels(double v) {
  if (v != v) return 0;
  return int(std::fmax(-1e9, std::fmin(1e9, v)));
}

}  // namespace

// NOTE: the letter spacing is rounded apart from the glyph width here, while
// draw_text rounds their sum, so the two may differ by a pixel per glyph.
int measure_text_n(const char* text, size_t n) {
  if (!current_font) return 10;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : NULL_TEXT);
  const FontStyle& s = current_font->style;
  int spacing = int(std::floor(0.13f * cell_width + 0.5f));
  double total = 0;
  for (size_t i = 0; i < n && !ends_line(p[i]);) {
    if (p[i] <= 7) {
      i = skip_sequence(p, i, n);
      continue;
    }
    total += std::floor(s.base->glyph_width[p[i]] * s.width_scale * (1.0f + s.boldness) + 0.5f);
    total += spacing;
    i++;
  }
  return clamped_pixels(total);
}

namespace {

enum ItemKind { ITEM_END, ITEM_GLYPH, ITEM_POSITION, ITEM_SIZE, ITEM_IGNORED };

struct TextItem {
  ItemKind kind;
  size_t length;  // bytes of the text it takes
  uint32_t value; // glyph code, or the position float's bits
  uint16_t scale; // size command
  int16_t raise;
};

// NOTE: a zero byte ends the text even inside a sequence, so that nothing
// is read past the text; a sequence is used only when all its bytes are
// non-zero. The colour command (5, 0, ...) can therefore never be whole.
bool whole(const unsigned char* p, size_t length) {
  for (size_t k = 1; k < length; k++) {
    if (p[k] == 0) return false;
  }
  return true;
}

uint32_t little_endian(const unsigned char* p, int bytes) {
  uint32_t v = 0;
  for (int k = bytes - 1; k >= 0; k--) v = (v << 8) | p[k];
  return v;
}

TextItem command_item(const unsigned char* p) {
  TextItem item = {ITEM_IGNORED, 6, little_endian(p + 2, 4), 0, 0};
  if (p[1] == 1) item.kind = ITEM_POSITION;
  if (p[1] == 2) {
    item.kind = ITEM_SIZE;
    item.scale = uint16_t(little_endian(p + 2, 2));
    item.raise = int16_t(uint16_t(little_endian(p + 4, 2)));
  }
  return item;
}

TextItem read_text_item(const unsigned char* p) {
  TextItem item = {ITEM_END, 0, 0, 0, 0};
  if (p[0] == 0) return item;
  if (p[0] == 2) {
    if (!whole(p, 3)) return item;
    return {ITEM_GLYPH, 3, uint32_t(p[1]) * 256 + p[2], 0, 0};
  }
  if (p[0] == 5) return whole(p, 6) ? command_item(p) : item;
  return {ITEM_GLYPH, 1, p[0], 0, 0};
}

// y and raise are whole pixels held in doubles, so that huge sizes cannot
// overflow them.
struct Pen {
  float x;
  double y, raise;
  int left, wrap_right;
  FontStyle start, working;
  float inverse_width, inverse_height;  // of the starting font's atlas
};

Pen start_pen(int x, int y, int wrap_right) {
  Pen pen;
  pen.x = float(x);
  pen.y = y, pen.raise = 0, pen.left = x, pen.wrap_right = wrap_right;
  pen.start = pen.working = current_font->style;
  pen.inverse_width = 1.0f / float(current_font->atlas_width);
  pen.inverse_height = 1.0f / float(current_font->atlas_height);
  return pen;
}

// Sizes are relative to the starting font, not cumulative; the raise of the
// previous size command is undone first.
void apply_size_command(Pen* pen, uint16_t scale, int16_t raise) {
  pen->working.width_scale = float(scale / 256.0 * pen->start.width_scale);
  pen->working.height_scale = float(scale / 256.0 * pen->start.height_scale);
  pen->y += pen->raise;
  double tallest = pen->start.base->max_height * double(pen->start.height_scale);
  pen->raise = std::trunc((raise * tallest + 128.0) / 256.0);
  pen->y -= pen->raise;
  select_style(pen->working);
}

void new_line(Pen* pen) {
  pen->x = float(pen->left);
  pen->y = std::trunc(float(pen->y) + current_font->max_height * pen->working.height_scale + 1.0f);
}

float glyph_advance(const Pen& pen, unsigned c) {
  const FontStyle& w = pen.working;
  float width = w.base->glyph_width[c] * w.width_scale * (1.0f + w.boldness);
  return std::floor(width + 0.5f + 0.13f * cell_width);
}

size_t word_length(const char* word) { return std::strcspn(word, " \t\n\v\f\r"); }

bool word_breaks_line(const Pen& pen, const char* word) {
  return pen.x + measure_text_n(word, word_length(word)) > pen.wrap_right;
}

TextQuad glyph_quad(const Pen& pen, const GlyphFont* f, unsigned c) {
  TextQuad q;
  q.u0 = f->glyph_x[c] * pen.inverse_width;
  q.u1 = q.u0 + f->glyph_width[c] * pen.inverse_width;
  q.v0 = f->glyph_y[c] * pen.inverse_height;
  q.v1 = q.v0 + f->max_height * pen.inverse_height;
  q.x0 = pen.x, q.y0 = float(pen.y);
  q.x1 = pen.x + f->glyph_width[c] * pen.working.width_scale;
  q.y1 = float(pen.y) + f->max_height * pen.working.height_scale;
  return q;
}

// A space where wrapping is on is a break point: not drawn, and when the
// next word would pass the margin the line breaks (by the unscaled cell
// height, unlike a new line).
void place_glyph(Pen* pen, unsigned c, const char* after, std::vector<TextQuad>* quads) {
  const GlyphFont* f = current_font;
  float next = pen->x + glyph_advance(*pen, c);
  if (pen->wrap_right && c == ' ') {
    if (word_breaks_line(*pen, after)) next = float(pen->left), pen->y += f->max_height + 1;
  } else {
    quads->push_back(glyph_quad(*pen, f, c));
  }
  pen->x = next;
}

// NOTE: glyph codes from the escape reach 65535; codes past the glyph
// tables are not drawn and advance nothing.
void apply_item(Pen* pen, const TextItem& item, const char* after, std::vector<TextQuad>* quads) {
  float position;
  switch (item.kind) {
    case ITEM_GLYPH:
      if (item.value == '\n') new_line(pen);
      else if (item.value < GLYPH_SLOTS) place_glyph(pen, item.value, after, quads);
      break;
    case ITEM_POSITION:
      std::memcpy(&position, &item.value, sizeof position);
      pen->x = position;
      break;
    case ITEM_SIZE: apply_size_command(pen, item.scale, item.raise); break;
    default: break;
  }
}

}  // namespace

void layout_text(int x, int y, int wrap_right, const char* text, std::vector<TextQuad>* quads) {
  if (!current_font) return;
  if (!text) text = NULL_TEXT;
  Pen pen = start_pen(x, y, wrap_right);
  for (;;) {
    TextItem item = read_text_item(reinterpret_cast<const unsigned char*>(text));
    if (item.kind == ITEM_END) return;
    text += item.length;
    apply_item(&pen, item, text, quads);
  }
}

namespace {

void set_colour(uint32_t colour) {
  glColor3ub(GLubyte(colour >> 16), GLubyte(colour >> 8), GLubyte(colour));
}

// Window pixels with y downwards, whatever the matrices held before.
void set_text_projection() {
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, graphics.width, graphics.height, 0, 1, -1);
}

// A blend that lays the glyph colour over the background like a screen:
// transparent texels change nothing. The caller saves and restores the
// state around it.
void set_text_state(GLuint texture, uint32_t colour) {
  set_text_projection();
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_LIGHTING);
  glDisable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  set_colour(colour);
}

void emit_quads(const std::vector<TextQuad>& quads) {
  glBegin(GL_QUADS);
  for (const TextQuad& q : quads) {
    glTexCoord2f(q.u0, q.v0), glVertex2f(q.x0, q.y0);
    glTexCoord2f(q.u1, q.v0), glVertex2f(q.x1, q.y0);
    glTexCoord2f(q.u1, q.v1), glVertex2f(q.x1, q.y1);
    glTexCoord2f(q.u0, q.v1), glVertex2f(q.x0, q.y1);
  }
  glEnd();
}

}  // namespace

// NOTE: with no current font (the last one was deleted) nothing is drawn.
// The current colour is left at the text's colour, as it always was: the
// saved state is put back first and the colour set again after it.
void draw_text(int x, int y, int wrap_right, const char* text, uint32_t colour) {
  if ((text && !*text) || !current_font) return;
  std::vector<TextQuad> quads;
  GLuint texture = current_font->texture;
  layout_text(x, y, wrap_right, text, &quads);
  gl_state_push();
  set_text_state(texture, colour);
  emit_quads(quads);
  gl_state_pop();
  set_colour(colour);
}
