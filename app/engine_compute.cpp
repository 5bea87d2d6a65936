// The compute engine: a GLSL 4.30 compute shader generated from the job's
// elements, one invocation per grid point, the classes counted on the GPU.
// Only the n + 3 counters come back; the class picture is written to a
// texture only for a pass whose frame is shown.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/engine.h"
#include "gfx/clock.h"
#include "gfx/frame.h"
#include "gfx/gl.h"
#include "map/shader_program.h"
#include "map/shader_source.h"

namespace {

struct ComputeEngine {
  GLuint program;
  GLuint counts;                   // levels 0 .. n, then the turns' low and high words
  GLuint texture;                  // the class picture, side x side RGBA8
  GLint jitter_at[4], picture_at;  // uniform locations
  GLuint groups;                   // work groups along each side of the square
  bool count_turns;                // the shader counts the turns made
  std::vector<uint32_t> read;      // the counters as read back
};

ComputeEngine compute;

GLuint make_counts_buffer(size_t words) {
  GLuint buffer = 0;
  shader_api.gen_buffers(1, &buffer);
  shader_api.bind_buffer(GL_SHADER_STORAGE_BUFFER, buffer);
  shader_api.buffer_data(GL_SHADER_STORAGE_BUFFER, GLsizeiptr(words * 4), nullptr, GL_DYNAMIC_READ);
  shader_api.bind_buffer(GL_SHADER_STORAGE_BUFFER, 0);
  return buffer;
}

GLuint make_picture_texture(int side) {
  GLint bound = 0;
  GLuint texture = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  shader_api.tex_storage_2d(GL_TEXTURE_2D, 1, GL_RGBA8, side, side);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glBindTexture(GL_TEXTURE_2D, GLuint(bound));
  return texture;
}

void write_source(const char* source) {
  if (!write_whole_file("computeshader.txt", "wt", source))
    std::fprintf(stderr, "computeshader.txt could not be written; the run goes on without it\n");
}

void find_uniforms() {
  const char* const names[4] = {"jx", "jxp", "jy", "jyp"};
  for (int k = 0; k < 4; k++) compute.jitter_at[k] = shader_api.get_uniform_location(compute.program, names[k]);
  compute.picture_at = shader_api.get_uniform_location(compute.program, "picture");
}

// The read-back buffer is zeroed and stands for the counters' start.
void clear_counts() {
  std::fill(compute.read.begin(), compute.read.end(), 0u);
  shader_api.bind_buffer(GL_SHADER_STORAGE_BUFFER, compute.counts);
  shader_api.buffer_sub_data(GL_SHADER_STORAGE_BUFFER, 0, GLsizeiptr(compute.read.size() * 4), compute.read.data());
}

void dispatch(const double jitter[4], bool picture) {
  shader_api.use_program(compute.program);
  for (int k = 0; k < 4; k++) shader_api.uniform1f(compute.jitter_at[k], static_cast<float>(jitter[k]));
  shader_api.uniform1i(compute.picture_at, picture ? 1 : 0);
  clear_counts();
  shader_api.bind_buffer_base(GL_SHADER_STORAGE_BUFFER, 0, compute.counts);
  if (picture) shader_api.bind_image_texture(0, compute.texture, 0, GL_FALSE, 0, GL_WRITE_ONLY, GL_RGBA8);
  shader_api.dispatch_compute(compute.groups, compute.groups, 1);
  shader_api.memory_barrier(GL_BUFFER_UPDATE_BARRIER_BIT | (picture ? GL_TEXTURE_FETCH_BARRIER_BIT : 0));
  shader_api.use_program(0);
}

// Levels into the histogram; the turns into the run's total. The counts
// of every grid point must add up to the square: anything else is a pass
// the GL did not finish as asked, and is not counted.
const char* take_counts(RunState* run) {
  int32_t n = iteration_count(&run->settings);
  int64_t total = 0;
  for (int32_t k = 0; k <= n; k++) {
    run->histogram[k] = int32_t(compute.read[size_t(k)]);
    total += compute.read[size_t(k)];
  }
  if (total != int64_t(run->side) * run->side) return "the compute shader's counts do not add up to the square";
  if (compute.count_turns)
    run->particle_turns += int64_t(compute.read[size_t(n) + 1]) | int64_t(compute.read[size_t(n) + 2]) << 32;
  return nullptr;
}

}  // namespace

// NOTE: a software renderer makes every atomic of every invocation one
// locked instruction; counting the turns costs it two more per particle
// (about 40% of the time of a pass of the worked example on llvmpipe), so
// it counts only the levels and the turns stay unknown there.
void compute_prepare(RunState* run) {
  compute_start(run, !software_renderer(reinterpret_cast<const char*>(glGetString(GL_RENDERER))));
}

void compute_start(RunState* run, bool count_turns) {
  float version = gl_version();
  if (version < 4.3f)
    fatal_error(format_text("OpenGL 4.3 or higher is needed for the compute engine; you have version %g",
                            double(version)).c_str());
  char* source = generate_compute_shader(&run->settings, count_turns);
  write_source(source);
  compute.program = build_program(GL_COMPUTE_SHADER, source,
                                  "Compute shader failed to build; the source is in computeshader.txt");
  std::free(source);
  run->program = compute.program;
  find_uniforms();
  int32_t n = iteration_count(&run->settings), side = run->settings.baseres * run->settings.baseres;
  compute.read.assign(size_t(n) + 3, 0u);
  compute.counts = make_counts_buffer(compute.read.size());
  compute.texture = make_picture_texture(side);
  compute.groups = GLuint((side + kComputeGroupSide - 1) / kComputeGroupSide);
  compute.count_turns = count_turns;
  run->particle_turns = count_turns ? 0 : -1;
}

const char* compute_sample(RunState* run, const double jitter[4], bool picture) {
  double start = PerfClock();
  dispatch(jitter, picture);
  glFinish();
  double tracked = PerfClock();
  shader_api.bind_buffer(GL_SHADER_STORAGE_BUFFER, compute.counts);
  shader_api.get_buffer_sub_data(GL_SHADER_STORAGE_BUFFER, 0, GLsizeiptr(compute.read.size() * 4),
                                 compute.read.data());
  shader_api.bind_buffer(GL_SHADER_STORAGE_BUFFER, 0);
  double read = PerfClock();
  const char* reason = take_counts(run);
  run->stage_seconds[kStageTrack] = tracked - start;
  run->stage_seconds[kStageRead] = read - tracked;
  run->stage_seconds[kStageCount] = PerfClock() - read;
  return reason;
}

void compute_draw_picture(RunState* run) { draw_square_texture(compute.texture, run->side); }
