#include <algorithm>
#include <cstring>

#include "gfx/frame.h"
#include "gfx/gl.h"
#include "gfx/graphics_state.h"
#include "gfx/platform.h"

namespace {

const char* const kClassName = "OpenGL WinClass";

void window_position(int outer_w, int outer_h, int* x, int* y) {
  WindowPlacement p;
  platform_cursor_pos(&p.cursor_x, &p.cursor_y);
  platform_virtual_screen(&p.desk_x, &p.desk_y, &p.desk_width, &p.desk_height);
  p.width = outer_w;
  p.height = outer_h;
  place_window(&p, x, y);
}

void create_window(int width, int height, const char* title) {
  int frame_x, frame_y, caption, x, y;
  platform_frame_metrics(&frame_x, &frame_y, &caption);
  int outer_w = width + 2 * frame_x, outer_h = height + 2 * frame_y + caption;
  window_position(outer_w, outer_h, &x, &y);
  if (!platform_register_class(kClassName)) fatal_error("Failed To Register The Window Class.");
  if (!platform_create_window(kClassName, title, x, y, outer_w, outer_h)) fatal_error("Window Creation Error.");
}

}  // namespace

// Centred on the cursor, pushed back onto the desktop; the left and top
// edges win when the window is larger than the desktop.
void place_window(const WindowPlacement* p, int* x, int* y) {
  *x = std::max(p->desk_x, std::min(p->cursor_x - p->width / 2, p->desk_x + p->desk_width - p->width));
  *y = std::max(p->desk_y, std::min(p->cursor_y - p->height / 2, p->desk_y + p->desk_height - p->height));
}

int open_graphics(int width, int height, const char* title) {
  graphics.width = width;
  graphics.height = height;
  std::memset(graphics.keys, 0, sizeof graphics.keys);
  std::memset(graphics.keys_previous, 0, sizeof graphics.keys_previous);
  create_window(width, height, title);
  if (!platform_choose_pixel_format()) fatal_error("Can't Find A Suitable PixelFormat.");
  if (!platform_set_pixel_format()) fatal_error("Can't Set The PixelFormat.");
  if (!platform_create_context()) fatal_error("Can't Create A GL Rendering Context.");
  if (!platform_make_current()) fatal_error("Can't activate GLRC.");
  init_gl_state(graphics.width, graphics.height);
  return 1;
}

void init_gl_state(int width, int height) {
  glClearColor(0, 0, 0, 0);
  glClearDepth(1.0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_DEPTH_TEST);
  glShadeModel(GL_SMOOTH);
  set_pixel_projection(width, height);
  glLoadIdentity();
}

bool open_headless(int device, std::string* why) {
  graphics.headless = 1;
  return platform_open_headless(device, why);
}

void* gl_proc_address(const char* name) {
  return graphics.headless ? platform_headless_proc_address(name) : platform_gl_proc_address(name);
}
