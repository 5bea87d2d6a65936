// The CPU engine: the vectorised tracker on every core. It needs no GL;
// in a window its class picture is shown as a texture.
#include <cstdlib>
#include <vector>

#include "app/cpu_tracker.h"
#include "app/engine.h"
#include "gfx/clock.h"
#include "gfx/gl.h"
#include "map/shader_source.h"

namespace {

struct CpuEngine {
  CpuMap map;                         // the job as the tracker needs it
  std::vector<int32_t> pixel_levels;  // levels of the last pictured sample
  std::vector<uint32_t> colours;      // RGBA of each level, as the shader codes it
  unsigned texture;                   // the picture's texture; 0 until first shown
  int texture_side;                   // its side in texels
};

CpuEngine cpu;

// Level k shows in the colour of loss class k, black for level 0.
std::vector<uint32_t> level_colours(const JobSettings* s) {
  std::vector<uint32_t> colours(size_t(iteration_count(s)) + 1);
  for (size_t k = 0; k < colours.size(); k++) {
    double rgb[3];
    class_colour(int(k), s->colourlevels, rgb);
    uint32_t c = 0xFF000000u;
    for (int channel = 0; channel < 3; channel++) c |= uint32_t(rgb[channel] * 255 + 0.5) << (8 * channel);
    colours[k] = c;
  }
  return colours;
}

}  // namespace

void cpu_prepare(RunState* run) {
  cpu.map = cpu_map(&run->settings);
  cpu.colours = level_colours(&run->settings);
  cpu.pixel_levels.assign(size_t(run->settings.baseres) * run->settings.baseres * run->settings.baseres *
                              run->settings.baseres, 0);
  run->particle_turns = 0;
}

const char* cpu_sample(RunState* run, const double jitter[4], bool picture) {
  double start = PerfClock();
  CpuSample s = cpu_track_sample(&cpu.map, jitter, picture ? cpu.pixel_levels.data() : nullptr);
  double tracked = PerfClock();
  for (size_t k = 0; k < s.levels.size(); k++) run->histogram[k] = static_cast<int32_t>(s.levels[k]);
  run->particle_turns += s.particle_turns;
  run->stage_seconds[kStageTrack] = tracked - start;
  run->stage_seconds[kStageRead] = 0;
  run->stage_seconds[kStageCount] = PerfClock() - tracked;
  return nullptr;
}

void cpu_draw_picture(RunState* run) {
  std::vector<uint32_t> rgba(cpu.pixel_levels.size());
  for (size_t i = 0; i < rgba.size(); i++) rgba[i] = cpu.colours[size_t(cpu.pixel_levels[i])];
  GLint bound;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  // NOTE: the texture is made once and then only refilled: making it anew
  // for every picture cost the software GL about 1 ms more of the 6 ms
  // that a picture of a 1024-pixel square takes it.
  if (!cpu.texture) glGenTextures(1, &cpu.texture);
  glBindTexture(GL_TEXTURE_2D, cpu.texture);
  if (cpu.texture_side == run->side) {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, run->side, run->side, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  } else {
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, run->side, run->side, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    cpu.texture_side = run->side;
  }
  glBindTexture(GL_TEXTURE_2D, GLuint(bound));
  draw_square_texture(cpu.texture, run->side);
}
