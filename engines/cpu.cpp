// The CPU engine: the vectorised tracker on every core, in single or double
// precision. It needs no GL; in a window its class picture is shown as a
// texture.
#include <vector>

#include "engines/cpu_tracker.h"
#include "engines/engine.h"
#include "gfx/clock.h"
#include "gfx/gl.h"
#include "map/colour_code.h"

namespace {

struct CpuEngine {
  CpuMap map;                         // the lowered map as the kernels take it
  int32_t side;                       // the square's side in pixels
  std::vector<int32_t> pixel_levels;  // levels of the last pictured sample
  std::vector<uint32_t> colours;      // RGBA of each level, as the shaders code it
  std::vector<uint32_t> rgba;         // the picture's texels, kept between shown frames (4 MB at baseres 32)
  unsigned texture;                   // the picture's texture; 0 until first shown
  int texture_side;                   // its side in texels
};

bool cpu_prepare(void** state, uint32_t*, const LoweredMap* lowered, const EngineSetup* setup, Problem*) {
  CpuEngine* c = new CpuEngine();
  *state = c;
  cpu_map(lowered, &c->map, setup->precision);
  c->side = lowered->side;
  for (size_t k = 0; k <= lowered->turn_counts.size(); k++)
    c->colours.push_back(class_rgba(int(k), lowered->colour_levels));
  c->pixel_levels.assign(size_t(c->side) * size_t(c->side), 0);
  return true;
}

SampleResult cpu_sample(void* state, const double jitter[4], bool picture, int32_t* levels) {
  CpuEngine* c = static_cast<CpuEngine*>(state);
  SampleResult r{nullptr, {}, 0, 0};
  double start = PerfClock();
  CpuSample s = cpu_track_sample(&c->map, jitter, picture ? c->pixel_levels.data() : nullptr);
  double tracked = PerfClock();
  for (size_t k = 0; k < s.levels.size(); k++) levels[k] = static_cast<int32_t>(s.levels[k]);
  r.particle_turns = s.particle_turns;
  r.edge_survivors = s.edge_survivors;
  r.seconds[kSampleTrack] = tracked - start;
  r.seconds[kSampleCount] = PerfClock() - tracked;
  return r;
}

// NOTE: the texture is made once and then only refilled: making it anew
// for every picture cost the software GL about 1 ms more of the 6 ms that a
// picture of a 1024-pixel square takes it.
void fill_texture(CpuEngine* c, const std::vector<uint32_t>& rgba) {
  GLint bound;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  if (!c->texture) glGenTextures(1, &c->texture);
  glBindTexture(GL_TEXTURE_2D, c->texture);
  if (c->texture_side == c->side) {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, c->side, c->side, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  } else {
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, c->side, c->side, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    c->texture_side = c->side;
  }
  glBindTexture(GL_TEXTURE_2D, GLuint(bound));
}

void cpu_draw_picture(void* state) {
  CpuEngine* c = static_cast<CpuEngine*>(state);
  c->rgba.resize(c->pixel_levels.size());
  for (size_t i = 0; i < c->rgba.size(); i++) c->rgba[i] = c->colours[size_t(c->pixel_levels[i])];
  fill_texture(c, c->rgba);
  draw_square_texture(c->texture, c->side);
}

void cpu_release(void* state) { delete static_cast<CpuEngine*>(state); }

}  // namespace

const EngineTable kCpuEngine = {cpu_prepare, cpu_sample, cpu_draw_picture, cpu_release};
