#include "text/font_file.h"

#include "gfx/gl.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "util/text_util.h"
#include "text/glyph_atlas.h"

// NOTE: the size is taken from stat, not by seeking: a directory opens for
// reading on Linux and seeks to a size of LLONG_MAX, and a device or a pipe
// has no size at all. A file may shrink or grow meanwhile; no more than the
// size it had is read.
uint8_t* read_whole_file(const char* path, size_t* length) {
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  if (info.st_size <= 0 || uint64_t(info.st_size) > FONT_FILE_LIMIT) return nullptr;
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return nullptr;
  uint8_t* buffer = static_cast<uint8_t*>(std::malloc(size_t(info.st_size)));
  size_t got = buffer ? std::fread(buffer, 1, size_t(info.st_size), f) : 0;
  std::fclose(f);
  if (got == 0) {
    std::free(buffer);
    return nullptr;
  }
  *length = got;
  return buffer;
}

void compute_glyph_metrics(GlyphFont* font) {
  uint32_t widest = 0;
  for (int g = 0; g < GLYPH_SLOTS; g++) {
    if (font->glyph_width[g] > widest) widest = font->glyph_width[g];
  }
  font->max_width = uint8_t(widest);
  font->reference_width = uint8_t(font->glyph_width[unsigned('C')] + 1);
}

void compute_font_metrics(GlyphFont* font) {
  compute_glyph_metrics(font);
  GLint w = 0, h = 0;
  glBindTexture(GL_TEXTURE_2D, font->texture);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
  font->atlas_width = uint32_t(w);
  font->atlas_height = uint32_t(h);
}

namespace {

GlyphFont* new_font(const char* name) {
  GlyphFont* font = static_cast<GlyphFont*>(std::calloc(1, sizeof(GlyphFont)));
  string_set(&font->name, name);
  font->style = DEFAULT_STYLE;
  font->style.base = font;
  font->style.own_glyphs = GLYPH_SLOTS;
  return font;
}

void select_if_none_current(GlyphFont* font) {
  if (!current_font) select_font(font);
}

}  // namespace

int load_font_data(const uint8_t* bytes, size_t length, const char* name) {
  GlyphFont* font = new_font(name);
  if (!build_glyph_atlas(font, bytes, length)) {
    std::free(font->name);
    std::free(font);
    select_if_none_current(make_blank_font(name));
    return 0;
  }
  compute_font_metrics(font);
  register_font(font);
  select_if_none_current(font);
  return 1;
}

int load_font_file(const char* path, const char* name) {
  size_t length = 0;
  uint8_t* bytes = read_whole_file(path, &length);
  if (bytes) {
    int built = load_font_data(bytes, length, name);
    std::free(bytes);
    return built;
  }
  select_if_none_current(make_blank_font(name));
  return 0;
}

namespace {

// NOTE: deleting a font moves the last registry entry into its slot, so the
// registry is walked from the end, where every entry has been looked at.
void delete_fonts_named(const char* name) {
  for (uint32_t i = registered_font_count(); i-- > 0;) {
    if (i < registered_font_count() && ascii_equal_nocase(fonts[i]->name, name)) delete_font(fonts[i]);
  }
}

void make_blank_texture(GlyphFont* font) {
  const uint8_t texel[3] = {1, 1, 1};
  GLuint name = 0;
  glGenTextures(1, &name);
  font->texture = name;
  glBindTexture(GL_TEXTURE_2D, name);
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 1, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, texel);
}

}  // namespace

GlyphFont* make_blank_font(const char* name) {
  ensure_registry();
  delete_fonts_named(name);
  GlyphFont* font = new_font(name);
  register_font(font);
  make_blank_texture(font);
  font->atlas_width = 1;
  for (int g = 0; g < GLYPH_SLOTS; g++) font->glyph_width[g] = 1;
  font->max_height = 1;
  compute_font_metrics(font);
  return font;
}
