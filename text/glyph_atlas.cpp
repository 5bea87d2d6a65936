#include "text/glyph_atlas.h"

#include "gfx/gl.h"
#include <GL/glu.h>  // after gfx/gl.h, which brings windows.h where GLU needs it

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool next_glyph_record(const uint8_t* bytes, size_t length, size_t* offset, GlyphRecord* record) {
  size_t at = *offset;
  if (at >= length || length - at < 2) return false;
  uint32_t w = bytes[at], h = bytes[at + 1];
  if (length - at - 2 < size_t(w) * h) return false;
  record->width = w;
  record->height = h;
  record->pixels = bytes + at + 2;
  *offset = at + 2 + size_t(w) * h;
  return true;
}

uint8_t tallest_glyph(const uint8_t* bytes, size_t length) {
  uint32_t tallest = 1;
  size_t offset = 0;
  GlyphRecord r;
  for (int g = 0; g < GLYPH_SLOTS && next_glyph_record(bytes, length, &offset, &r); g++) {
    if (r.height > tallest) tallest = r.height;
  }
  return uint8_t(tallest);
}

uint32_t next_power_of_two(uint32_t n) {
  uint32_t p = 1;
  if (n == 0 || (n & (n - 1)) == 0) return n;
  while (p < n) p <<= 1;
  return p;
}

AtlasSize layout_glyphs(GlyphFont* font, const uint8_t* bytes, size_t length, uint32_t limit) {
  uint32_t pad = font->max_height / 4, x = 0, y = 0, right = 1;
  size_t offset = 0;
  GlyphRecord r;
  for (int g = 0; g < GLYPH_SLOTS; g++) {
    font->glyph_x[g] = x;
    font->glyph_y[g] = y;
    font->glyph_width[g] = 0;
    if (!next_glyph_record(bytes, length, &offset, &r)) continue;
    font->glyph_width[g] = r.width;
    x += r.width + pad;
    if (x > limit) {
      font->glyph_x[g] = 0;
      x = r.width + pad;
      y += font->max_height + pad;
      font->glyph_y[g] = y;
    }
    right = std::max(right, font->glyph_x[g] + r.width);
  }
  return {next_power_of_two(right), next_power_of_two(y + font->max_height)};
}

// NOTE: GL scales an oversized image down to fit, after which the cell
// positions no longer match the texture; such an atlas is refused instead.
bool atlas_fits(AtlasSize size, int max_texture_size) {
  return max_texture_size > 0 && size.width <= uint32_t(max_texture_size) &&
         size.height <= uint32_t(max_texture_size);
}

namespace {

float cga_component(int i, int bit) {
  if (!(i & bit)) return 0.0f;
  return (i & 8) ? 1.0f : 0.5f;
}

void palette_entry(int i, float* rgb) {
  if (i == 8) {
    rgb[0] = rgb[1] = rgb[2] = 0.25f;
  } else if (i < 16) {
    rgb[0] = cga_component(i, 4), rgb[1] = cga_component(i, 2), rgb[2] = cga_component(i, 1);
  } else if (i < 40) {
    rgb[0] = rgb[1] = rgb[2] = float(i - 16) / 23.0f;
  } else {
    int k = i - 40;
    rgb[0] = 0.2f * float(k % 6), rgb[1] = 0.2f * float(k / 6 % 6), rgb[2] = 0.2f * float(k / 36);
  }
}

}  // namespace

void make_palette(float* red, float* green, float* blue) {
  for (int i = 0; i < 256; i++) {
    float rgb[3];
    palette_entry(i, rgb);
    red[i] = rgb[0], green[i] = rgb[1], blue[i] = rgb[2];
  }
}

void palette_pixel(uint8_t index, const float* red, const float* green, const float* blue,
                   uint8_t* rgba) {
  if (index == TRANSPARENT_INDEX) {
    std::memset(rgba, 0, 4);
    return;
  }
  rgba[0] = uint8_t(std::trunc(255.4 * red[index]));
  rgba[1] = uint8_t(std::trunc(255.4 * green[index]));
  rgba[2] = uint8_t(std::trunc(255.4 * blue[index]));
  rgba[3] = 255;
}

namespace {

struct Palette {
  float red[256], green[256], blue[256];
};

void copy_glyph(const GlyphRecord& r, uint32_t x0, uint32_t y0, const Palette& p,
                uint8_t* image, AtlasSize size) {
  for (uint32_t row = 0; row < r.height && y0 + row < size.height; row++) {
    for (uint32_t col = 0; col < r.width && x0 + col < size.width; col++) {
      uint8_t* out = image + (size_t(y0 + row) * size.width + x0 + col) * 4;
      palette_pixel(r.pixels[row * r.width + col], p.red, p.green, p.blue, out);
    }
  }
}

}  // namespace

uint8_t* make_atlas_image(const GlyphFont* font, const uint8_t* bytes, size_t length,
                          AtlasSize size) {
  uint8_t* image = static_cast<uint8_t*>(std::calloc(size_t(size.width) * size.height, 4));
  Palette p;
  make_palette(p.red, p.green, p.blue);
  size_t offset = 0;
  GlyphRecord r;
  for (int g = 0; g < GLYPH_SLOTS && next_glyph_record(bytes, length, &offset, &r); g++) {
    copy_glyph(r, font->glyph_x[g], font->glyph_y[g], p, image, size);
  }
  return image;
}

void make_sharpen_table(uint8_t* lut) {
  for (int i = 0; i < 256; i++) lut[i] = uint8_t(std::floor(255.9 * std::pow(i / 255.9, 0.4)));
}

namespace {

// The glyph cell at a reduced level, in pixels of that level,
// clipped to the level.
struct Region {
  uint32_t x0, x1, y0, y1;
};

Region glyph_region(const GlyphFont* font, int g, int level, uint32_t width, uint32_t height) {
  uint32_t x0 = font->glyph_x[g] >> level, y0 = font->glyph_y[g] >> level;
  uint32_t x1 = x0 + (font->glyph_width[g] >> level);
  uint32_t y1 = (font->glyph_y[g] + font->max_height) >> level;
  return {x0, std::min(x1, width), y0, std::min(y1, height)};
}

void stretch_region(uint8_t* pixels, uint32_t width, Region r, const uint8_t* lut) {
  float m = 0.001f;
  for (uint32_t y = r.y0; y < r.y1; y++)
    for (uint32_t i = r.x0 * 4; i < r.x1 * 4; i++) m = std::max(m, float(pixels[size_t(y) * width * 4 + i]));
  for (uint32_t y = r.y0; y < r.y1; y++) {
    for (uint32_t i = r.x0 * 4; i < r.x1 * 4; i++) {
      uint8_t& b = pixels[size_t(y) * width * 4 + i];
      b = lut[std::min(255, int(float(b) * 255.4f / m))];
    }
  }
}

}  // namespace

void sharpen_level(const GlyphFont* font, int level, uint8_t* pixels, uint32_t width,
                   uint32_t height, const uint8_t* lut) {
  for (int g = 48; g < 384; g++) {
    if (g > 57 && g < 256) continue;
    stretch_region(pixels, width, glyph_region(font, g, level, width, height), lut);
  }
}

void sharpen_mip_levels(GlyphFont* font) {
  uint8_t lut[256];
  make_sharpen_table(lut);
  glBindTexture(GL_TEXTURE_2D, font->texture);
  for (int level = 1;; level++) {
    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
    if (w <= 0 || h <= 0) return;
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(size_t(w) * h * 4));
    glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    sharpen_level(font, level, pixels, uint32_t(w), uint32_t(h), lut);
    glTexImage2D(GL_TEXTURE_2D, level, 4, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    std::free(pixels);
    if (w == 1 && h == 1) return;
  }
}

namespace {

void upload_atlas(GlyphFont* font, const uint8_t* image, AtlasSize size) {
  GLuint name = 0;
  glGenTextures(1, &name);
  font->texture = name;
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  gluBuild2DMipmaps(GL_TEXTURE_2D, 4, GLint(size.width), GLint(size.height), GL_RGBA,
                    GL_UNSIGNED_BYTE, image);
}

}  // namespace

bool plan_glyph_atlas(GlyphFont* font, const uint8_t* bytes, size_t length, int max_texture_size) {
  uint32_t limit = std::min<uint32_t>(uint32_t(std::max(max_texture_size, 0)), ATLAS_ROW_LIMIT);
  font->max_height = tallest_glyph(bytes, length);
  AtlasSize size = layout_glyphs(font, bytes, length, limit);
  font->atlas_width = size.width;
  font->atlas_height = size.height;
  return atlas_fits(size, max_texture_size);
}

int build_glyph_atlas(GlyphFont* font, const uint8_t* bytes, size_t length) {
  GLint max_size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
  if (!plan_glyph_atlas(font, bytes, length, max_size)) {
    std::fprintf(stderr, "font atlas of %ux%u pixels exceeds the GL texture size limit %d\n",
                 font->atlas_width, font->atlas_height, int(max_size));
    return 0;
  }
  AtlasSize size = {font->atlas_width, font->atlas_height};
  uint8_t* image = make_atlas_image(font, bytes, length, size);
  upload_atlas(font, image, size);
  std::free(image);
  sharpen_mip_levels(font);
  return 1;
}
