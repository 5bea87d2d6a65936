// The platform layer on Windows, over the Win32 user interface, GDI and
// WGL: the one window with its GL context, the message pump, the keyboard
// read as one array, the message box and the buffer swap. Time services and
// the command call live in time_win32.cpp.
//
// Native handles stay in this file. The frame's record only gets opaque
// tokens in its instance, window, device_context and render_context fields.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "gfx/graphics_state.h"
#include "gfx/messages.h"
#include "gfx/platform.h"

namespace {

struct Win32State {
  HWND window;          // the frame's window; null before creation
  HDC device_context;   // its own device context (CS_OWNDC), taken once after creation
  HGLRC context;        // the GL context; null until created and after release
  int pixel_format;     // index ChoosePixelFormat gave; 0 before the choice or when it failed
  bool box_showing;     // a message box is up: the run is ending with a fatal error
};

Win32State win = {};

// NOTE: a constant request, given to ChoosePixelFormat and again to
// SetPixelFormat: double-buffered RGBA drawn by GL into a window, 24 colour
// bits, a 32-bit depth buffer; zero everywhere else means "no preference".
// The driver picks the closest format it has (often 24 depth bits).
const PIXELFORMATDESCRIPTOR kPixelFormat = {
    sizeof(PIXELFORMATDESCRIPTOR),                               // nSize
    1,                                                           // nVersion
    PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER,  // dwFlags
    PFD_TYPE_RGBA,                                               // iPixelType
    24,                                                          // cColorBits
    0, 0, 0, 0, 0, 0,                                            // red, green, blue bits and shifts
    0, 0,                                                        // alpha bits and shift
    0, 0, 0, 0, 0,                                               // accumulation bits
    32,                                                          // cDepthBits
    0,                                                           // cStencilBits
    0,                                                           // cAuxBuffers
    PFD_MAIN_PLANE,                                              // iLayerType
    0, 0, 0, 0,                                                  // reserved, layer, visible, damage masks
};
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40, "the pixel format request is 40 bytes");
static_assert((PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER) == 0x25, "flags 0x25");

// NOTE: a plain overlapped window: system menu, sizing border, minimise and
// maximise boxes (0x000F0000); the system adds the caption to every
// top-level overlapped window. Visible from creation on, and GL's pixels
// are kept out of siblings and children (0x16000000).
const DWORD kWindowStyle = WS_OVERLAPPED | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX |
                           WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
static_assert(kWindowStyle == (0x000F0000 | 0x16000000), "window style 0x160F0000");

// The error icon, the OK button, and the box raised over other programs.
const UINT kBoxStyle = MB_OK | MB_ICONERROR | MB_SETFOREGROUND;
static_assert(kBoxStyle == 0x10010, "message box style 0x10010");

// NOTE: the window procedure hands everything to the frame's handler, with
// one exception: while the fatal-error box is up, its modal loop still
// dispatches our window's messages, and a close there would post the quit
// message, which ends the box's loop before anyone read it; the process
// would then end as a finished run. The run is ending with status 1 anyway;
// the close is swallowed so that it cannot turn the failure into a success.
LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (win.box_showing && message == WM_CLOSE) return 0;
  return window_message_handler(window, message, wparam, lparam);
}

HINSTANCE instance() { return static_cast<HINSTANCE>(graphics.instance); }

// NOTE: some drivers return small numbers or -1 instead of null for a name
// they do not know; any of them would be called as a function pointer.
bool is_missing_proc(PROC proc) {
  intptr_t value = reinterpret_cast<intptr_t>(proc);
  return value == 0 || value == 1 || value == 2 || value == 3 || value == -1;
}

// Whether this process has somewhere to write stderr: a console, a pipe or
// a file given by whoever started it. A GUI program started from Explorer
// has none.
bool has_stderr() {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// --- window and context steps ---

// No icon, no erase brush (GL paints the whole client area), no menu; the
// own device context (CS_OWNDC) keeps the pixel format for the window's life.
bool register_class(const char* class_name) {
  WNDCLASSA window_class = {};
  window_class.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance();
  window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  window_class.lpszClassName = class_name;
  return RegisterClassA(&window_class) != 0;
}

// The WM_SIZE sent during creation reaches the frame before any context
// exists; its GL calls then do nothing, and the size it stores is the real
// client size.
bool create_window(const WindowConfig* c) {
  win.window = CreateWindowExA(0, c->class_name, c->title ? c->title : "", kWindowStyle, c->x, c->y,
                               c->outer_width, c->outer_height, nullptr, nullptr, instance(), nullptr);
  if (!win.window) return false;
  win.device_context = GetDC(win.window);
  graphics.window = win.window;
  graphics.device_context = win.device_context;
  return true;
}

bool choose_pixel_format() {
  if (!win.device_context) return false;
  win.pixel_format = ChoosePixelFormat(win.device_context, &kPixelFormat);
  return win.pixel_format != 0;
}

bool set_pixel_format() {
  if (!win.device_context || !win.pixel_format) return false;
  return SetPixelFormat(win.device_context, win.pixel_format, &kPixelFormat) != FALSE;
}

bool create_context() {
  if (!win.device_context) return false;
  win.context = wglCreateContext(win.device_context);
  graphics.render_context = win.context;
  return win.context != nullptr;
}

bool make_current() {
  if (!win.device_context || !win.context) return false;
  return wglMakeCurrent(win.device_context, win.context) != FALSE;
}

// The GL steps on the window's device context, shared by the shown window
// and the hidden one: the step that failed, or kWindowOpened.
WindowStep make_gl_context() {
  if (!choose_pixel_format()) return kStepChoosePixelFormat;
  if (!set_pixel_format()) return kStepSetPixelFormat;
  if (!create_context()) return kStepCreateContext;
  if (!make_current()) return kStepMakeCurrent;
  return kWindowOpened;
}

}  // namespace

// --- window and context ---

WindowStep platform_open_window(const WindowConfig* config) {
  if (!register_class(config->class_name)) return kStepRegisterClass;
  if (!create_window(config)) return kStepCreateWindow;
  return make_gl_context();
}

// NOTE: Windows makes a GL context only for a window's device context; a
// run without a window gets one that is never shown. Its class is the
// frame's own, so that its messages take the same road.
bool platform_open_headless(int, std::string* why) {
  const char* class_name = "OpenGL WinClass";
  register_class(class_name);
  win.window = CreateWindowExA(0, class_name, "", kWindowStyle & ~WS_VISIBLE, 0, 0, 64, 64, nullptr, nullptr,
                               instance(), nullptr);
  if (!win.window) {
    *why = "the hidden window for the GL context could not be made";
    return false;
  }
  win.device_context = GetDC(win.window);
  if (make_gl_context() == kWindowOpened) return true;
  *why = "no GL context could be made for a hidden window";
  return false;
}

void* platform_headless_proc_address(const char* name) { return platform_gl_proc_address(name); }

// Each step only for what exists, so that a fatal error before the window
// or the context came to be passes through here harmlessly.
void platform_release_graphics() {
  if (win.device_context) wglMakeCurrent(win.device_context, nullptr);
  if (win.context) wglDeleteContext(win.context);
  if (win.window && win.device_context) ReleaseDC(win.window, win.device_context);
  win.context = nullptr;
  win.device_context = nullptr;
  graphics.render_context = nullptr;
  graphics.device_context = nullptr;
}

void platform_frame_metrics(int* frame_x, int* frame_y, int* caption) {
  if (frame_x) *frame_x = GetSystemMetrics(SM_CXFRAME);
  if (frame_y) *frame_y = GetSystemMetrics(SM_CYFRAME);
  if (caption) *caption = GetSystemMetrics(SM_CYCAPTION);
}

void platform_cursor_pos(int* x, int* y) {
  POINT point = {0, 0};
  GetCursorPos(&point);
  if (x) *x = point.x;
  if (y) *y = point.y;
}

void platform_virtual_screen(int* x, int* y, int* width, int* height) {
  if (x) *x = GetSystemMetrics(SM_XVIRTUALSCREEN);
  if (y) *y = GetSystemMetrics(SM_YVIRTUALSCREEN);
  if (width) *width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
  if (height) *height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
}

// --- messages and input ---

// NOTE: GetMessageA is called only after PeekMessageA showed a message
// waiting, so the pump never blocks. GetMessageA returns 0 for WM_QUIT and
// -1 for an error, which cannot happen for "any window of this thread"; the
// error is taken as an empty queue rather than as a message.
int platform_dispatch_messages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) return 1;
    if (got < 0) return 0;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

void platform_post_quit(int exit_code) { PostQuitMessage(exit_code); }

// NOTE: without MWMO_INPUTAVAILABLE the wait ends only for input that came
// after the last look at the queue, not for input already waiting there.
void platform_wait_messages(int milliseconds) {
  MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(milliseconds), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

// NOTE: GetKeyboardState gives the keys as the messages taken so far left
// them, which is why the frame reads it right after the pump.
void platform_keyboard_state(unsigned char keys[256]) {
  if (keys && !GetKeyboardState(keys)) ZeroMemory(keys, 256);
}

bool platform_is_iconic() { return win.window && IsIconic(win.window); }

// CloseWindow minimises; it does not destroy.
void platform_minimise() {
  if (win.window) CloseWindow(win.window);
}

bool platform_window_viewable() { return win.window && IsWindowVisible(win.window) && !IsIconic(win.window); }

// --- presentation and GL ---

void platform_swap_buffers() {
  if (win.device_context) SwapBuffers(win.device_context);
}

void* platform_gl_proc_address(const char* name) {
  if (!name) return nullptr;
  PROC proc = wglGetProcAddress(name);
  return is_missing_proc(proc) ? nullptr : reinterpret_cast<void*>(proc);
}

// --- reporting ---

// NOTE: no owner window, so the box shows even when ours is not there (a
// failure before or during its creation).
void platform_message_box(const char* text, const char* caption) {
  if (!text) text = "";
  if (!caption) caption = "";
  if (has_stderr()) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
  }
  win.box_showing = true;
  MessageBoxA(nullptr, text, caption, kBoxStyle);
  win.box_showing = false;
}

intptr_t platform_default_message(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return DefWindowProcA(static_cast<HWND>(window), message, wparam, lparam);
}
