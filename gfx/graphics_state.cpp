#include "gfx/graphics_state.h"

// Zero-filled except the mouse hold-off (set until the first mouse message
// with no button held) and the clear colour, whose starting value no 24-bit
// colour equals, so that the first clear always reaches GL.
GraphicsState graphics = {nullptr, nullptr, nullptr, nullptr, 0, 0, {}, {}, 0, 0, 0, 0, 1, {}, 0x01000000u, 0};
