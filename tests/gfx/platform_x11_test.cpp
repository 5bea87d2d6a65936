// The X11 platform layer against a real X server: a private Xvfb, watched
// and driven from a second connection with XTest, as a user and a window
// manager would. Test order matters: the tests before PlatformWindow run
// while this process has no connection of its own (they fork).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <GL/gl.h>
#include <GL/glext.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gfx/display_loss.h"
#include "gfx/graphics_state.h"
#include "gfx/messages.h"
#include "gfx/platform.h"
#include "xvfb.h"

namespace {
struct Message {
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
};
std::vector<Message> received;  // what reached the window procedure
}  // namespace

intptr_t window_message_handler(void*, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  received.push_back({message, wparam, lparam});
  return 0;
}

namespace {

XvfbServer server;
bool server_up = false;

struct XvfbEnvironment : ::testing::Environment {
  void SetUp() override { server_up = xvfb_installed() && xvfb_start(&server); }
  void TearDown() override { xvfb_stop(&server); }
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

// The tests' own connection, the "other client".
Display* peer() {
  static Display* d = XOpenDisplay(nullptr);
  return d;
}

bool has_name(Window w, const char* name) {
  char* found = nullptr;
  bool same = XFetchName(peer(), w, &found) && found && std::string(found) == name;
  if (found) XFree(found);
  return same;
}

bool has_class(Window w, const char* res_class) {
  XClassHint hint = {};
  if (!XGetClassHint(peer(), w, &hint)) return false;
  bool same = std::string(hint.res_class) == res_class;
  XFree(hint.res_name);
  XFree(hint.res_class);
  return same;
}

// A top-level window passing the test, waiting for it up to 5 s.
template <class Match>
Window find_top_level(Match match) {
  for (int tries = 0; tries < 500; tries++, usleep(10000)) {
    Window root, parent, *children = nullptr, found = 0;
    unsigned count = 0;
    XQueryTree(peer(), DefaultRootWindow(peer()), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count && !found; i++)
      if (match(children[i])) found = children[i];
    if (children) XFree(children);
    if (found) return found;
  }
  return 0;
}

Message pump_until(uint32_t message) {
  for (int tries = 0; tries < 500; tries++, usleep(10000)) {
    platform_dispatch_messages();
    for (const Message& m : received)
      if (m.message == message) return m;
  }
  return {0, 0, 0};
}

void hold_key(KeySym sym, bool press) {
  XTestFakeKeyEvent(peer(), XKeysymToKeycode(peer(), sym), press, CurrentTime);
  XSync(peer(), False);
}

void click(unsigned button) {
  XTestFakeButtonEvent(peer(), button, True, CurrentTime);
  XTestFakeButtonEvent(peer(), button, False, CurrentTime);
  XSync(peer(), False);
}

// The exit status of the child, killed when it runs past 5 s (-1).
int wait_child(pid_t pid) {
  int status = -1;
  for (int tries = 0; tries < 500 && waitpid(pid, &status, WNOHANG) == 0; tries++) usleep(10000);
  if (status != -1) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

// Shows the box in a child, which it blocks; the result is the child's
// stderr once it ended, or "TIMEOUT".
template <class Dismiss>
std::string box_in_child(const char* text, bool with_display, Dismiss dismiss) {
  int fds[2];
  if (pipe(fds) != 0) return "NO PIPE";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 2);
    if (!with_display) unsetenv("DISPLAY");
    platform_message_box(text, "Oh sod it");
    _exit(0);
  }
  close(fds[1]);
  dismiss(pid);
  std::string output = wait_child(pid) == 0 ? "" : "TIMEOUT";
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
  close(fds[0]);
  return output;
}

// Before any window exists and with no DISPLAY: nothing crashes, queries
// give zeros, every step that needs the server fails.
TEST(PlatformNoDisplay, CallsAreHarmlessAndCreationFails) {
  std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  unsetenv("DISPLAY");
  platform_release_graphics();
  const WindowConfig config = {"OpenGL WinClass", "t", 0, 0, 64, 64};
  EXPECT_EQ(kStepCreateWindow, platform_open_window(&config));
  EXPECT_FALSE(platform_is_iconic() || platform_window_viewable());
  int x = 7, y = 7, w = 7, h = 7;
  platform_cursor_pos(&x, &y);
  platform_virtual_screen(nullptr, nullptr, &w, &h);
  platform_frame_metrics(nullptr, nullptr, nullptr);
  EXPECT_EQ(0, x + y + w + h);
  unsigned char keys[256];
  memset(keys, 0xFF, sizeof keys);
  platform_keyboard_state(keys);
  EXPECT_EQ(std::string(256, '\0'), std::string(reinterpret_cast<char*>(keys), 256));
  EXPECT_EQ(0, platform_dispatch_messages());
  platform_swap_buffers();
  platform_minimise();
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
}

TEST(PlatformMessageBox, WithoutDisplayWritesStderrAndReturns) {
  EXPECT_EQ("Oh sod it: Window Creation Error.\n", box_in_child("Window Creation Error.", false, [](pid_t) {}));
}

// The Return still held from before the box appeared must not close it.
TEST(PlatformMessageBox, ShowsByCaptionTakesFocusAndReturnDismissesIt) {
  if (!server_up) GTEST_SKIP() << "Xvfb is not installed";
  hold_key(XK_Return, true);
  auto press_return = [](pid_t pid) {
    Window box = find_top_level([](Window w) { return has_name(w, "Oh sod it"); }), focus = 0;
    int revert;
    for (int tries = 0; tries < 500 && box && focus != box; tries++, usleep(10000))
      XGetInputFocus(peer(), &focus, &revert);
    EXPECT_TRUE(box && focus == box);
    hold_key(XK_Return, false);
    usleep(200000);
    EXPECT_EQ(0, waitpid(pid, nullptr, WNOHANG)) << "a stray key release closed the box";
    hold_key(XK_Return, true);
    hold_key(XK_Return, false);
  };
  EXPECT_EQ("Oh sod it: Can't Create A GL Rendering Context.\nSecond line.\n",
            box_in_child("Can't Create A GL Rendering Context.\nSecond line.", true, press_return));
}

// A lost server connection ends the run as a failure: the run did not finish.
TEST(PlatformServerLoss, EndsProcessWithStatusOne) {
  if (!server_up) GTEST_SKIP() << "Xvfb is not installed";
  XvfbServer doomed;
  ASSERT_TRUE(xvfb_start(&doomed));
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  pid_t pid = fork();
  if (pid == 0) {
    const WindowConfig config = {"OpenGL WinClass", "doomed", 0, 0, 64, 64};
    char created = platform_open_window(&config) == kWindowOpened ? '1' : '0';
    if (write(fds[1], &created, 1) != 1) _exit(3);
    for (;;) platform_dispatch_messages(), usleep(1000);
  }
  char created = 0;
  pollfd ready = {fds[0], POLLIN, 0};
  EXPECT_TRUE(poll(&ready, 1, 5000) == 1 && read(fds[0], &created, 1) == 1 && created == '1');
  xvfb_stop(&doomed);
  setenv("DISPLAY", server.display.c_str(), 1);
  EXPECT_EQ(1, wait_child(pid));
}

void say_pending() { std::fputs("pending results\n", stderr); }

// What the run still holds is written by its hook before the process ends,
// after the loss is named; the status stays that of a cut-off run.
TEST(PlatformServerLoss, RunsTheLossHookBeforeTheEnd) {
  if (!server_up) GTEST_SKIP() << "Xvfb is not installed";
  XvfbServer doomed;
  ASSERT_TRUE(xvfb_start(&doomed));
  int created[2], errors[2];
  ASSERT_EQ(0, pipe(created));
  ASSERT_EQ(0, pipe(errors));
  pid_t pid = fork();
  if (pid == 0) {
    dup2(errors[1], 2);
    set_display_loss_hook(say_pending);
    const WindowConfig config = {"OpenGL WinClass", "doomed", 0, 0, 64, 64};
    char opened = platform_open_window(&config) == kWindowOpened ? '1' : '0';
    if (write(created[1], &opened, 1) != 1) _exit(3);
    for (;;) platform_dispatch_messages(), usleep(1000);
  }
  close(errors[1]);
  char opened = 0;
  pollfd ready = {created[0], POLLIN, 0};
  EXPECT_TRUE(poll(&ready, 1, 5000) == 1 && read(created[0], &opened, 1) == 1 && opened == '1');
  xvfb_stop(&doomed);
  setenv("DISPLAY", server.display.c_str(), 1);
  EXPECT_EQ(1, wait_child(pid));
  std::string said;
  char buffer[256];
  for (ssize_t n; (n = read(errors[0], buffer, sizeof buffer)) > 0;) said.append(buffer, size_t(n));
  EXPECT_NE(said.find("The connection to the X display was lost; the run ends here\npending results\n"),
            std::string::npos) << said;
}

// A server without GLX, for a window that gets no GL: its pid, with the
// display in *display ("" when it did not come up).
pid_t start_server_without_glx(std::string* display) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) dup2(null_fd, 2);
    std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-extension", "GLX", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  *display = pid > 0 ? xvfb_read_display(fds[0], 10000) : "";
  close(fds[0]);
  return pid;
}

// The window itself opens; the failure is reported at the first step that
// needs GL, so that it gets that step's message.
TEST(PlatformNoGlx, OpeningStopsAtThePixelFormatStep) {
  if (!server_up) GTEST_SKIP() << "Xvfb is not installed";
  XvfbServer plain;
  plain.pid = start_server_without_glx(&plain.display);
  ASSERT_FALSE(plain.display.empty());
  pid_t pid = fork();
  if (pid == 0) {
    setenv("DISPLAY", plain.display.c_str(), 1);
    const WindowConfig config = {"OpenGL WinClass", "no GL", 0, 0, 64, 64};
    _exit(platform_open_window(&config));
  }
  EXPECT_EQ(kStepChoosePixelFormat, wait_child(pid));
  xvfb_stop(&plain);
}

// --- the frame's window: created once, shared by the tests below ---

std::vector<Message> creation_messages;

class PlatformWindow : public ::testing::Test {
 protected:
  static Window window;  // as the peer sees it
  static constexpr WindowConfig kConfig = {"OpenGL WinClass", "aperture test", 100, 50, 640, 480};

  void SetUp() override {
    if (!server_up) GTEST_SKIP() << "Xvfb is not installed";
    if (!window && platform_open_window(&kConfig) == kWindowOpened) {
      creation_messages = received;
      window = find_top_level([](Window w) { return has_class(w, "OpenGL WinClass"); });
    }
    ASSERT_NE(0u, window);
    received.clear();
  }
};
Window PlatformWindow::window = 0;

TEST_F(PlatformWindow, OpensAtRequestedPlaceAndSizeWithClassAndTitle) {
  ASSERT_FALSE(creation_messages.empty());
  EXPECT_EQ(WM_SIZE, creation_messages.back().message);
  EXPECT_EQ((480 << 16) | 640, creation_messages.back().lparam);
  EXPECT_TRUE(has_name(window, "aperture test"));
  XWindowAttributes a;
  ASSERT_TRUE(XGetWindowAttributes(peer(), window, &a));
  EXPECT_EQ("100,50 640x480", std::to_string(a.x) + "," + std::to_string(a.y) + " " + std::to_string(a.width) +
                                  "x" + std::to_string(a.height));
  EXPECT_TRUE(platform_window_viewable());
  EXPECT_FALSE(platform_is_iconic());
  // One window per process: a second is refused and the first stays.
  EXPECT_EQ(kStepCreateWindow, platform_open_window(&kConfig));
  EXPECT_TRUE(platform_window_viewable());
}

template <class T>
T gl_proc(const char* name) {
  return reinterpret_cast<T>(platform_gl_proc_address(name));
}

TEST_F(PlatformWindow, GlContextOffers20AndCompilesVersion120Shader) {
  ASSERT_NE(nullptr, graphics.render_context);
  ASSERT_NE(nullptr, glGetString(GL_VERSION)) << "the context is current";
  int major = 0, minor = 0;
  std::sscanf(reinterpret_cast<const char*>(glGetString(GL_VERSION)), "%d.%d", &major, &minor);
  EXPECT_GE(major * 10 + minor, 20) << glGetString(GL_VERSION);
  auto create = gl_proc<PFNGLCREATESHADERPROC>("glCreateShader");
  auto source = gl_proc<PFNGLSHADERSOURCEPROC>("glShaderSource");
  auto compile = gl_proc<PFNGLCOMPILESHADERPROC>("glCompileShader");
  auto query = gl_proc<PFNGLGETSHADERIVPROC>("glGetShaderiv");
  ASSERT_TRUE(create && source && compile && query);
  const char* text = "#version 120\nvoid main() { gl_FragColor = vec4(1.0, 0.5, 0.0, 1.0); }\n";
  GLuint shader = create(GL_FRAGMENT_SHADER);
  source(shader, 1, &text, nullptr);
  compile(shader);
  GLint compiled = 0;
  query(shader, GL_COMPILE_STATUS, &compiled);
  EXPECT_EQ(GL_TRUE, compiled);
  // The window's back buffer takes drawing: its visual fits the context.
  glClearColor(1, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  unsigned char pixel[4] = {};
  glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  EXPECT_TRUE(pixel[0] == 255 && pixel[1] == 0);
  platform_swap_buffers();
}

TEST_F(PlatformWindow, ResizeCloseBoxAndQuitReachThePump) {
  XResizeWindow(peer(), window, 800, 600);
  XSync(peer(), False);
  EXPECT_EQ((600 << 16) | 800, pump_until(WM_SIZE).lparam);
  XEvent close = {};
  close.xclient = {ClientMessage, 0, False, nullptr, window, XInternAtom(peer(), "WM_PROTOCOLS", False), 32, {}};
  close.xclient.data.l[0] = static_cast<long>(XInternAtom(peer(), "WM_DELETE_WINDOW", False));
  XSendEvent(peer(), window, False, NoEventMask, &close);
  XSync(peer(), False);
  EXPECT_EQ(WM_CLOSE, pump_until(WM_CLOSE).message);
  // A posted quit is taken before anything waiting; what waits stays queued.
  received.clear();
  XResizeWindow(peer(), window, 700, 500);
  XSync(peer(), False);
  platform_post_quit(0);
  EXPECT_EQ(1, platform_dispatch_messages());
  EXPECT_TRUE(received.empty());
  EXPECT_EQ((500 << 16) | 700, pump_until(WM_SIZE).lparam);
}

void give_focus(Window w) {
  XSetInputFocus(peer(), w, RevertToPointerRoot, CurrentTime);
  XSync(peer(), False);
}

// Pumps and reads the keys until the key reads as wanted, for up to
// tries x 10 ms.
bool key_reads(unsigned char keys[256], int code, unsigned char wanted, int tries = 200) {
  for (; tries > 0; tries--, usleep(10000)) {
    platform_dispatch_messages();
    platform_keyboard_state(keys);
    if (keys[code] == wanted) return true;
  }
  return false;
}

// Keys are ours while our window has the focus: held ones read as virtual
// keys until released or until the focus moves on; keys typed into another
// window are not ours.
TEST_F(PlatformWindow, KeysReadAsVirtualKeysWhileOurWindowHasTheFocus) {
  unsigned char keys[256];
  give_focus(window);
  hold_key(XK_s, true);
  hold_key(XK_Shift_L, true);
  EXPECT_TRUE(key_reads(keys, 0x53, 0x80));
  EXPECT_EQ(0x80, keys[VK_SHIFT] & keys[VK_LSHIFT]);
  EXPECT_EQ(0, keys[VK_RSHIFT] | keys[0x51]);
  hold_key(XK_Shift_L, false);
  EXPECT_TRUE(key_reads(keys, VK_SHIFT, 0));
  EXPECT_EQ(0x80, keys[0x53]) << "S is still held";
  Window other = XCreateSimpleWindow(peer(), DefaultRootWindow(peer()), 0, 0, 50, 50, 0, 0, 0);
  XMapWindow(peer(), other);
  ASSERT_NE(0u, find_top_level([other](Window w) {
              XWindowAttributes a;
              return w == other && XGetWindowAttributes(peer(), w, &a) && a.map_state == IsViewable;
            }));
  give_focus(other);
  EXPECT_TRUE(key_reads(keys, 0x53, 0)) << "released once the focus left";
  hold_key(XK_s, false);
  hold_key(XK_q, true);
  EXPECT_FALSE(key_reads(keys, 0x51, 0x80, 30)) << "Q typed into another window";
  hold_key(XK_q, false);
  XDestroyWindow(peer(), other);
  XSync(peer(), False);
}

TEST_F(PlatformWindow, PointerWheelAndTypingBecomeMessages) {
  XTestFakeMotionEvent(peer(), 0, 100 + 30, 50 + 20, CurrentTime);
  XSync(peer(), False);
  EXPECT_EQ((20 << 16) | 30, pump_until(WM_MOUSEMOVE).lparam);
  click(1);
  EXPECT_EQ(MK_LBUTTON, pump_until(WM_LBUTTONDOWN).wparam);  // held after the event
  EXPECT_EQ(0u, pump_until(WM_LBUTTONUP).wparam);
  click(5);
  Message back = pump_until(WM_MOUSEWHEEL);
  EXPECT_EQ(-120, static_cast<int16_t>(back.wparam >> 16));
  EXPECT_LT(static_cast<int32_t>(back.wparam), 0);
  received.clear();
  click(4);
  EXPECT_GT(static_cast<int32_t>(pump_until(WM_MOUSEWHEEL).wparam), 0);
  hold_key(XK_a, true);
  hold_key(XK_a, false);
  EXPECT_EQ(static_cast<uintptr_t>('a'), pump_until(WM_CHAR).wparam);
}

// Last of the window tests: it takes the shared window away. Calls that
// still name the window draw asynchronous X errors, which must not end the
// process; the pump then reports the destruction.
TEST_F(PlatformWindow, WindowDestroyedByAnotherClientGivesDestroyNotDeath) {
  XDestroyWindow(peer(), window);
  XSync(peer(), False);
  platform_swap_buffers();
  EXPECT_FALSE(platform_window_viewable());
  EXPECT_EQ(WM_DESTROY, pump_until(WM_DESTROY).message);
  platform_swap_buffers();
  platform_release_graphics();
  window = 0;
}

}  // namespace
