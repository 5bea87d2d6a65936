// The fragment engine: the generated fragment shader draws the square, one
// pixel per grid point coloured by its loss class; the square is read back
// and its colours decoded into levels. In a window the square is drawn
// into the window itself; without one, into a framebuffer object of the
// square's size.
#include <cstring>
#include <vector>

#include "engines/engine.h"
#include "gfx/clock.h"
#include "gfx/frame.h"
#include "gfx/gl.h"
#include "gfx/gl_state.h"
#include "map/colour_code.h"
#include "map/shader_program.h"

namespace {

struct FragmentEngine {
  GLuint program;
  GLint jitter_at[4];                // uniform locations of jx, jxp, jy, jyp
  bool windowed;                     // drawn into the window, else offscreen
  int32_t baseres;                   // grid points per coordinate
  int32_t side;                      // the square's side in pixels
  int32_t turn_counts;               // n: levels 0 .. n
  DecodeTable decode;                // the colour code, byte by byte
  std::vector<unsigned char> pixels; // read-back buffer, side * side RGB triples
};

// Seconds since *since, which moves on to now.
double lap(double* since) {
  double now = PerfClock(), seconds = now - *since;
  *since = now;
  return seconds;
}

// NOTE: the square is drawn without the depth test: its pixels are all
// written in every pass whatever the depth buffer holds (it is cleared only
// in passes that present), and testing and writing depth for every pixel
// costs the software GL about 1 ms a square.
void draw_square(int side) {
  gl_state_push();
  glDisable(GL_DEPTH_TEST);
  glColor3f(0, 0, 0.5f);
  draw_square_quad(side);
  gl_state_pop();
}

// NOTE: pixels of a minimised, unmapped or too small window are undefined;
// counting them would put garbage into the statistics with no trace.
const char* unreadable_reason(const FragmentEngine* f) { return f->windowed ? square_hidden_reason(f->side) : nullptr; }


// NOTE: neighbouring pixels mostly share their loss class (the grid's fine
// coordinates run along a row), so a run of equal colours is decoded and
// counted once: the count then streams through the pixels instead of
// waiting on one counter after another.
uint64_t load_8_bytes(const unsigned char* at) {
  uint64_t v;
  std::memcpy(&v, at, 8);
  return v;
}

// The pixel after the run of pixels that have the colour of pixel i. A
// pixel belongs to the run when each of its bytes equals the byte one pixel
// (three bytes) before it, so the run is scanned eight bytes at a time and
// ends at the pixel holding the first byte that differs.
size_t colour_run_end(const unsigned char* pixels, size_t i, size_t count) {
  size_t byte = 3 * i + 3, bytes = 3 * count;
  while (byte + 8 <= bytes && load_8_bytes(pixels + byte) == load_8_bytes(pixels + byte - 3)) byte += 8;
  while (byte < bytes && pixels[byte] == pixels[byte - 3]) byte++;
  return byte / 3;
}

bool fragment_prepare(void** state, uint32_t* program, const LoweredMap* map, const EngineSetup* setup,
                      Problem* why) {
  if (setup->precision != kPrecisionSingle) {
    *why = problem("The fragment engine tracks in single precision only; use --engine cpu or --engine compute "
                   "for double precision");
    return false;
  }
  FragmentEngine* f = new FragmentEngine();
  *state = f;
  f->windowed = setup->windowed;
  f->baseres = map->baseres;
  f->side = map->side;
  f->turn_counts = int32_t(map->turn_counts.size());
  fill_decode_table(map->colour_levels, &f->decode);
  f->pixels.assign(size_t(f->side) * size_t(f->side) * 3, 0);
  f->program = build_program(GL_FRAGMENT_SHADER, setup->fragment_source,
                             shader_failure_message(f->turn_counts).c_str(), why);
  if (!f->program) return false;
  *program = f->program;
  const char* const names[4] = {"jx", "jxp", "jy", "jyp"};
  for (int k = 0; k < 4; k++) f->jitter_at[k] = shader_api.get_uniform_location(f->program, names[k]);
  return f->windowed || use_offscreen_square(f->side, why);
}

SampleResult fragment_sample(void* state, const double jitter[4], bool /*picture: always drawn*/, int32_t* levels) {
  FragmentEngine* f = static_cast<FragmentEngine*>(state);
  SampleResult r{nullptr, {}, -1, 0};
  double t = PerfClock();
  shader_api.use_program(f->program);
  for (int k = 0; k < 4; k++) shader_api.uniform1f(f->jitter_at[k], static_cast<float>(jitter[k]));
  draw_square(f->side);
  glFinish();
  shader_api.use_program(0);
  r.seconds[kSampleTrack] = lap(&t);
  read_window_pixels(0, 0, f->side, f->side, GL_RGB, f->pixels.data());
  r.seconds[kSampleRead] = lap(&t);
  r.refused = unreadable_reason(f);
  int64_t out_of_range = count_pixel_levels(f->pixels.data(), size_t(f->side) * size_t(f->side), &f->decode,
                                            f->turn_counts, levels);
  r.edge_survivors = count_edge_survivors(f->pixels.data(), f->baseres, &f->decode);
  r.seconds[kSampleCount] = lap(&t);
  if (!r.refused && out_of_range) r.refused = "pixels hold colours that are no loss class";
  return r;
}

// The square was drawn into the window already.
void fragment_draw_picture(void*) {}

void fragment_release(void* state) { delete static_cast<FragmentEngine*>(state); }

}  // namespace

// Without a window the square is drawn into a colour renderbuffer of its
// own size, which then stands for the window in every pixel operation.
bool use_offscreen_square(int side, Problem* why) {
  if (gl_version() < 3.0f) {
    *why = problem("OpenGL 3.0 or higher is needed to draw the fragment engine's square without a window");
    return false;
  }
  GLuint framebuffer = 0, colour = 0;
  shader_api.gen_renderbuffers(1, &colour);
  shader_api.bind_renderbuffer(GL_RENDERBUFFER, colour);
  shader_api.renderbuffer_storage(GL_RENDERBUFFER, GL_RGBA8, side, side);
  shader_api.gen_framebuffers(1, &framebuffer);
  shader_api.bind_framebuffer(GL_FRAMEBUFFER, framebuffer);
  shader_api.framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
  if (shader_api.check_framebuffer_status(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    *why = problem("The offscreen square for the fragment engine could not be made");
    return false;
  }
  set_pixel_projection(side, side);
  glLoadIdentity();
  return true;
}

int64_t count_pixel_levels(const unsigned char* pixels, size_t count, const DecodeTable* table, int32_t n,
                           int32_t* levels) {
  std::memset(levels, 0, sizeof(int32_t) * (size_t(n) + 1));
  int64_t out_of_range = 0;
  for (size_t i = 0, end; i < count; i = end) {
    end = colour_run_end(pixels, i, count);
    const unsigned char* p = pixels + 3 * i;
    int level = table_level(table, p[0], p[1], p[2]);
    if (level <= n) levels[level] += static_cast<int32_t>(end - i);
    else out_of_range += static_cast<int64_t>(end - i);
  }
  return out_of_range;
}

// NOTE: the rows come back bottom row first, but the layer of edge lines is
// the same read from either end (line c and line side - 1 - c have
// mirrored indices), so the rows need not be turned round. Only the pixels
// of edge rows and edge columns are decoded.
int64_t count_edge_survivors(const unsigned char* pixels, int32_t baseres, const DecodeTable* table) {
  int32_t side = baseres * baseres;
  std::vector<int32_t> edges;
  for (int32_t c = 0; c < side; c++)
    if (edge_line(baseres, c)) edges.push_back(c);
  int64_t survivors = 0;
  for (int32_t row = 0; row < side; row++) {
    const unsigned char* p = pixels + size_t(row) * size_t(side) * 3;
    if (edge_line(baseres, row)) {
      for (int32_t c = 0; c < side; c++) survivors += table_level(table, p[3 * c], p[3 * c + 1], p[3 * c + 2]) == 0;
    } else {
      for (int32_t c : edges) survivors += table_level(table, p[3 * c], p[3 * c + 1], p[3 * c + 2]) == 0;
    }
  }
  return survivors;
}

const EngineTable kFragmentEngine = {fragment_prepare, fragment_sample, fragment_draw_picture, fragment_release};
