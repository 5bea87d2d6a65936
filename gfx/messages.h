// The window messages, mouse-button bits and virtual-key codes the frame
// understands, with the Win32 values. The X11 layer makes these messages
// from X events; on Win32 they come from the system's own headers.
#pragma once
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
enum : uint32_t {
  WM_DESTROY = 0x0002,
  WM_SIZE = 0x0005,
  WM_CLOSE = 0x0010,
  WM_QUIT = 0x0012,
  WM_CHAR = 0x0102,
  WM_MOUSEMOVE = 0x0200,
  WM_LBUTTONDOWN = 0x0201,
  WM_LBUTTONUP = 0x0202,
  WM_RBUTTONDOWN = 0x0204,
  WM_RBUTTONUP = 0x0205,
  WM_MBUTTONDOWN = 0x0207,
  WM_MBUTTONUP = 0x0208,
  WM_MOUSEWHEEL = 0x020A,
};
enum : uint32_t { MK_LBUTTON = 0x01, MK_RBUTTON = 0x02, MK_SHIFT = 0x04, MK_CONTROL = 0x08, MK_MBUTTON = 0x10 };
enum : int {
  VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_MENU = 0x12,
  VK_PAUSE = 0x13, VK_CAPITAL = 0x14, VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22,
  VK_END = 0x23, VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28,
  VK_INSERT = 0x2D, VK_DELETE = 0x2E, VK_F1 = 0x70, VK_LSHIFT = 0xA0, VK_RSHIFT = 0xA1, VK_LCONTROL = 0xA2,
  VK_RCONTROL = 0xA3, VK_LMENU = 0xA4, VK_RMENU = 0xA5,
};
#endif

// The window procedure of the frame's window: takes a message with its two
// parameters as Win32 packs them (WM_SIZE: width in the low word of lparam,
// height in the high word; mouse messages: MK_ bits in wparam, x and y in
// the low and high words of lparam; WM_MOUSEWHEEL: signed delta in the high
// word of wparam; WM_CHAR: the character in wparam). Returns 0 for what it
// handles and platform_default_message for the rest.
intptr_t window_message_handler(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// The platform's default handling of a message the frame does not handle.
intptr_t platform_default_message(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam);
