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

// The outer size adds the frame and caption around the client area.
WindowConfig window_config(int width, int height, const char* title) {
  int frame_x, frame_y, caption;
  platform_frame_metrics(&frame_x, &frame_y, &caption);
  WindowConfig c = {kClassName, title, 0, 0, width + 2 * frame_x, height + 2 * frame_y + caption};
  window_position(c.outer_width, c.outer_height, &c.x, &c.y);
  return c;
}

}  // namespace

// Centred on the cursor, pushed back onto the desktop; the left and top
// edges win when the window is larger than the desktop.
void place_window(const WindowPlacement* p, int* x, int* y) {
  *x = std::max(p->desk_x, std::min(p->cursor_x - p->width / 2, p->desk_x + p->desk_width - p->width));
  *y = std::max(p->desk_y, std::min(p->cursor_y - p->height / 2, p->desk_y + p->desk_height - p->height));
}

const char* window_step_message(WindowStep step) {
  switch (step) {
    case kStepRegisterClass: return "Failed To Register The Window Class.";
    case kStepCreateWindow: return "Window Creation Error.";
    case kStepChoosePixelFormat: return "Can't Find A Suitable PixelFormat.";
    case kStepSetPixelFormat: return "Can't Set The PixelFormat.";
    case kStepCreateContext: return "Can't Create A GL Rendering Context.";
    case kStepMakeCurrent: return "Can't activate GLRC.";
    default: return nullptr;
  }
}

// NOTE: the initial GL state is set from the size the window's first size
// message left in graphics, which is the real client size.
int open_graphics(int width, int height, const char* title) {
  graphics.width = width;
  graphics.height = height;
  std::memset(graphics.keys, 0, sizeof graphics.keys);
  std::memset(graphics.keys_previous, 0, sizeof graphics.keys_previous);
  WindowConfig config = window_config(width, height, title);
  WindowStep failed = platform_open_window(&config);
  if (failed != kWindowOpened) fatal_error(window_step_message(failed));
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

const char* square_hidden_reason(int side) {
  if (!platform_window_viewable()) return "the window is not on the screen";
  if (graphics.width < side || graphics.height < side) return "the window is smaller than the square";
  return nullptr;
}
