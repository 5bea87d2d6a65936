// A real GL context for the tests that draw: an Xvfb server started for the
// test, a 1280 x 1024 GLX window with a legacy (compatibility) context, and
// the pixel projection the program uses. The test is skipped when Xvfb or
// GLX is not available.
#pragma once
// GoogleTest goes before the X headers, whose None and Bool macros clash
// with its names.
#include <gtest/gtest.h>
// clang-format off
#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
// clang-format on
#include <string>
#include <vector>

#include "gfx/graphics_state.h"
#include "xvfb.h"

class GlContext : public ::testing::Test {
 public:
  static const int WIDTH = 1280, HEIGHT = 1024;

 protected:
  XvfbServer server;
  Display* display = nullptr;
  Window window = 0;
  GLXContext context = nullptr;
  Colormap colormap = 0;

  void SetUp() override {
    if (!xvfb_start(&server)) GTEST_SKIP() << "Xvfb could not be started";
    display = XOpenDisplay(server.display.c_str());
    if (!display) GTEST_SKIP() << "cannot open display " << server.display;
    if (!open_window()) GTEST_SKIP() << "no GLX visual or context";
    set_projection();
  }

  void TearDown() override {
    if (display) {
      glXMakeCurrent(display, None, nullptr);
      if (context) glXDestroyContext(display, context);
      if (window) XDestroyWindow(display, window);
      if (colormap) XFreeColormap(display, colormap);
      XCloseDisplay(display);
    }
    xvfb_stop(&server);
  }

  bool open_window() {
    int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8,
                        GLX_BLUE_SIZE, 8, GLX_DEPTH_SIZE, 16, None};
    XVisualInfo* visual = glXChooseVisual(display, DefaultScreen(display), attributes);
    if (!visual) return false;
    Window root = RootWindow(display, visual->screen);
    XSetWindowAttributes wa = {};
    colormap = wa.colormap = XCreateColormap(display, root, visual->visual, AllocNone);
    window = XCreateWindow(display, root, 0, 0, WIDTH, HEIGHT, 0, visual->depth, InputOutput,
                           visual->visual, CWColormap, &wa);
    XMapWindow(display, window);
    context = glXCreateContext(display, visual, nullptr, True);
    XFree(visual);
    return context && glXMakeCurrent(display, window, context);
  }

  static void set_projection() {
    graphics.width = WIDTH, graphics.height = HEIGHT;
    glViewport(0, 0, WIDTH, HEIGHT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, WIDTH, HEIGHT, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDrawBuffer(GL_BACK);
    glReadBuffer(GL_BACK);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
  }

  // The back buffer as RGB rows from the top of the window down.
  static std::vector<unsigned char> read_pixels() {
    std::vector<unsigned char> bottom_up(size_t(WIDTH) * HEIGHT * 3), top_down(bottom_up.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, WIDTH, HEIGHT, GL_RGB, GL_UNSIGNED_BYTE, bottom_up.data());
    size_t row = size_t(WIDTH) * 3;
    for (int y = 0; y < HEIGHT; y++)
      std::copy_n(bottom_up.data() + (HEIGHT - 1 - y) * row, row, top_down.data() + y * row);
    return top_down;
  }
};
