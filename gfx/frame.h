// The frame around GL drawing: window and context, projection and
// presentation, message pump, screenshots, errors and shutdown.
#pragma once
#include <cstdint>
#include <string>

#include "gfx/platform.h"

// Opens the window with a current GL context and the initial GL state;
// every failure ends the process through fatal_error.
int open_graphics(int width, int height, const char* title);
void init_gl_state(int width, int height);
// The message that a failure at the step ends the run with; null for
// kWindowOpened.
const char* window_step_message(WindowStep step);
// Makes a GL context current with no window (graphics.headless is set
// whether or not one could be made: nothing is to be shown either way);
// false, with the reason in why, when none can be made.
bool open_headless(int device, std::string* why);
// An entry point of the current context, headless or not.
void* gl_proc_address(const char* name);

// Where a window of the given outer size opens for a cursor and desktop.
struct WindowPlacement {
  int cursor_x, cursor_y;                     // cursor position
  int desk_x, desk_y, desk_width, desk_height;  // virtual desktop
  int width, height;                          // the window's outer size
};
void place_window(const WindowPlacement* p, int* x, int* y);

// Window pixels: origin top-left, y down, one unit per pixel.
void set_pixel_projection(int width, int height);
void end_frame(uint32_t colour);

int pump_messages();
// Sleeps until a message comes or the time passes (see
// platform_wait_messages); the messages are left to pump_messages.
void wait_for_messages(int milliseconds);
// Why the window cannot show a square of the given side at its top left
// now (not on the screen, or smaller than the square), or null when it
// can: the square's pixels are then undefined.
const char* square_hidden_reason(int side);

// Reads the window rectangle with top-left (x, y), y from the top, as bytes
// of the given GL format, bottom row first, rows tightly packed.
void read_window_pixels(int x, int y, int width, int height, unsigned format, unsigned char* pixels);

void take_screenshot();
void save_screen_bmp(int x, int y, int width, int height, const char* name);
// Writes bottom-up rows of blue, green, red bytes (tightly packed) as a
// 24-bit BMP; false when the file cannot be created or written.
bool write_bmp_file(const char* name, int width, int height, const unsigned char* bgr);
// Screenshot name for a tick count: "screenshot%05d.bmp" of its 0.3 s slot.
std::string screenshot_name(uint32_t ticks);
// Row size of a 24-bit BMP row, padded to four bytes, and the 54-byte
// little-endian header of a bottom-up picture.
int32_t bmp_row_size(int32_t width);
void bmp_header(int32_t width, int32_t height, unsigned char header[54]);

void log_error(const char* message);
// Logs, shows the message box and ends the process with status 1; detail,
// when given, goes to the log after the message line.
[[noreturn]] void fatal_error(const char* message);
[[noreturn]] void fatal_error_detail(const char* message, const char* detail);
// Gives back the context and ends the process with the status.
[[noreturn]] void close_graphics_and_exit(int status);
