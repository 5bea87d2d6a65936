#include "process.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <thread>

int spawn_program(const std::vector<std::string>& argv, const std::string& output_file) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  int fd = open(output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(fd, 1);
  dup2(fd, 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

int wait_program(int pid, double timeout_seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

bool program_running(int pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == 0;
}

int shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void hold_key(const std::string& key, double seconds) {
  shell("xdotool keydown " + key);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  shell("xdotool keyup " + key);
}

namespace {

Window find_class(Display* d, Window w, const char* name) {
  XClassHint hint;
  if (XGetClassHint(d, w, &hint)) {
    bool match = hint.res_class && std::strcmp(hint.res_class, name) == 0;
    XFree(hint.res_name);
    XFree(hint.res_class);
    if (match) return w;
  }
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (XQueryTree(d, w, &root, &parent, &children, &count))
    for (unsigned i = 0; i < count && !found; i++) found = find_class(d, children[i], name);
  if (children) XFree(children);
  return found;
}

Window program_window(Display* d) {
  Window w = find_class(d, DefaultRootWindow(d), "OpenGL WinClass");
  if (!w) return 0;
  XWindowAttributes a;
  return XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable ? w : 0;
}

int ignore_x_error(Display*, XErrorEvent*) { return 0; }

// NOTE: XSync waits until the server took the focus change, so that keys
// sent after it (by XTest) go to the new focus. A window that went away in
// the meantime draws an error, which Xlib would otherwise end the tests for.
void give_focus(Display* d, Window w) {
  XErrorHandler previous = XSetErrorHandler(ignore_x_error);
  XSetInputFocus(d, w, RevertToPointerRoot, CurrentTime);
  XSync(d, False);
  XSetErrorHandler(previous);
}

}  // namespace

bool wait_for_window(double timeout_seconds) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_seconds);
  Window w = 0;
  while (!(w = program_window(d)) && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (w) give_focus(d, w);
  XCloseDisplay(d);
  return w != 0;
}

bool focus_program_window() {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  Window w = program_window(d);
  if (w) give_focus(d, w);
  XCloseDisplay(d);
  return w != 0;
}

OtherWindow open_other_window() {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return {nullptr, 0};
  Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 200, 100, 0, 0, 0);
  XMapRaised(d, w);
  XWindowAttributes a;
  for (int tries = 0; tries < 500 && XGetWindowAttributes(d, w, &a) && a.map_state != IsViewable; tries++)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  give_focus(d, w);
  return {d, w};
}

void close_other_window(OtherWindow* other) {
  if (!other->display) return;
  Display* d = static_cast<Display*>(other->display);
  XDestroyWindow(d, other->window);
  XCloseDisplay(d);
  other->display = nullptr;
}

std::vector<unsigned char> window_picture(int* width, int* height) {
  std::vector<unsigned char> rgb;
  Display* d = XOpenDisplay(nullptr);
  if (!d) return rgb;
  Window w = program_window(d);
  XWindowAttributes a;
  bool sized = w && XGetWindowAttributes(d, w, &a);
  XImage* image = sized ? XGetImage(d, w, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap) : nullptr;
  if (image) {
    *width = a.width;
    *height = a.height;
    for (int y = 0; y < a.height; y++)
      for (int x = 0; x < a.width; x++) {
        unsigned long p = XGetPixel(image, x, y);
        rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
      }
    XDestroyImage(image);
  }
  XCloseDisplay(d);
  return rgb;
}

bool close_window() {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  Window w = program_window(d);
  if (w) {
    XEvent e;
    std::memset(&e, 0, sizeof e);
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, w, False, NoEventMask, &e);
    XFlush(d);
  }
  XCloseDisplay(d);
  return w != 0;
}

std::vector<std::string> screenshots() {
  std::vector<std::string> names;
  DIR* d = opendir(".");
  while (dirent* e = readdir(d))
    if (std::regex_match(e->d_name, std::regex("screenshot\\d{5}\\.bmp"))) names.push_back(e->d_name);
  closedir(d);
  return names;
}

uint32_t le32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}

std::vector<int> bmp_pixel(const std::string& bmp, int x, int y) {
  int width = int(le32(bmp, 18)), height = int(le32(bmp, 22));
  size_t at = 54 + size_t(height - 1 - y) * size_t(width * 3 + (4 - width * 3 % 4) % 4) + size_t(x) * 3;
  return {uint8_t(bmp[at]), uint8_t(bmp[at + 1]), uint8_t(bmp[at + 2])};
}
