#include "text/font_style.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "util/text_util.h"
#include "text/font_file.h"

namespace {

const double PI = 3.14159265358979323846;

enum Unit { UNIT_NONE, UNIT_PIXELS, UNIT_DEGREES };

Unit value_unit(const char* value) {
  if (std::strstr(value, "px")) return UNIT_PIXELS;
  if (std::strchr(value, '\xB0')) return UNIT_DEGREES;
  return UNIT_NONE;
}

// The value as a plain factor: per cent when it carries "%".
double plain_value(const char* value) {
  double v = std::atof(value);
  return std::strchr(value, '%') ? v / 100.0 : v;
}

bool key_is(const std::string& key, const char* name) { return ascii_equal_nocase(key.c_str(), name); }

bool numeric_key(const std::string& key) {
  static const char* const keys[] = {"scale", "size", "width", "height", "boldness", "skew", "angle"};
  for (const char* k : keys)
    if (key_is(key, k)) return true;
  return false;
}

void scale_both(FontStyle* s, double factor) {
  s->width_scale = float(s->width_scale * factor);
  s->height_scale = float(s->height_scale * factor);
}

void embolden(FontStyle* s, double boldness, double widen) {
  s->boldness = float(s->boldness + boldness);
  s->width_scale = float(s->width_scale * widen);
}

// A scale in pixels divides by the tallest glyph, so that width=12px gives
// the width scale that size=12px would give.
float scaled_value(float old, const char* value, double tallest) {
  if (value_unit(value) == UNIT_PIXELS) return float(std::atof(value) / tallest);
  return float(old * plain_value(value));
}

void apply_size(FontStyle* s, const char* value) {
  if (value_unit(value) == UNIT_PIXELS) {
    s->width_scale = s->height_scale = float(std::atof(value) / s->base->max_height);
  } else {
    scale_both(s, plain_value(value));
  }
}

void apply_skew(FontStyle* s, const char* value) {
  Unit unit = value_unit(value);
  if (unit == UNIT_PIXELS) s->skew = float(s->skew + std::atof(value) / s->base->max_height);
  else if (unit == UNIT_DEGREES) s->skew = float(std::tan(std::atof(value) * PI / 180.0));
  else s->skew = float(s->skew + plain_value(value));
}

void apply_boldness(FontStyle* s, const char* value) {
  double add = value_unit(value) == UNIT_PIXELS ? std::atof(value) / s->base->max_width
                                                : plain_value(value);
  s->boldness = float(s->boldness + add);
}

bool apply_numeric(FontStyle* s, const std::string& key, const char* value) {
  if (key_is(key, "scale") || key_is(key, "size")) apply_size(s, value);
  else if (key_is(key, "width")) s->width_scale = scaled_value(s->width_scale, value, s->base->max_height);
  else if (key_is(key, "height")) s->height_scale = scaled_value(s->height_scale, value, s->base->max_height);
  else if (key_is(key, "boldness")) apply_boldness(s, value);
  else if (key_is(key, "skew") || key_is(key, "angle")) apply_skew(s, value);
  else return false;
  return true;
}

}  // namespace

// NOTE: a numeric key written without "=" has no value to read; the segment
// is ignored rather than read as 0, which would zero a scale.
void apply_style_segment(FontStyle* s, const std::string& key, const char* value) {
  if (key_is(key, "normal")) {
    GlyphFont* base = s->base;
    *s = DEFAULT_STYLE;
    s->base = base;
  } else if (numeric_key(key)) {
    if (value) apply_numeric(s, key, value);
  } else if (key_is(key, "big")) {
    scale_both(s, 1.5);
  } else if (key_is(key, "small")) {
    scale_both(s, 1.0 / 1.5);
  } else if (key_is(key, "demibold")) {
    embolden(s, 0.03, 1.0);
  } else if (key_is(key, "bold")) {
    embolden(s, 0.05, 1.1);
  } else if (key_is(key, "black")) {
    embolden(s, 0.08, 1.2);
  } else if (key_is(key, "italic")) {
    s->skew = float(s->skew + 0.4);
  }
}

namespace {

// The font named by the first segment, or a stand-in base when none is.
FontStyle named_style(const std::string& name, const char* description) {
  FontStyle s = DEFAULT_STYLE;
  for (uint32_t i = 0; i < registered_font_count(); i++) {
    if (ascii_equal_nocase(fonts[i]->name, name.c_str())) return fonts[i]->style;
  }
  if (current_font) s.base = current_font->style.base;
  else if (registered_font_count()) s.base = fonts[random_index(int(registered_font_count()))]->style.base;
  else s.base = make_blank_font(description);
  return s;
}

void apply_segment_text(FontStyle* s, const std::string& segment) {
  size_t eq = segment.find('=');
  if (eq == std::string::npos) apply_style_segment(s, segment, nullptr);
  else apply_style_segment(s, segment.substr(0, eq), segment.c_str() + eq + 1);
}

}  // namespace

FontStyle parse_style(const char* description) {
  std::string text = description;
  size_t end = text.find(':');
  FontStyle s = named_style(text.substr(0, end), description);
  while (end != std::string::npos) {
    size_t start = end + 1;
    end = text.find(':', start);
    apply_segment_text(&s, text.substr(start, end == std::string::npos ? end : end - start));
  }
  return s;
}

namespace {

// One unit of error is a 5 % scale ratio or half a pixel of the scaled
// glyph size, whichever is smaller.
double scale_error(double wanted, double candidate, double size) {
  double ratio = std::fabs(std::log(wanted / candidate)) / std::log(1.05);
  double pixels = std::fabs(size * wanted - size * candidate) / 0.5;
  return std::fmin(ratio, pixels);
}

}  // namespace

float style_score(const FontStyle& w, const FontStyle& c) {
  if (w.base != c.base) return -1000.0f;
  double x = scale_error(w.width_scale, c.width_scale, w.base->max_width);
  double y = scale_error(w.height_scale, c.height_scale, w.base->max_height);
  double bold = std::fabs(double(w.boldness) - c.boldness) / 0.02;
  double skew = std::fabs(double(w.skew) - c.skew) / 0.05;
  return float(1.0 - (bold + 0.5 * (x + y) + skew));
}

std::string derived_font_name(const char* base_name, const FontStyle& s) {
  std::string name = base_name;
  if (s.width_scale != DEFAULT_STYLE.width_scale) name += format_text(":width=%g", double(s.width_scale));
  if (s.height_scale != DEFAULT_STYLE.height_scale) name += format_text(":height=%g", double(s.height_scale));
  if (s.boldness != DEFAULT_STYLE.boldness) name += format_text(":boldness=%g", double(s.boldness));
  if (s.skew != DEFAULT_STYLE.skew) name += format_text(":skew=%g", double(s.skew));
  return name;
}

namespace {

GlyphFont* derive_font(const FontStyle& wanted) {
  GlyphFont* d = duplicate_font(wanted.base);
  d->style = wanted;
  d->style.own_glyphs = 0;
  rename_font(d, derived_font_name(d->name, d->style).c_str());
  return d;
}

}  // namespace

// NOTE: a derived font is always copied from the wanted base font. Seeding it
// from the best-scoring font that owns glyphs would pick a font of another
// base (score -1000) whenever every font of the wanted base scores below
// that (say an 89.99 degree slant), and the new font would then draw that
// other font's glyphs.
GlyphFont* font_for_style(const FontStyle& wanted) {
  GlyphFont* best = nullptr;
  float best_score = 0.0f;
  for (uint32_t i = registered_font_count(); i-- > 0;) {
    float s = style_score(wanted, fonts[i]->style);
    if (s > best_score) best = fonts[i], best_score = s;
  }
  return best ? best : derive_font(wanted);
}

GlyphFont* font_from_description(const char* description) {
  return font_for_style(parse_style(description));
}

GlyphFont* make_named_font(const char* description, const char* name) {
  GlyphFont* copy = duplicate_font(font_from_description(description));
  rename_font(copy, name);
  return copy;
}

void select_style(const FontStyle& wanted) {
  if (styles_equal(wanted, current_style)) return;
  select_font(font_for_style(wanted));
  current_style = wanted;
}
