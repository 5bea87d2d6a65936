// The GL state save for drawing code, on a real context: every item of a
// distinctive state, changed between the push and the pop, comes back.
#include "tests/text/gl_context.h"

#include <map>
#include <string>
#include <vector>

#include "gfx/gl_state.h"

namespace {

class GlState : public GlContext {};

using Items = std::map<std::string, std::vector<float>>;

std::vector<float> floats(GLenum name, int count) {
  std::vector<float> values(16);
  glGetFloatv(name, values.data());
  values.resize(count);
  return values;
}

Items read_items() {
  Items items;
  const std::pair<const char*, GLenum> capabilities[] = {{"depth test", GL_DEPTH_TEST}, {"texture 2D", GL_TEXTURE_2D},
                                                         {"blend", GL_BLEND},           {"lighting", GL_LIGHTING},
                                                         {"cull face", GL_CULL_FACE}};
  for (const auto& c : capabilities) items[c.first] = {float(glIsEnabled(c.second))};
  GLint env_mode = 0;
  glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env_mode);
  items["env mode"] = {float(env_mode)};
  items["colour"] = floats(GL_CURRENT_COLOR, 4);
  items["texture binding"] = floats(GL_TEXTURE_BINDING_2D, 1);
  items["blend function"] = {floats(GL_BLEND_SRC, 1)[0], floats(GL_BLEND_DST, 1)[0]};
  items["matrix mode"] = floats(GL_MATRIX_MODE, 1);
  items["projection"] = floats(GL_PROJECTION_MATRIX, 16);
  items["modelview"] = floats(GL_MODELVIEW_MATRIX, 16);
  // Deeper between push and pop; as deep as before once popped, so that a
  // frame of drawing never creeps towards the stacks' limits.
  items["stack depths"] = {floats(GL_ATTRIB_STACK_DEPTH, 1)[0], floats(GL_PROJECTION_STACK_DEPTH, 1)[0],
                           floats(GL_MODELVIEW_STACK_DEPTH, 1)[0]};
  return items;
}

void set_distinctive_state(GLuint texture) {
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_BLEND);
  glEnable(GL_TEXTURE_2D);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4f(0.25f, 0.5f, 0.75f, 0.5f);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
  glMatrixMode(GL_MODELVIEW);
  glTranslatef(3, 4, 5);
  glMatrixMode(GL_PROJECTION);  // not the mode the program normally leaves
}

// What drawing code does: the opposite of every item above.
void change_everything(GLuint texture) {
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_BLEND);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_LIGHTING);
  glEnable(GL_CULL_FACE);
  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
  glColor3ub(0, 255, 0);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glLoadIdentity();
  glOrtho(0, 100, 100, 0, 1, -1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glScalef(2, 2, 1);
}

}  // namespace

TEST_F(GlState, PopBringsBackEveryItemThatWasChangedAfterThePush) {
  GLuint textures[2];
  glGenTextures(2, textures);
  set_distinctive_state(textures[0]);
  Items before = read_items();
  gl_state_push();
  change_everything(textures[1]);
  Items changed = read_items();
  gl_state_pop();
  Items after = read_items();
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  for (const auto& item : before) {
    EXPECT_NE(changed[item.first], item.second) << item.first << " was not changed: the test proves nothing";
    EXPECT_EQ(after[item.first], item.second) << item.first << " did not come back";
  }
  glDeleteTextures(2, textures);
}
