#include "gfx/frame.h"
#include "gfx/gl.h"
#include "gfx/graphics_state.h"
#include "gfx/platform.h"

void set_pixel_projection(int width, int height) {
  if (height < 1) height = 1;
  graphics.width = width;
  graphics.height = height;
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, width, height, 0, height / 2, -(height / 2));
  glMatrixMode(GL_MODELVIEW);
}

void end_frame(uint32_t colour) {
  glFinish();
  platform_swap_buffers();
  if (colour != graphics.clear_colour) {
    glClearColor((colour >> 16) / 255.0f, ((colour >> 8) % 256) / 255.0f, (colour % 256) / 255.0f, 0.0f);
    graphics.clear_colour = colour;
  }
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
}
