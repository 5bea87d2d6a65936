#include "gfx/gl_state.h"

#include "gfx/gl.h"

namespace {

// NOTE: the current bit holds the current colour (and texture coordinate);
// the transform bit the matrix mode, not the matrices, which have stacks of
// their own; the texture bit the binding, the environment mode and the
// bound texture's filters.
const GLbitfield kDrawingBits = GL_ENABLE_BIT | GL_CURRENT_BIT | GL_TEXTURE_BIT | GL_COLOR_BUFFER_BIT |
                                GL_TRANSFORM_BIT;

}  // namespace

// The matrix mode is left as it was, so that the drawing after the push
// starts from the state it would have found without it.
void gl_state_push() {
  GLint mode = GL_MODELVIEW;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  glPushAttrib(kDrawingBits);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glMatrixMode(GLenum(mode));
}

// The matrices first: popping the attributes puts back the matrix mode.
void gl_state_pop() {
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glPopAttrib();
}
