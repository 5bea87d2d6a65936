// The frame's one process-wide record: window and context handles, client
// size, keyboard and mouse state, and the last clear colour.
#pragma once
#include <cstdint>

struct GraphicsState {
  void* instance;                // program instance handle (Win32); null on X11
  void* window;                  // the window; opaque outside the platform file
  void* device_context;          // its drawing surface; opaque likewise
  void* render_context;          // the GL context; opaque likewise
  int32_t width;                 // client width in pixels
  int32_t height;                // client height in pixels, never below 1 after a resize
  unsigned char keys[384];       // key states by virtual-key code, 0x80 held; 256.. stay 0
  unsigned char keys_previous[384];  // keys as they were before the last refresh
  unsigned char minimise_pending;    // Alt and Tab seen held; minimise at every pump
  int32_t mouse_x;               // last mouse position in client pixels
  int32_t mouse_y;
  uint32_t mouse_buttons;        // 0x01 left, 0x02 right, 0x10 middle; 0x04/0x08 wheel this pump
  int32_t mouse_hold_off;        // 1 until the first mouse message with no button held
  char typed_text[500];          // typed characters, NUL-terminated, at most 499
  uint32_t clear_colour;         // last clear colour given to GL, 0xRRGGBB; starts 0x01000000
  unsigned char headless;        // a run without a window: no message box, no presentation
};

extern GraphicsState graphics;

inline bool key_held(const unsigned char* keys, int code) { return (keys[code] & 0x80) != 0; }
inline bool key_newly_pressed(int code) {
  return key_held(graphics.keys, code) && !key_held(graphics.keys_previous, code);
}
