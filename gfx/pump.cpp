#include <cstring>

#include "gfx/frame.h"
#include "gfx/graphics_state.h"
#include "gfx/messages.h"
#include "gfx/platform.h"

namespace {

void mouse_message(intptr_t lparam, uintptr_t wparam) {
  graphics.mouse_x = static_cast<int32_t>(lparam & 0xFFFF);
  graphics.mouse_y = static_cast<int32_t>((lparam >> 16) & 0xFFFF);
  uint32_t held = static_cast<uint32_t>(wparam) & 0x13;
  if (held == 0) graphics.mouse_hold_off = 0;
  if (!graphics.mouse_hold_off) graphics.mouse_buttons = held;
}

void typed_character(uintptr_t wparam) {
  size_t n = std::strlen(graphics.typed_text);
  if (n >= 499) return;
  graphics.typed_text[n] = static_cast<char>(wparam & 0xFF);
  graphics.typed_text[n + 1] = 0;
}

}  // namespace

intptr_t window_message_handler(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    // NOTE: a closed window ends the run as Q does, through the quit message
    // and the end of the loop, not by ending the process from in here: the
    // run may still hold results that must reach the file, or be reported.
    case WM_CLOSE:
    case WM_DESTROY:
      platform_post_quit(0);
      return 0;
    case WM_SIZE:
      set_pixel_projection(static_cast<int>(lparam & 0xFFFF), static_cast<int>((lparam >> 16) & 0xFFFF));
      return 0;
    case WM_CHAR:
      typed_character(wparam);
      return 0;
    case WM_MOUSEMOVE: case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_RBUTTONDOWN:
    case WM_RBUTTONUP: case WM_MBUTTONDOWN: case WM_MBUTTONUP:
      mouse_message(lparam, wparam);
      return 0;
    case WM_MOUSEWHEEL:
      graphics.mouse_buttons |= static_cast<int32_t>(wparam) > 0 ? 0x04u : 0x08u;
      return 0;
    default:
      return platform_default_message(window, message, wparam, lparam);
  }
}

void wait_for_messages(int milliseconds) { platform_wait_messages(milliseconds); }

int pump_messages() {
  graphics.mouse_buttons &= ~0x0Cu;
  if (platform_dispatch_messages()) return 1;
  if (platform_is_iconic()) {
    graphics.minimise_pending = 0;
    return 0;
  }
  std::memcpy(graphics.keys_previous, graphics.keys, sizeof graphics.keys);
  platform_keyboard_state(graphics.keys);
  if (key_held(graphics.keys, VK_MENU) && key_held(graphics.keys, VK_TAB)) graphics.minimise_pending = 1;
  if (graphics.minimise_pending) platform_minimise();
  return 0;
}
