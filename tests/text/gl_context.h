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
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gfx/graphics_state.h"

class GlContext : public ::testing::Test {
 public:
  static const int WIDTH = 1280, HEIGHT = 1024;

 protected:
  pid_t server = -1;
  Display* display = nullptr;
  Window window = 0;
  GLXContext context = nullptr;
  Colormap colormap = 0;

  void SetUp() override {
    std::string name = start_server();
    if (name.empty()) GTEST_SKIP() << "Xvfb could not be started";
    display = XOpenDisplay(name.c_str());
    if (!display) GTEST_SKIP() << "cannot open display " << name;
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
    if (server > 0) {
      kill(server, SIGTERM);
      waitpid(server, nullptr, 0);
    }
  }

  // Starts Xvfb on a free display and returns its name, or "" on failure.
  std::string start_server() {
    int fds[2];
    if (pipe(fds) != 0) return "";
    server = fork();
    if (server == 0) {
      close(fds[0]);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1), dup2(null, 2);
      std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number = read_display_number(fds[0]);
    close(fds[0]);
    return number.empty() ? "" : ":" + number;
  }

  static std::string read_display_number(int fd) {
    std::string number;
    pollfd p = {fd, POLLIN, 0};
    char c;
    while (poll(&p, 1, 10000) > 0 && read(fd, &c, 1) == 1 && c != '\n') number += c;
    return number;
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
