// The square's class picture for the engines that do not draw it into the
// window themselves.
#include "engines/engine.h"
#include "gfx/gl.h"

namespace {

// The GL state draw_square_texture changes, to be put back afterwards.
struct SavedState {
  GLint texture, env_mode;
  GLboolean texturing, depth, blend, lighting;
  GLfloat colour[4];
};

SavedState save_state() {
  SavedState s;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &s.texture);
  glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &s.env_mode);
  s.texturing = glIsEnabled(GL_TEXTURE_2D);
  s.depth = glIsEnabled(GL_DEPTH_TEST);
  s.blend = glIsEnabled(GL_BLEND);
  s.lighting = glIsEnabled(GL_LIGHTING);
  glGetFloatv(GL_CURRENT_COLOR, s.colour);
  return s;
}

void enable(GLenum capability, GLboolean on) {
  if (on) glEnable(capability);
  else glDisable(capability);
}

void restore_state(const SavedState& s) {
  glBindTexture(GL_TEXTURE_2D, GLuint(s.texture));
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, s.env_mode);
  enable(GL_TEXTURE_2D, s.texturing);
  enable(GL_DEPTH_TEST, s.depth);
  enable(GL_BLEND, s.blend);
  enable(GL_LIGHTING, s.lighting);
  glColor4fv(s.colour);
}

}  // namespace

// Texel (0, 0) is the top-left pixel, as the fragment shader's texture
// coordinates run; each texel covers one pixel, unfiltered.
void draw_square_texture(unsigned texture, int side) {
  SavedState saved = save_state();
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
  restore_state(saved);
}

void draw_square_quad(int side) {
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0); glVertex2i(0, 0);
  glTexCoord2f(1, 0); glVertex2i(side, 0);
  glTexCoord2f(1, 1); glVertex2i(side, side);
  glTexCoord2f(0, 1); glVertex2i(0, side);
  glEnd();
}
