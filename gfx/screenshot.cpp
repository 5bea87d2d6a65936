#include <cstdio>
#include <cstdlib>

#include "gfx/frame.h"
#include "gfx/gl.h"
#include "gfx/graphics_state.h"
#include "gfx/platform.h"
#include "util/text_util.h"

namespace {

void put_u16(unsigned char* at, uint32_t v) {
  at[0] = static_cast<unsigned char>(v);
  at[1] = static_cast<unsigned char>(v >> 8);
}

void put_u32(unsigned char* at, uint32_t v) {
  put_u16(at, v & 0xFFFF);
  put_u16(at + 2, v >> 16);
}

bool write_bmp(FILE* file, int width, int height, const unsigned char* pixels) {
  unsigned char header[54];
  bmp_header(width, height, header);
  const unsigned char zeros[3] = {0, 0, 0};
  size_t row = size_t(width) * 3, fill = size_t(bmp_row_size(width)) - row;
  bool ok = std::fwrite(header, 1, 54, file) == 54;
  for (int r = 0; ok && r < height; r++)
    ok = std::fwrite(pixels + r * row, 1, row, file) == row && std::fwrite(zeros, 1, fill, file) == fill;
  return ok;
}

}  // namespace

// Rows come bottom first and tightly packed whatever the width; the pack
// alignment changed for that is put back.
void read_window_pixels(int x, int y, int width, int height, unsigned format, unsigned char* pixels) {
  GLint alignment;
  glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, graphics.height - y - height, width, height, format, GL_UNSIGNED_BYTE, pixels);
  glPixelStorei(GL_PACK_ALIGNMENT, alignment);
}

int32_t bmp_row_size(int32_t width) { return width * 3 + (4 - (width * 3) % 4) % 4; }

void bmp_header(int32_t width, int32_t height, unsigned char h[54]) {
  uint32_t data_size = static_cast<uint32_t>(bmp_row_size(width)) * static_cast<uint32_t>(height);
  h[0] = 'B';
  h[1] = 'M';
  put_u32(h + 2, 54 + data_size);
  put_u32(h + 6, 0);
  put_u32(h + 10, 54);
  put_u32(h + 14, 40);
  put_u32(h + 18, static_cast<uint32_t>(width));
  put_u32(h + 22, static_cast<uint32_t>(height));
  put_u16(h + 26, 1);
  put_u16(h + 28, 24);
  put_u32(h + 30, 0);
  put_u32(h + 34, data_size);
  put_u32(h + 38, 2834);
  put_u32(h + 42, 2834);
  put_u32(h + 46, 0);
  put_u32(h + 50, 0);
}

std::string screenshot_name(uint32_t ticks) { return format_text("screenshot%05u.bmp", (ticks / 300) % 100000); }

void take_screenshot() {
  std::string name = screenshot_name(platform_tick_count());
  save_screen_bmp(0, 0, graphics.width, graphics.height, name.c_str());
}

bool write_bmp_file(const char* name, int width, int height, const unsigned char* bgr) {
  FILE* file = std::fopen(name, "wb");
  if (!file) return false;
  bool ok = write_bmp(file, width, height, bgr);
  ok = std::fclose(file) == 0 && ok;
  if (!ok) std::remove(name);  // a cut-off picture would pass for a whole one
  return ok;
}

// NOTE: a screenshot that cannot be written is skipped with a line on
// stderr; the run itself goes on.
void save_screen_bmp(int x, int y, int width, int height, const char* name) {
  if (width <= 0 || height <= 0) return;
  unsigned char* pixels = static_cast<unsigned char*>(std::malloc(size_t(width) * size_t(height) * 3));
  if (!pixels) return;
  read_window_pixels(x, y, width, height, GL_BGR_EXT, pixels);
  bool ok = write_bmp_file(name, width, height, pixels);
  std::free(pixels);
  if (!ok) {
    std::fprintf(stderr, "%s could not be written; no screenshot taken\n", name);
    return;
  }
  platform_run_command(format_text("bmp2png -9 -E %s", name).c_str());
}
