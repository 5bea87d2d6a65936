// The fragment engine: the generated fragment shader draws the square, one
// pixel per grid point coloured by its loss class; the square is read back
// and its colours decoded into levels. In a window the square is drawn
// into the window itself; without one, into a framebuffer object of the
// square's size.
#include "app/engine.h"
#include "app/statistics.h"
#include "gfx/clock.h"
#include "gfx/frame.h"
#include "gfx/gl.h"
#include "gfx/graphics_state.h"
#include "gfx/platform.h"
#include "map/shader_program.h"

namespace {

// Seconds since *since, which moves on to now.
double lap(double* since) {
  double now = PerfClock(), seconds = now - *since;
  *since = now;
  return seconds;
}

void set_jitter(const RunState* run, const double jitter[4]) {
  const char* const names[4] = {"jx", "jxp", "jy", "jyp"};
  for (int k = 0; k < 4; k++) {
    GLint location = shader_api.get_uniform_location(run->program, names[k]);
    shader_api.uniform1f(location, static_cast<float>(jitter[k]));
  }
}

// Texture coordinates 0 to 1 across and down the side x side pixels at the
// top-left, so each pixel's fragment tracks its own grid point.
// NOTE: the square is drawn without the depth test: its pixels are all
// written in every pass whatever the depth buffer holds (it is cleared only
// in passes that present), and testing and writing depth for every pixel
// costs the software GL about 1 ms a square. Nothing else is drawn
// with depth, so the test is left off; setting it off again is free.
void draw_square(int side) {
  glDisable(GL_DEPTH_TEST);
  glColor3f(0, 0, 0.5f);
  draw_square_quad(side);
}

// NOTE: pixels of a minimised, unmapped or too small window are undefined;
// counting them would put garbage into the statistics with no trace.
const char* unreadable_reason(const RunState* run) {
  if (!run->windowed) return nullptr;
  if (!platform_window_viewable()) return "the window is not on the screen";
  if (graphics.width < run->side || graphics.height < run->side) return "the window is smaller than the square";
  return nullptr;
}

// Without a window the square is drawn into a colour renderbuffer of its
// own size, which then stands for the window in every pixel operation.
void use_offscreen_square(int side) {
  if (gl_version() < 3.0f)
    fatal_error("OpenGL 3.0 or higher is needed to draw the fragment engine's square without a window");
  GLuint framebuffer = 0, colour = 0;
  shader_api.gen_renderbuffers(1, &colour);
  shader_api.bind_renderbuffer(GL_RENDERBUFFER, colour);
  shader_api.renderbuffer_storage(GL_RENDERBUFFER, GL_RGBA8, side, side);
  shader_api.gen_framebuffers(1, &framebuffer);
  shader_api.bind_framebuffer(GL_FRAMEBUFFER, framebuffer);
  shader_api.framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
  if (shader_api.check_framebuffer_status(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
    fatal_error("The offscreen square for the fragment engine could not be made");
  set_pixel_projection(side, side);
  glLoadIdentity();
}

}  // namespace

void fragment_prepare(RunState* run, const char* source) {
  run->program = build_shader_program(source, iteration_count(&run->settings));
  if (!run->windowed) use_offscreen_square(run->settings.baseres * run->settings.baseres);
}

const char* fragment_sample(RunState* run, const double jitter[4]) {
  double t = PerfClock();
  shader_api.use_program(run->program);
  set_jitter(run, jitter);
  draw_square(run->side);
  glFinish();
  shader_api.use_program(0);
  run->stage_seconds[kStageTrack] = lap(&t);
  read_window_pixels(0, 0, run->side, run->side, GL_RGB, run->pixels);
  run->stage_seconds[kStageRead] = lap(&t);
  const char* reason = unreadable_reason(run);
  int64_t out_of_range = count_levels(run);
  run->stage_seconds[kStageCount] = lap(&t);
  if (!reason && out_of_range) reason = "pixels hold colours that are no loss class";
  return reason;
}
