// The frame's pure logic: window placement and failure messages, BMP
// files, screenshot names and the window procedure's bookkeeping.
#include <gtest/gtest.h>

#include <cstring>

#include "gfx/frame.h"
#include "gfx/graphics_state.h"
#include "gfx/messages.h"
#include "test_dir.h"

namespace {

int placed_x(int cursor_x, int width, int desk_width) {
  WindowPlacement p{cursor_x, 500, 0, 0, desk_width, 1200, width, 400};
  int x, y;
  place_window(&p, &x, &y);
  return x;
}

}  // namespace

TEST(Frame, WindowOpensCentredOnTheCursorAndOnTheDesktop) {
  EXPECT_EQ(placed_x(800, 400, 1600), 600);
  EXPECT_EQ(placed_x(1599, 400, 1600), 1200);  // right edge on the desktop's right edge
  EXPECT_EQ(placed_x(10, 400, 1600), 0);
  EXPECT_EQ(placed_x(800, 2000, 1600), 0);  // larger than the desktop: left edge wins
  WindowPlacement offset{-500, -500, -1280, -100, 2560, 1200, 300, 301};
  int x, y;
  place_window(&offset, &x, &y);
  EXPECT_EQ(x, -650);
  EXPECT_EQ(y, -100);
}

// Each failing step of opening the window ends the run with its own message.
TEST(Frame, EveryWindowStepFailsWithItsOwnMessage) {
  EXPECT_EQ(nullptr, window_step_message(kWindowOpened));
  const char* const messages[] = {"Failed To Register The Window Class.", "Window Creation Error.",
                                  "Can't Find A Suitable PixelFormat.",   "Can't Set The PixelFormat.",
                                  "Can't Create A GL Rendering Context.", "Can't activate GLRC."};
  const WindowStep steps[] = {kStepRegisterClass,  kStepCreateWindow,  kStepChoosePixelFormat,
                              kStepSetPixelFormat, kStepCreateContext, kStepMakeCurrent};
  for (int i = 0; i < 6; i++) EXPECT_STREQ(messages[i], window_step_message(steps[i]));
}

TEST(Frame, BmpHeaderAndRowPadding) {
  EXPECT_EQ(bmp_row_size(1280), 3840);
  EXPECT_EQ(bmp_row_size(1001), 3004);
  EXPECT_EQ(bmp_row_size(1002), 3008);
  unsigned char h[54];
  bmp_header(1280, 1024, h);
  auto u32 = [&](int at) { return uint32_t(h[at]) | h[at + 1] << 8 | h[at + 2] << 16 | uint32_t(h[at + 3]) << 24; };
  EXPECT_EQ(h[0], 'B');
  EXPECT_EQ(h[1], 'M');
  EXPECT_EQ(u32(2), 3932214u);
  EXPECT_EQ(u32(10), 54u);
  EXPECT_EQ(u32(14), 40u);
  EXPECT_EQ(u32(18), 1280u);
  EXPECT_EQ(u32(22), 1024u);
  EXPECT_EQ(h[26] | h[27] << 8, 1);
  EXPECT_EQ(h[28] | h[29] << 8, 24);
  EXPECT_EQ(u32(34), 3840u * 1024u);
  EXPECT_EQ(u32(38), 2834u);
  EXPECT_EQ(u32(42), 2834u);
}

TEST(Frame, BmpOfARedFOnBlueKeepsOrientationAndChannels) {
  // A 5 x 7 "F": flips and red/blue swaps all change what the file holds.
  const char* rows[7] = {"XXXX.", "X....", "X....", "XXX..", "X....", "X....", "X...."};
  const int w = 5, h = 7;
  unsigned char bgr[w * h * 3];
  for (int y = 0; y < h; y++)      // bottom-up, as GL hands rows over
    for (int x = 0; x < w; x++) {
      bool ink = rows[h - 1 - y][x] == 'X';
      unsigned char* p = bgr + (y * w + x) * 3;
      p[0] = ink ? 0 : 255, p[1] = 0, p[2] = ink ? 255 : 0;
    }
  TestDir dir;
  ASSERT_TRUE(write_bmp_file("f.bmp", w, h, bgr));
  std::string file = read_file("f.bmp");
  ASSERT_EQ(file.size(), 54u + 16u * 7u);
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const unsigned char* p = reinterpret_cast<const unsigned char*>(file.data()) + 54 + (h - 1 - y) * 16 + x * 3;
      bool ink = rows[y][x] == 'X';
      EXPECT_EQ(p[2], ink ? 255 : 0) << x << "," << y;  // red last in the file
      EXPECT_EQ(p[0], ink ? 0 : 255) << x << "," << y;
    }
  EXPECT_EQ(file[54 + 15], 0);  // row fill
  EXPECT_FALSE(write_bmp_file("no-such-dir/f.bmp", w, h, bgr));
}

TEST(Frame, ScreenshotNamesCountTenthsOfThreeSeconds) {
  EXPECT_EQ(screenshot_name(0), "screenshot00000.bmp");
  EXPECT_EQ(screenshot_name(1413300), "screenshot04711.bmp");
  EXPECT_EQ(screenshot_name(299), screenshot_name(0));
  EXPECT_EQ(screenshot_name(30000000u), "screenshot00000.bmp");  // wraps every 30000 s
  EXPECT_EQ(screenshot_name(4294967295u), "screenshot16557.bmp");
}

TEST(Frame, MouseHoldOffWheelAndTypedText) {
  graphics.mouse_hold_off = 1;
  graphics.mouse_buttons = 0;
  window_message_handler(nullptr, WM_LBUTTONDOWN, MK_LBUTTON, (20 << 16) | 10);
  EXPECT_EQ(graphics.mouse_x, 10);
  EXPECT_EQ(graphics.mouse_y, 20);
  EXPECT_EQ(graphics.mouse_buttons, 0u);  // already held when first seen
  window_message_handler(nullptr, WM_MOUSEMOVE, 0, 0);
  window_message_handler(nullptr, WM_RBUTTONDOWN, MK_RBUTTON | MK_SHIFT, 0);
  EXPECT_EQ(graphics.mouse_buttons, 0x02u);
  window_message_handler(nullptr, WM_MOUSEWHEEL, uintptr_t(uint32_t(-120) << 16), 0);
  EXPECT_EQ(graphics.mouse_buttons, 0x0Au);
  window_message_handler(nullptr, WM_MOUSEWHEEL, uintptr_t(120u << 16), 0);
  EXPECT_EQ(graphics.mouse_buttons & 0x04u, 0x04u);
  window_message_handler(nullptr, WM_MOUSEMOVE, MK_RBUTTON, 0);
  EXPECT_EQ(graphics.mouse_buttons, 0x02u);  // a move clears the wheel bits
  std::memset(graphics.typed_text, 0, sizeof graphics.typed_text);
  for (int i = 0; i < 600; i++) window_message_handler(nullptr, WM_CHAR, 'a' + i % 26, 0);
  EXPECT_EQ(std::strlen(graphics.typed_text), 499u);
  EXPECT_EQ(graphics.typed_text[498], 'a' + 498 % 26);
}
