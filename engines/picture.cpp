// The square's class picture for the engines that do not draw it into the
// window themselves.
#include "engines/engine.h"
#include "gfx/gl.h"
#include "gfx/gl_state.h"

// Texel (0, 0) is the top-left pixel, as the fragment shader's texture
// coordinates run; each texel covers one pixel, unfiltered.
void draw_square_texture(unsigned texture, int side) {
  gl_state_push();
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  glEnable(GL_TEXTURE_2D);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_BLEND);
  glDisable(GL_LIGHTING);
  glColor4f(1, 1, 1, 1);
  draw_square_quad(side);
  gl_state_pop();
}

void draw_square_quad(int side) {
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0); glVertex2i(0, 0);
  glTexCoord2f(1, 0); glVertex2i(side, 0);
  glTexCoord2f(1, 1); glVertex2i(side, side);
  glTexCoord2f(0, 1); glVertex2i(0, side);
  glEnd();
}
