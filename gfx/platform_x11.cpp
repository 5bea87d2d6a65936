// The platform layer on Linux, over Xlib and GLX: the one window with its
// GL context, the pump that turns X events into the frame's window
// messages, the keyboard read as virtual-key states, and a message box made
// of plain X drawing. Time services and the command call live in
// time_posix.cpp.
//
// Native handles stay in this file. The frame's record only gets opaque
// tokens in its window, device_context and render_context fields.
#include <poll.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gfx/display_loss.h"
#include "gfx/graphics_state.h"
#include "gfx/messages.h"
#include "gfx/platform.h"

// The X headers come last: they define macros (None, Bool, Status) that
// would otherwise leak into the headers above.
#include <GL/glx.h>
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace {

struct X11State {
  Display* display;          // connection shared by every call; null until one could be opened
  int screen;                // default screen of that connection
  Window window;             // the frame's window; 0 before creation and once the server destroyed it
  Colormap colormap;         // colormap made for the GL visual; 0 when the default visual is used
  GLXFBConfig fb_config;     // frame-buffer configuration picked at window creation; null if none fit
  VisualID visual_id;        // that configuration's visual, to check the window against
  GLXContext context;        // the GL context; null until created and after release
  bool mapped;               // window is mapped, as the last Map/UnmapNotify said
  int width;                 // client width last reported through WM_SIZE
  int height;                // client height last reported through WM_SIZE
  bool quit_pending;         // a quit was posted and the pump has not taken it yet
  Atom wm_protocols;         // WM_PROTOCOLS, the type of the close request
  Atom wm_delete_window;     // WM_DELETE_WINDOW, the close box's request
  Atom wm_state;             // WM_STATE, where the window manager says "iconic"
  unsigned char key_vk[256][2];  // per keycode: generic virtual key and left/right one (0: none)
  bool key_down[256];        // per keycode: held, as our window's key events left it
  bool key_table_built;      // key_vk matches the server's current keyboard mapping
  char class_name[128];      // class given at registration; the WM_CLASS class
  bool error_logged;         // an asynchronous X error was written to stderr already
  bool trapping;             // X errors are expected now: record them, do not log
  int trapped_error;         // error code seen while trapping; 0 for none
};

X11State x11 = {};

const char kDefaultClass[] = "OpenGL WinClass";

// --- errors and the connection ---

// NOTE: Xlib's default error handler ends the process. Errors arrive
// asynchronously, long after the request that caused them (a BadWindow once
// someone else destroyed our window, say), and none of them is a reason to
// stop a measurement run, so they are written once and otherwise ignored.
int on_x_error(Display* display, XErrorEvent* error) {
  if (x11.trapping) {
    x11.trapped_error = error->error_code;
    return 0;
  }
  if (x11.error_logged) return 0;
  char text[256];
  XGetErrorText(display, error->error_code, text, sizeof text);
  std::fprintf(stderr, "X error ignored: %s (request %d.%d); later ones are not shown\n", text,
               error->request_code, error->minor_code);
  x11.error_logged = true;
  return 0;
}

// NOTE: Xlib calls this when the connection to the server is lost (the
// server ended, the session was closed) and ends the process itself if it
// returns. Nothing can be drawn or read any more. The run did not finish,
// so the process ends with status 1, as after a fatal error: a script must
// not take a run cut off by a dying display for a finished one. _Exit skips
// the atexit handlers, which could talk to the dead connection again; the
// run's own hook, which touches no display, writes out what it still holds.
int on_x_io_error(Display*) {
  std::fputs("The connection to the X display was lost; the run ends here\n", stderr);
  run_display_loss_hook();
  std::fflush(nullptr);
  std::_Exit(1);
}

Display* open_connection() {
  XSetErrorHandler(on_x_error);
  XSetIOErrorHandler(on_x_io_error);
  return XOpenDisplay(nullptr);
}

void begin_error_trap() {
  x11.trapping = true;
  x11.trapped_error = 0;
}

// Waits until the server has answered everything sent so far; returns the
// error code one of those requests drew, or 0.
int end_error_trap(Display* display) {
  XSync(display, False);
  x11.trapping = false;
  return x11.trapped_error;
}

// NOTE: the display is opened on first use by whichever call comes first,
// so that cursor and screen queries work before the window exists. A failed
// open is tried again at the next call; it costs next to nothing.
Display* display() {
  if (x11.display) return x11.display;
  x11.display = open_connection();
  if (!x11.display) return nullptr;
  x11.screen = DefaultScreen(x11.display);
  x11.wm_protocols = XInternAtom(x11.display, "WM_PROTOCOLS", False);
  x11.wm_delete_window = XInternAtom(x11.display, "WM_DELETE_WINDOW", False);
  x11.wm_state = XInternAtom(x11.display, "WM_STATE", False);
  // NOTE: a held key's auto-repeat then comes as presses alone, without the
  // release before each, so the key never reads as let go in between.
  Bool detectable = False;
  XkbSetDetectableAutoRepeat(x11.display, True, &detectable);
  return x11.display;
}

// Waits up to timeout_ms for an event of the type on the window and takes
// it from the queue; other events stay queued.
bool wait_for_event(Display* d, Window w, int type, XEvent* event, int timeout_ms) {
  for (int waited = 0;; waited += 10) {
    if (XCheckTypedWindowEvent(d, w, type, event)) return true;
    if (waited >= timeout_ms) return false;
    pollfd ready = {ConnectionNumber(d), POLLIN, 0};
    poll(&ready, 1, 10);
  }
}

// --- messages to the frame ---

void* window_token() { return reinterpret_cast<void*>(static_cast<uintptr_t>(x11.window)); }

// Two 16-bit words packed as Win32 packs them: low word first.
intptr_t pack_words(int low, int high) {
  uint32_t packed = (static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16) | static_cast<uint16_t>(low);
  return static_cast<intptr_t>(packed);
}

void send(uint32_t message, uintptr_t wparam, intptr_t lparam) {
  window_message_handler(graphics.window, message, wparam, lparam);
}

void send_size() { send(WM_SIZE, 0, pack_words(x11.width, x11.height)); }

// --- frame-buffer configuration and window ---

// Among configurations that all have at least 8 bits per colour, the one
// closest to plain 24-bit RGB: exactly 8/8/8 on a 24-bit visual first, since
// a 32-bit visual would make the window see-through under a compositor.
GLXFBConfig closest_config(Display* d, GLXFBConfig* configs, int count) {
  GLXFBConfig fallback = nullptr;
  for (int i = 0; i < count; i++) {
    XVisualInfo* visual = glXGetVisualFromFBConfig(d, configs[i]);
    if (!visual) continue;
    int red = 0, green = 0, blue = 0;
    glXGetFBConfigAttrib(d, configs[i], GLX_RED_SIZE, &red);
    glXGetFBConfigAttrib(d, configs[i], GLX_GREEN_SIZE, &green);
    glXGetFBConfigAttrib(d, configs[i], GLX_BLUE_SIZE, &blue);
    bool exact = red == 8 && green == 8 && blue == 8 && visual->depth == 24;
    XFree(visual);
    if (exact) return configs[i];
    if (!fallback) fallback = configs[i];
  }
  return fallback;
}

GLXFBConfig config_with_depth(Display* d, int depth_bits) {
  const int wanted[] = {GLX_X_RENDERABLE, True,           GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT, GLX_RENDER_TYPE,
                        GLX_RGBA_BIT,     GLX_DOUBLEBUFFER, True,            GLX_RED_SIZE,   8,
                        GLX_GREEN_SIZE,   8,              GLX_BLUE_SIZE,     8,              GLX_DEPTH_SIZE,
                        depth_bits,       None};
  int count = 0;
  GLXFBConfig* configs = glXChooseFBConfig(d, x11.screen, wanted, &count);
  if (!configs) return nullptr;
  GLXFBConfig best = closest_config(d, configs, count);
  XFree(configs);
  return best;
}

// NOTE: X fixes a window's visual when the window is created, so the pixel
// format is chosen here rather than at its own step, which only reports the
// outcome. A 32-bit depth buffer is asked first; fewer bits are accepted as
// the Win32 format choice accepts them.
void choose_config(Display* d) {
  int major = 0, minor = 0;
  x11.fb_config = nullptr;
  if (!glXQueryVersion(d, &major, &minor) || major < 1 || (major == 1 && minor < 3)) return;
  const int depths[] = {32, 24, 16, 0};
  for (int depth : depths) {
    x11.fb_config = config_with_depth(d, depth);
    if (x11.fb_config) return;
  }
}

// The chosen visual, or the screen's default one when the choice failed, so
// that a window exists either way and the failure is reported at its step.
Window create_x_window(Display* d, int x, int y, unsigned width, unsigned height) {
  Window root = RootWindow(d, x11.screen);
  XVisualInfo* info = x11.fb_config ? glXGetVisualFromFBConfig(d, x11.fb_config) : nullptr;
  Visual* visual = info ? info->visual : DefaultVisual(d, x11.screen);
  int depth = info ? info->depth : DefaultDepth(d, x11.screen);
  x11.visual_id = info ? info->visualid : 0;
  x11.colormap = XCreateColormap(d, root, visual, AllocNone);
  XSetWindowAttributes attributes = {};
  attributes.colormap = x11.colormap;
  attributes.background_pixmap = None;  // GL paints the whole client area
  attributes.event_mask = StructureNotifyMask | KeyPressMask | KeyReleaseMask | ButtonPressMask |
                          ButtonReleaseMask | PointerMotionMask | ExposureMask | FocusChangeMask;
  unsigned long mask = CWColormap | CWBackPixmap | CWBorderPixel | CWEventMask;
  Window w = XCreateWindow(d, root, x, y, width, height, 0, depth, InputOutput, visual, mask, &attributes);
  if (info) XFree(info);
  return w;
}

void set_names(Display* d, Window w, const char* title, const char* class_name) {
  XStoreName(d, w, title);
  Atom net_wm_name = XInternAtom(d, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  XChangeProperty(d, w, net_wm_name, utf8, 8, PropModeReplace, reinterpret_cast<const unsigned char*>(title),
                  static_cast<int>(std::strlen(title)));
  XClassHint hint;
  hint.res_name = const_cast<char*>("veldspan");
  hint.res_class = const_cast<char*>(class_name);
  XSetClassHint(d, w, &hint);
}

// NOTE: without USPosition a window manager is free to place the window
// where it likes; the frame computed the position from the cursor on
// purpose, so it asks for it to be kept.
void set_position_hints(Display* d, Window w, int x, int y, unsigned width, unsigned height) {
  XSizeHints* hints = XAllocSizeHints();
  if (!hints) return;
  hints->flags = USPosition | PPosition | USSize | PSize;
  hints->x = x;
  hints->y = y;
  hints->width = static_cast<int>(width);
  hints->height = static_cast<int>(height);
  XSetWMNormalHints(d, w, hints);
  XFree(hints);
}

unsigned clamp_size(int size) { return size < 1 ? 1u : static_cast<unsigned>(size); }

void remember_class(const char* class_name) {
  std::snprintf(x11.class_name, sizeof x11.class_name, "%s", class_name);
}

const char* window_class() { return x11.class_name[0] ? x11.class_name : kDefaultClass; }

// Creates the window with its names and hints; false when the server
// refused it (out of memory, a visual it cannot use).
bool make_named_window(Display* d, const char* title, int x, int y, unsigned width, unsigned height) {
  begin_error_trap();
  x11.window = create_x_window(d, x, y, width, height);
  set_names(d, x11.window, title, window_class());
  set_position_hints(d, x11.window, x, y, width, height);
  XSetWMProtocols(d, x11.window, &x11.wm_delete_window, 1);
  if (end_error_trap(d) == 0) return true;
  x11.window = 0;
  return false;
}

// The real client size once mapped (a window manager may have changed it),
// told to the frame as Win32 tells it during window creation.
void report_client_size(Display* d) {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(d, x11.window, &attributes)) {
    x11.width = attributes.width;
    x11.height = attributes.height;
  }
  send_size();
}

void map_and_wait(Display* d) {
  XMapWindow(d, x11.window);
  XEvent event;
  // NOTE: bounded, so that a window manager that never maps us cannot hang
  // the start-up; the pump notices a late MapNotify.
  if (wait_for_event(d, x11.window, MapNotify, &event, 5000)) x11.mapped = true;
}

// --- event translation ---

uintptr_t mouse_key_bits(unsigned state) {
  uintptr_t bits = 0;
  if (state & Button1Mask) bits |= MK_LBUTTON;
  if (state & Button2Mask) bits |= MK_MBUTTON;
  if (state & Button3Mask) bits |= MK_RBUTTON;
  if (state & ShiftMask) bits |= MK_SHIFT;
  if (state & ControlMask) bits |= MK_CONTROL;
  return bits;
}

unsigned button_mask(unsigned button) {
  static const unsigned masks[] = {0, Button1Mask, Button2Mask, Button3Mask};
  return button <= 3 ? masks[button] : 0;
}

// NOTE: Win32 puts the wheel delta, a signed 16-bit number, in the high word
// of wparam, so wparam read as a signed 32-bit number is positive for a turn
// forward (X button 4) and negative backward (button 5).
void send_wheel(const XButtonEvent& e) {
  int delta = e.button == 4 ? 120 : -120;
  uint32_t high = static_cast<uint32_t>(static_cast<uint16_t>(static_cast<int16_t>(delta))) << 16;
  uintptr_t wparam = high | static_cast<uint32_t>(mouse_key_bits(e.state));
  send(WM_MOUSEWHEEL, wparam, pack_words(e.x_root, e.y_root));
}

// X reports the buttons held before the event; Win32 those held after it.
void on_button(const XButtonEvent& e, bool press) {
  if (e.button == 4 || e.button == 5) {
    if (press) send_wheel(e);
    return;
  }
  unsigned mask = button_mask(e.button);
  if (!mask) return;
  static const uint32_t downs[] = {0, WM_LBUTTONDOWN, WM_MBUTTONDOWN, WM_RBUTTONDOWN};
  static const uint32_t ups[] = {0, WM_LBUTTONUP, WM_MBUTTONUP, WM_RBUTTONUP};
  unsigned held = press ? (e.state | mask) : (e.state & ~mask);
  send(press ? downs[e.button] : ups[e.button], mouse_key_bits(held), pack_words(e.x, e.y));
}

void on_key_press(XKeyEvent* e) {
  if (e->keycode < 256) x11.key_down[e->keycode] = true;
  char text[32];
  KeySym keysym;
  int count = XLookupString(e, text, sizeof text, &keysym, nullptr);
  for (int i = 0; i < count; i++) send(WM_CHAR, static_cast<unsigned char>(text[i]), 1);
}

void on_configure(const XConfigureEvent& e) {
  if (e.width == x11.width && e.height == x11.height) return;
  x11.width = e.width;
  x11.height = e.height;
  send_size();
}

void on_client_message(const XClientMessageEvent& e) {
  if (e.message_type != x11.wm_protocols || e.format != 32) return;
  if (static_cast<Atom>(e.data.l[0]) == x11.wm_delete_window) send(WM_CLOSE, 0, 0);
}

// NOTE: once the server destroyed the window (another client did it), no
// call may use its id again; the frame still hears WM_DESTROY.
void on_destroy() {
  x11.window = 0;
  x11.mapped = false;
  std::memset(x11.key_down, 0, sizeof x11.key_down);
  send(WM_DESTROY, 0, 0);
}

void translate_window_event(XEvent* event) {
  switch (event->type) {
    case ConfigureNotify: on_configure(event->xconfigure); break;
    case MapNotify: x11.mapped = true; break;
    case UnmapNotify: x11.mapped = false; break;
    case ClientMessage: on_client_message(event->xclient); break;
    case DestroyNotify: on_destroy(); break;
    case KeyPress: on_key_press(&event->xkey); break;
    case KeyRelease:
      if (event->xkey.keycode < 256) x11.key_down[event->xkey.keycode] = false;
      break;
    // NOTE: once the focus is elsewhere, the releases go elsewhere too; a key
    // held as it left would stay held for good, as on Windows it does not.
    case FocusOut: std::memset(x11.key_down, 0, sizeof x11.key_down); break;
    case ButtonPress: on_button(event->xbutton, true); break;
    case ButtonRelease: on_button(event->xbutton, false); break;
    case MotionNotify:
      send(WM_MOUSEMOVE, mouse_key_bits(event->xmotion.state), pack_words(event->xmotion.x, event->xmotion.y));
      break;
    default: break;  // the platform's default handling: nothing
  }
}

void translate_event(XEvent* event) {
  if (event->type == MappingNotify) {
    XRefreshKeyboardMapping(&event->xmapping);
    x11.key_table_built = false;
    return;
  }
  if (x11.window && event->xany.window == x11.window) translate_window_event(event);
}

bool take_quit() {
  if (!x11.quit_pending) return false;
  x11.quit_pending = false;
  return true;
}

// --- keyboard ---

struct NamedKey {
  KeySym keysym;          // level-0 symbol of the key
  unsigned char vk;       // the virtual key it holds
  unsigned char side_vk;  // the left/right virtual key it also holds; 0 for none
};

const NamedKey kNamedKeys[] = {
    {XK_Escape, VK_ESCAPE, 0},     {XK_Tab, VK_TAB, 0},         {XK_Return, VK_RETURN, 0},
    {XK_KP_Enter, VK_RETURN, 0},   {XK_space, VK_SPACE, 0},     {XK_BackSpace, VK_BACK, 0},
    {XK_Left, VK_LEFT, 0},         {XK_Up, VK_UP, 0},           {XK_Right, VK_RIGHT, 0},
    {XK_Down, VK_DOWN, 0},         {XK_Home, VK_HOME, 0},       {XK_End, VK_END, 0},
    {XK_Prior, VK_PRIOR, 0},       {XK_Next, VK_NEXT, 0},       {XK_Insert, VK_INSERT, 0},
    {XK_Delete, VK_DELETE, 0},     {XK_Caps_Lock, VK_CAPITAL, 0}, {XK_Pause, VK_PAUSE, 0},
    {XK_Shift_L, VK_SHIFT, VK_LSHIFT},     {XK_Shift_R, VK_SHIFT, VK_RSHIFT},
    {XK_Control_L, VK_CONTROL, VK_LCONTROL}, {XK_Control_R, VK_CONTROL, VK_RCONTROL},
    {XK_Alt_L, VK_MENU, VK_LMENU}, {XK_Alt_R, VK_MENU, VK_RMENU}, {XK_Meta_L, VK_MENU, VK_LMENU},
    {XK_Meta_R, VK_MENU, VK_RMENU},
    // AltGr, the right Alt key on many layouts; Windows reports it as right Alt.
    {XK_ISO_Level3_Shift, VK_MENU, VK_RMENU},
};

// Virtual keys for one symbol: letters by their upper-case code, digits by
// their own code, F1 to F12 from 0x70, the rest from the table.
bool keysym_to_vk(KeySym sym, unsigned char out[2]) {
  out[1] = 0;
  if (sym >= XK_a && sym <= XK_z) out[0] = static_cast<unsigned char>('A' + (sym - XK_a));
  else if ((sym >= XK_A && sym <= XK_Z) || (sym >= XK_0 && sym <= XK_9)) out[0] = static_cast<unsigned char>(sym);
  else if (sym >= XK_F1 && sym <= XK_F12) out[0] = static_cast<unsigned char>(VK_F1 + (sym - XK_F1));
  else out[0] = 0;
  for (const NamedKey& key : kNamedKeys) {
    if (out[0] || key.keysym != sym) continue;
    out[0] = key.vk;
    out[1] = key.side_vk;
  }
  return out[0] != 0;
}

// NOTE: level 0 first; level 1 only when level 0 gives nothing, so that on
// layouts with symbols on the unshifted digit row (French, for instance) the
// digit keys still hold '0'..'9' as they do on Windows.
void build_key_table(Display* d) {
  std::memset(x11.key_vk, 0, sizeof x11.key_vk);
  int first = 0, last = 0, per_code = 0;
  XDisplayKeycodes(d, &first, &last);
  KeySym* syms = XGetKeyboardMapping(d, static_cast<KeyCode>(first), last - first + 1, &per_code);
  if (!syms) return;
  for (int code = first; code <= last && code < 256; code++) {
    const KeySym* levels = syms + (code - first) * per_code;
    if (!keysym_to_vk(levels[0], x11.key_vk[code]) && per_code > 1) keysym_to_vk(levels[1], x11.key_vk[code]);
  }
  XFree(syms);
  x11.key_table_built = true;
}

bool wm_state_iconic(Display* d) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, x11.window, x11.wm_state, 0, 2, False, x11.wm_state, &type, &format, &count, &after,
                         &data) != Success)
    return false;
  bool iconic = data && format == 32 && count >= 1 && reinterpret_cast<long*>(data)[0] == IconicState;
  if (data) XFree(data);
  return iconic;
}

// --- window and context steps ---

// X has no window classes; the name becomes the window's WM_CLASS.
bool register_class(const char* class_name) {
  if (class_name) remember_class(class_name);
  return true;
}

Display* display_for_window() {
  Display* d = display();
  if (!d) std::fprintf(stderr, "No X display could be opened (is DISPLAY set?)\n");
  return d;
}

bool create_window(const WindowConfig* c) {
  if (x11.window) return false;  // one window per process; a second would orphan the first
  Display* d = display_for_window();
  if (!d) return false;
  unsigned width = clamp_size(c->outer_width), height = clamp_size(c->outer_height);
  choose_config(d);
  if (!make_named_window(d, c->title ? c->title : "", c->x, c->y, width, height)) return false;
  graphics.window = window_token();
  graphics.device_context = window_token();  // on X the window is the drawable
  map_and_wait(d);
  report_client_size(d);
  return true;
}

bool pixel_format_chosen() { return x11.fb_config != nullptr; }

bool pixel_format_set() {
  if (!x11.display || !x11.window || !x11.fb_config) return false;
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(x11.display, x11.window, &attributes)) return false;
  return XVisualIDFromVisual(attributes.visual) == x11.visual_id;
}

// A context the server accepted without an error, or null.
GLXContext try_context(Bool direct) {
  begin_error_trap();
  GLXContext context = glXCreateNewContext(x11.display, x11.fb_config, GLX_RGBA_TYPE, nullptr, direct);
  bool failed = end_error_trap(x11.display) != 0;
  if (!context || !failed) return context;
  glXDestroyContext(x11.display, context);
  return nullptr;
}

// NOTE: a context made from the frame-buffer configuration without
// attributes is a legacy one: whatever GL version the driver offers, with
// the fixed-function pipeline the frame draws with. Direct rendering first;
// an indirect context is the fallback for servers that refuse it.
bool create_context() {
  if (x11.context) return true;
  if (!x11.display || !x11.window || !x11.fb_config) return false;
  x11.context = try_context(True);
  if (!x11.context) x11.context = try_context(False);
  graphics.render_context = x11.context;
  return x11.context != nullptr;
}

bool make_current() {
  if (!x11.display || !x11.window || !x11.context) return false;
  return glXMakeCurrent(x11.display, x11.window, x11.context) == True;
}

}  // namespace

// --- window and context ---

WindowStep platform_open_window(const WindowConfig* config) {
  if (!register_class(config->class_name)) return kStepRegisterClass;
  if (!create_window(config)) return kStepCreateWindow;
  if (!pixel_format_chosen()) return kStepChoosePixelFormat;
  if (!pixel_format_set()) return kStepSetPixelFormat;
  if (!create_context()) return kStepCreateContext;
  if (!make_current()) return kStepMakeCurrent;
  return kWindowOpened;
}

void platform_release_graphics() {
  if (x11.display) {
    glXMakeCurrent(x11.display, None, nullptr);
    if (x11.context) glXDestroyContext(x11.display, x11.context);
    XFlush(x11.display);
  }
  x11.context = nullptr;
  graphics.render_context = nullptr;
  graphics.device_context = nullptr;
}

// The X window is the client area; the window manager's frame is its own.
void platform_frame_metrics(int* frame_x, int* frame_y, int* caption) {
  if (frame_x) *frame_x = 0;
  if (frame_y) *frame_y = 0;
  if (caption) *caption = 0;
}

void platform_cursor_pos(int* x, int* y) {
  int root_x = 0, root_y = 0, child_x = 0, child_y = 0;
  Display* d = display();
  if (d) {
    Window root, child;
    unsigned state;
    XQueryPointer(d, RootWindow(d, x11.screen), &root, &child, &root_x, &root_y, &child_x, &child_y, &state);
  }
  if (x) *x = root_x;
  if (y) *y = root_y;
}

void platform_virtual_screen(int* x, int* y, int* width, int* height) {
  Display* d = display();
  if (x) *x = 0;
  if (y) *y = 0;
  if (width) *width = d ? DisplayWidth(d, x11.screen) : 0;
  if (height) *height = d ? DisplayHeight(d, x11.screen) : 0;
}

// --- messages and input ---

int platform_dispatch_messages() {
  for (;;) {
    if (take_quit()) return 1;
    if (!x11.display || XPending(x11.display) == 0) return 0;
    XEvent event;
    XNextEvent(x11.display, &event);
    translate_event(&event);
  }
}

void platform_post_quit(int) { x11.quit_pending = true; }

// NOTE: XPending also sends what Xlib holds for the server, so that the
// answers the wait is for can come at all.
void platform_wait_messages(int milliseconds) {
  if (x11.quit_pending || !x11.display || XPending(x11.display) > 0) return;
  pollfd ready = {ConnectionNumber(x11.display), POLLIN, 0};
  poll(&ready, 1, milliseconds);
}

// NOTE: the keys held are those our window's own key events left held, as
// the Windows keyboard state follows the messages its thread took: a key
// typed into another program's window is not ours (the server's keymap,
// XQueryKeymap, would have it held whichever window has the focus).
void platform_keyboard_state(unsigned char keys[256]) {
  if (!keys) return;
  std::memset(keys, 0, 256);
  if (!x11.display) return;
  if (!x11.key_table_built) build_key_table(x11.display);
  for (int code = 0; code < 256; code++) {
    if (!x11.key_down[code]) continue;
    for (unsigned char vk : x11.key_vk[code])
      if (vk) keys[vk] = 0x80;
  }
}

// Iconic when the window manager says so in WM_STATE, or when the window is
// not mapped (a window manager iconifies by unmapping).
bool platform_is_iconic() {
  if (!x11.display || !x11.window) return false;
  return !x11.mapped || wm_state_iconic(x11.display);
}

void platform_minimise() {
  if (!x11.display || !x11.window) return;
  XIconifyWindow(x11.display, x11.window, x11.screen);
  XFlush(x11.display);
}

bool platform_window_viewable() {
  if (!x11.display || !x11.window) return false;
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(x11.display, x11.window, &attributes)) return false;
  return attributes.map_state == IsViewable && !platform_is_iconic();
}

// --- presentation and GL ---

void platform_swap_buffers() {
  if (x11.display && x11.window) glXSwapBuffers(x11.display, x11.window);
}

void* platform_gl_proc_address(const char* name) {
  if (!name) return nullptr;
  return reinterpret_cast<void*>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

// --- message box ---

namespace {

const int kBoxMargin = 16;     // space around the text and the button, pixels
const int kButtonWidth = 80;   // size of the OK button, pixels
const int kButtonHeight = 26;
const int kMaxBoxLines = 64;   // lines shown; a longer message is cut (stderr has it whole)

struct BoxLine {
  const char* text;  // start of the line inside the message
  int length;        // bytes up to the line break, a trailing carriage return left out
};

struct BoxState {
  Display* display;             // the box's own connection, independent of the frame's window
  Window window;                // the box
  GC gc;                        // graphics context for text and button
  XFontStruct* font;            // core font "fixed"; null when none could be loaded
  Atom wm_delete_window;        // request sent by the box's close button
  BoxLine lines[kMaxBoxLines];  // the message split at its line breaks
  int line_count;               // lines in use
  int line_height;              // pixels from one baseline to the next
  int ascent;                   // pixels from the top of a line to its baseline
  int width;                    // size of the box, pixels
  int height;
  int button_x;                 // top-left corner of the OK button
  int button_y;
  bool armed;                   // button 1 went down on OK and has not come up yet
  KeySym key_armed;             // dismissing key pressed in the box and not released yet; 0 for none
};

void split_lines(BoxState* box, const char* text) {
  box->line_count = 0;
  while (box->line_count < kMaxBoxLines) {
    const char* end = std::strchr(text, '\n');
    int length = end ? static_cast<int>(end - text) : static_cast<int>(std::strlen(text));
    if (length > 0 && text[length - 1] == '\r') length--;
    box->lines[box->line_count++] = {text, length};
    if (!end) return;
    text = end + 1;
  }
}

// NOTE: without a font the GC's default server font still draws; its cell
// is guessed as that of "fixed", 6 by 13 pixels.
int text_width(const BoxState* box, const char* text, int length) {
  return box->font ? XTextWidth(box->font, text, length) : 6 * length;
}

void layout_box(BoxState* box) {
  box->ascent = box->font ? box->font->ascent : 10;
  box->line_height = box->font ? box->font->ascent + box->font->descent : 13;
  int widest = 0;
  for (int i = 0; i < box->line_count; i++) {
    int width = text_width(box, box->lines[i].text, box->lines[i].length);
    if (width > widest) widest = width;
  }
  int screen_width = DisplayWidth(box->display, DefaultScreen(box->display));
  box->width = widest + 2 * kBoxMargin;
  if (box->width < 240) box->width = 240;
  if (box->width > screen_width - 40 && screen_width > 280) box->width = screen_width - 40;
  box->button_x = (box->width - kButtonWidth) / 2;
  box->button_y = kBoxMargin + box->line_count * box->line_height + kBoxMargin;
  box->height = box->button_y + kButtonHeight + kBoxMargin;
}

// A fixed-size dialog in the middle of the screen; the names make it
// findable by its caption (WM_NAME and _NET_WM_NAME).
void set_box_properties(BoxState* box, int x, int y, const char* caption) {
  Display* d = box->display;
  set_names(d, box->window, caption, "Veldspan");
  XSizeHints* hints = XAllocSizeHints();
  if (hints) {
    hints->flags = USPosition | PPosition | PMinSize | PMaxSize;
    hints->x = x;
    hints->y = y;
    hints->min_width = hints->max_width = box->width;
    hints->min_height = hints->max_height = box->height;
    XSetWMNormalHints(d, box->window, hints);
    XFree(hints);
  }
  Atom type = XInternAtom(d, "_NET_WM_WINDOW_TYPE", False);
  Atom dialog = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DIALOG", False);
  XChangeProperty(d, box->window, type, XA_ATOM, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&dialog), 1);
  box->wm_delete_window = XInternAtom(d, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(d, box->window, &box->wm_delete_window, 1);
}

void create_box_window(BoxState* box, const char* caption) {
  Display* d = box->display;
  int screen = DefaultScreen(d);
  int x = (DisplayWidth(d, screen) - box->width) / 2, y = (DisplayHeight(d, screen) - box->height) / 2;
  box->window = XCreateSimpleWindow(d, RootWindow(d, screen), x, y, static_cast<unsigned>(box->width),
                                    static_cast<unsigned>(box->height), 1, BlackPixel(d, screen),
                                    WhitePixel(d, screen));
  XSelectInput(d, box->window,
               ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                   StructureNotifyMask);
  set_box_properties(box, x, y, caption);
  box->gc = XCreateGC(d, box->window, 0, nullptr);
  XSetForeground(d, box->gc, BlackPixel(d, screen));
  if (box->font) XSetFont(d, box->gc, box->font->fid);
}

void draw_box(const BoxState* box) {
  Display* d = box->display;
  XClearWindow(d, box->window);
  for (int i = 0; i < box->line_count; i++)
    XDrawString(d, box->window, box->gc, kBoxMargin, kBoxMargin + i * box->line_height + box->ascent,
                box->lines[i].text, box->lines[i].length);
  XDrawRectangle(d, box->window, box->gc, box->button_x, box->button_y, kButtonWidth, kButtonHeight);
  int text_x = box->button_x + (kButtonWidth - text_width(box, "OK", 2)) / 2;
  int text_y = box->button_y + (kButtonHeight - box->line_height) / 2 + box->ascent;
  XDrawString(d, box->window, box->gc, text_x, text_y, "OK", 2);
}

bool over_button(const BoxState* box, int x, int y) {
  return x >= box->button_x && x < box->button_x + kButtonWidth && y >= box->button_y &&
         y < box->button_y + kButtonHeight;
}

bool is_dismissing_key(KeySym sym) {
  return sym == XK_Return || sym == XK_KP_Enter || sym == XK_Escape || sym == XK_space;
}

// NOTE: a key dismisses on its release, and only when its press came to the
// box too. The Return that started the program, still held when the box
// appears, then cannot close it unread; and a client that sends press and
// release does not find the box gone in between.
bool key_ends(BoxState* box, XKeyEvent* e) {
  KeySym sym = XLookupKeysym(e, 0);
  if (e->type == KeyPress) {
    box->key_armed = is_dismissing_key(sym) ? sym : 0;
    return false;
  }
  return box->key_armed && sym == box->key_armed;
}

// Handles one event of the box; true when it dismisses the box.
bool box_event_ends(BoxState* box, XEvent* event) {
  switch (event->type) {
    case Expose:
      if (event->xexpose.count == 0) draw_box(box);
      return false;
    case KeyPress:
    case KeyRelease: return key_ends(box, &event->xkey);
    case ButtonPress:
      box->armed = event->xbutton.button == Button1 && over_button(box, event->xbutton.x, event->xbutton.y);
      return false;
    case ButtonRelease:
      if (event->xbutton.button != Button1) return false;
      return box->armed && over_button(box, event->xbutton.x, event->xbutton.y);
    case ClientMessage:
      return event->xclient.format == 32 && static_cast<Atom>(event->xclient.data.l[0]) == box->wm_delete_window;
    case DestroyNotify:  // someone else closed it
      box->window = 0;
      return true;
    default: return false;
  }
}

// NOTE: the focus is asked for, not demanded: a window manager may refuse
// it (BadMatch while it reparents), and the box still takes Return while
// the pointer is over it.
void show_box(BoxState* box) {
  XMapRaised(box->display, box->window);
  XEvent event;
  if (!wait_for_event(box->display, box->window, MapNotify, &event, 5000)) return;
  begin_error_trap();
  XSetInputFocus(box->display, box->window, RevertToParent, CurrentTime);
  end_error_trap(box->display);
}

void run_box(BoxState* box) {
  for (;;) {
    XEvent event;
    XNextEvent(box->display, &event);
    if (box_event_ends(box, &event)) return;
  }
}

}  // namespace

// NOTE: the text goes to stderr first, whatever follows: without a display
// it is the only trace, and a box on a screen nobody watches must not be
// the only one either.
void platform_message_box(const char* text, const char* caption) {
  if (!text) text = "";
  if (!caption) caption = "";
  std::fprintf(stderr, "%s: %s\n", caption, text);
  std::fflush(stderr);
  BoxState box = {};
  box.display = open_connection();
  if (!box.display) return;
  box.font = XLoadQueryFont(box.display, "fixed");
  split_lines(&box, text);
  layout_box(&box);
  create_box_window(&box, caption);
  show_box(&box);
  run_box(&box);
  if (box.font) XFreeFont(box.display, box.font);
  XFreeGC(box.display, box.gc);
  if (box.window) XDestroyWindow(box.display, box.window);
  XCloseDisplay(box.display);
}

intptr_t platform_default_message(void*, uint32_t, uintptr_t, intptr_t) { return 0; }
