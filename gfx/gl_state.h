// One save and restore of the GL state for every piece of code that draws,
// so that drawing one thing never changes how the next is drawn.
#pragma once

// Saves the enable bits (depth test, texturing, blending, lighting, ...),
// the current colour, the texture binding and environment, the colour
// buffer state (blend function among it), the matrix mode, and the
// projection and modelview matrices. Calls pair up; they do not nest, as
// GL promises room for only one saved projection matrix.
void gl_state_push();
// Puts back what the matching gl_state_push saved.
void gl_state_pop();
