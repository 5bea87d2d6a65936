#include "gfx/graphics_state.h"

// Zero-filled but for the mouse hold-off and a clear colour that no 24-bit
// colour equals, so the first frame always hands its colour to GL.
GraphicsState graphics = {nullptr, nullptr, nullptr, nullptr, 0, 0, {0}, {0}, 0, 0, 0, 0, 1, {0}, 0x01000000u};
