// The compute engine: a GLSL 4.30 compute shader generated from the job's
// lowered map, one invocation per grid point, the classes counted on the
// GPU, in single precision or (where the GL has 64-bit floats in shaders)
// in double. Only the n + 4 counters come back; the class picture is
// written to a texture only for a pass whose frame is shown.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engines/engine.h"
#include "gfx/clock.h"
#include "gfx/frame.h"
#include "gfx/gl.h"
#include "map/shader_program.h"
#include "map/shader_source.h"
#include "util/files.h"
#include "util/text_util.h"

namespace {

struct ComputeEngine {
  GLuint program;
  GLuint counts;                   // levels 0 .. n, the turns' low and high words, the survivors on the edge
  GLuint texture;                  // the class picture, side x side RGBA8
  GLint jitter_at[4], picture_at;  // uniform locations
  GLuint groups;                   // work groups along each side of the square
  int32_t side;                    // the square's side in pixels
  int32_t turn_counts;             // n
  bool count_turns;                // the shader counts the turns made
  PFNGLUNIFORM1DPROC uniform1d;    // sets the jitter of a double-precision shader; null for single
  std::vector<uint32_t> read;      // the counters as read back
};

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

void find_uniforms(ComputeEngine* c) {
  const char* const names[4] = {"jx", "jxp", "jy", "jyp"};
  for (int k = 0; k < 4; k++) c->jitter_at[k] = shader_api.get_uniform_location(c->program, names[k]);
  c->picture_at = shader_api.get_uniform_location(c->program, "picture");
}

// The read-back buffer is zeroed and stands for the counters' start.
void clear_counts(ComputeEngine* c) {
  std::fill(c->read.begin(), c->read.end(), 0u);
  shader_api.bind_buffer(GL_SHADER_STORAGE_BUFFER, c->counts);
  shader_api.buffer_sub_data(GL_SHADER_STORAGE_BUFFER, 0, GLsizeiptr(c->read.size() * 4), c->read.data());
}

void dispatch(ComputeEngine* c, const double jitter[4], bool picture) {
  shader_api.use_program(c->program);
  for (int k = 0; k < 4; k++) {
    if (c->uniform1d) c->uniform1d(c->jitter_at[k], jitter[k]);
    else shader_api.uniform1f(c->jitter_at[k], static_cast<float>(jitter[k]));
  }
  shader_api.uniform1i(c->picture_at, picture ? 1 : 0);
  clear_counts(c);
  shader_api.bind_buffer_base(GL_SHADER_STORAGE_BUFFER, 0, c->counts);
  if (picture) shader_api.bind_image_texture(0, c->texture, 0, GL_FALSE, 0, GL_WRITE_ONLY, GL_RGBA8);
  shader_api.dispatch_compute(c->groups, c->groups, 1);
  shader_api.memory_barrier(GL_BUFFER_UPDATE_BARRIER_BIT | (picture ? GL_TEXTURE_FETCH_BARRIER_BIT : 0));
  shader_api.use_program(0);
}

void read_counts(ComputeEngine* c) {
  shader_api.bind_buffer(GL_SHADER_STORAGE_BUFFER, c->counts);
  shader_api.get_buffer_sub_data(GL_SHADER_STORAGE_BUFFER, 0, GLsizeiptr(c->read.size() * 4), c->read.data());
  shader_api.bind_buffer(GL_SHADER_STORAGE_BUFFER, 0);
}

// The levels, and the turns into the result. The counts of every grid
// point must add up to the square: anything else is a pass the GL did not
// finish as asked, and is not counted.
void take_counts(const ComputeEngine* c, int32_t* levels, SampleResult* r) {
  int64_t total = 0;
  for (int32_t k = 0; k <= c->turn_counts; k++) {
    levels[k] = int32_t(c->read[size_t(k)]);
    total += c->read[size_t(k)];
  }
  if (total != int64_t(c->side) * c->side) r->refused = "the compute shader's counts do not add up to the square";
  size_t n = size_t(c->turn_counts);
  if (c->count_turns) r->particle_turns = int64_t(c->read[n + 1]) | int64_t(c->read[n + 2]) << 32;
  r->edge_survivors = c->read[n + 3];
}

// NOTE: the extensions are asked for only below GL 4.0 (where 64-bit floats
// are core): a core profile's context has no GL_EXTENSIONS string.
bool fp64_here(float version, Problem* why) {
  const char* extensions = version < 4.0f ? reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)) : nullptr;
  if (gl_offers_fp64(version, extensions)) return true;
  *why = problem(format_text("This GL (version %g) has no 64-bit floats in shaders (GL 4.0 or "
                             "GL_ARB_gpu_shader_fp64), so the compute engine cannot track in double precision "
                             "here; use --engine cpu for double precision",
                             double(version)));
  return false;
}

// Whether the context runs the compute engine in the precision asked for.
bool compute_runs_here(Precision precision, Problem* why) {
  float version = gl_version();
  if (precision == kPrecisionDouble && !fp64_here(version, why)) return false;
  if (version >= 4.3f) return true;
  *why = problem(
      format_text("OpenGL 4.3 or higher is needed for the compute engine; you have version %g", double(version)));
  return false;
}

// A double shader's jitter is set with glUniform1d (GL 4.0), which the
// program fetches only for it.
bool find_jitter_setter(ComputeEngine* c, Precision precision, Problem* why) {
  if (precision != kPrecisionDouble) return true;
  c->uniform1d = reinterpret_cast<PFNGLUNIFORM1DPROC>(gl_proc_address("glUniform1d"));
  if (c->uniform1d) return true;
  *why = problem("The GL has no glUniform1d, which the compute engine needs in double precision");
  return false;
}

// NOTE: a software renderer makes every atomic of every invocation one
// locked instruction; counting the turns costs it two more per particle
// (about 40% of the time of a pass of the worked example on llvmpipe), so
// it counts only the levels and the turns stay unknown there.
bool compute_prepare(void** state, uint32_t* program, const LoweredMap* map, const EngineSetup* setup,
                     Problem* why) {
  if (!compute_runs_here(setup->precision, why)) return false;
  ComputeEngine* c = new ComputeEngine();
  *state = c;
  if (!find_jitter_setter(c, setup->precision, why)) return false;
  const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  c->count_turns = setup->always_count_turns || !software_renderer(renderer);
  char* source = generate_compute_shader(map, c->count_turns, setup->precision);
  write_source(source);
  c->program = build_program(GL_COMPUTE_SHADER, source,
                             "Compute shader failed to build; the source is in computeshader.txt", why);
  std::free(source);
  if (!c->program) return false;
  *program = c->program;
  find_uniforms(c);
  c->side = map->side;
  c->turn_counts = int32_t(map->turn_counts.size());
  c->read.assign(size_t(c->turn_counts) + 4, 0u);
  c->counts = make_counts_buffer(c->read.size());
  c->texture = make_picture_texture(c->side);
  c->groups = GLuint((c->side + kComputeGroupSide - 1) / kComputeGroupSide);
  return true;
}

SampleResult compute_sample(void* state, const double jitter[4], bool picture, int32_t* levels) {
  ComputeEngine* c = static_cast<ComputeEngine*>(state);
  SampleResult r{nullptr, {}, -1, 0};
  double start = PerfClock();
  dispatch(c, jitter, picture);
  glFinish();
  double tracked = PerfClock();
  read_counts(c);
  double read = PerfClock();
  take_counts(c, levels, &r);
  r.seconds[kSampleTrack] = tracked - start;
  r.seconds[kSampleRead] = read - tracked;
  r.seconds[kSampleCount] = PerfClock() - read;
  return r;
}

void compute_draw_picture(void* state) {
  const ComputeEngine* c = static_cast<const ComputeEngine*>(state);
  draw_square_texture(c->texture, c->side);
}

void compute_release(void* state) { delete static_cast<ComputeEngine*>(state); }

}  // namespace

const EngineTable kComputeEngine = {compute_prepare, compute_sample, compute_draw_picture, compute_release};
