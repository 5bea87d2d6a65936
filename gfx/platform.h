// Everything the operating system gives the frame: window, GL context,
// messages, keyboard, message box, buffer swap, GL entry points, time
// services, the command call and file lengths. One implementation file per
// platform (platform_x11.cpp with time_posix.cpp on Linux), chosen in CMake.
// Native handles never leave the implementation file.
//
// The window opens in one call that names the step that failed (class,
// window, pixel format, setting it, context, making it current), so that
// the frame gives each failure its own message.
#pragma once
#include <cstdio>
#include <cstddef>
#include <cstdint>
#include <string>

// --- window and context ---
// What the frame's window opens with: the class (Win32's window class, the
// WM_CLASS class on X), the title, and the outer rectangle in desktop
// pixels.
struct WindowConfig {
  const char* class_name;
  const char* title;
  int x, y;
  int outer_width, outer_height;
};

// The steps of opening the window, in their order; platform_open_window
// names the one that failed, or kWindowOpened.
enum WindowStep {
  kWindowOpened,
  kStepRegisterClass,
  kStepCreateWindow,
  kStepChoosePixelFormat,
  kStepSetPixelFormat,
  kStepCreateContext,
  kStepMakeCurrent,
};

// Opens and shows the window, with a GL context made current on it. Size
// messages it produces reach window_message_handler. The steps done before
// a failure stay done: platform_release_graphics gives back what they made.
WindowStep platform_open_window(const WindowConfig* config);

// Releases the current context, deletes it and gives back the drawing
// surface; safe when none of them exists.
void platform_release_graphics();

// Frame and caption sizes added around the client area, the cursor
// position, and the virtual desktop's origin and size, in pixels.
void platform_frame_metrics(int* frame_x, int* frame_y, int* caption);
void platform_cursor_pos(int* x, int* y);
void platform_virtual_screen(int* x, int* y, int* width, int* height);

// --- messages and input ---
// Handles every waiting message without blocking, handing the ones the
// frame knows to window_message_handler. Returns 1 when the quit message
// was taken from the queue (the rest stay queued), else 0.
int platform_dispatch_messages();
void platform_post_quit(int exit_code);
// Waits until a message is waiting (or a quit was posted), for at most the
// given time; takes none of them. Returns at once when one waits already.
void platform_wait_messages(int milliseconds);
// Fills 256 key states indexed by virtual-key code, bit 0x80 for held.
void platform_keyboard_state(unsigned char keys[256]);
bool platform_is_iconic();
void platform_minimise();
// Whether the window is shown on the screen: mapped, not minimised.
bool platform_window_viewable();

// --- a GL context without a window ---
// Makes a GL context current with nothing on the screen: over EGL on Linux
// (the EGL device numbered device, or with device -1 the first that works,
// then Mesa's surfaceless platform), a hidden window on Windows. False,
// with the reason in why, when none can be made.
bool platform_open_headless(int device, std::string* why);
// The entry points of that context.
void* platform_headless_proc_address(const char* name);

// --- presentation and GL ---
void platform_swap_buffers();
void* platform_gl_proc_address(const char* name);

// --- reporting ---
// Shows the message with an OK button and the given caption; blocks until
// it is dismissed. Also written to stderr where there is no screen.
void platform_message_box(const char* text, const char* caption);

// --- time ---
// Performance-counter frequency in counts per second; false when there is
// no such counter.
bool platform_perf_frequency(uint64_t* frequency);
uint64_t platform_perf_counter();
uint32_t platform_tick_count();  // milliseconds, wraps after 49.7 days
// The current local date as "yyyy-MMM-dd" (the locale's month abbreviation)
// and time as "HH:mm:ss".
void platform_date_text(char* out, size_t size);
void platform_time_text(char* out, size_t size);

// --- the outside world ---
int platform_run_command(const char* command);
