// The sample engine: the one way the run takes a sample, whatever does the
// tracking. An engine is prepared once from the job; then, for a sample's
// four jitter fractions, it fills the run's histogram with the sample's raw
// level counts (levels 0 .. n), and, only for a pass whose frame is shown,
// draws the square's class picture into the window. The loop, the
// statistics, the result blocks and the status text see nothing else.
//
// Engines:
//   fragment  the generated fragment shader draws the square, which is read
//             back and decoded pixel by pixel (in the window, or in an
//             offscreen framebuffer when there is no window)
//   compute   a compute shader from the same elements, one invocation per
//             grid point, counting the classes on the GPU
//   cpu       the vectorised tracker on every core
#pragma once
#include <string>

#include "app/run_state.h"

// What the engine of a run is and runs on.
struct EngineInfo {
  EngineKind kind;          // the engine in use (never auto once chosen)
  std::string gl_renderer;  // GL_RENDERER of the context; empty without GL
};

extern EngineInfo engine_info;

const char* engine_name(EngineKind kind);
// What takes the samples: the GL renderer, or the CPU with its threads.
std::string engine_device_text();
// The kind named on the command line ("auto", "fragment", ...); false for
// an unknown name.
bool engine_from_name(const char* name, EngineKind* kind);

// The engine auto picks: the CPU when there is no GL or only a software
// renderer (the vectorised tracker beats it), compute from GL 4.3 on,
// otherwise the fragment shader. An engine asked for by name is kept.
EngineKind choose_engine(EngineKind asked, bool have_gl, const char* renderer, float gl_version);
bool software_renderer(const char* renderer);

// Prepares the engine for the run's job; source is the fragment shader
// text (the fragment engine builds it). Ends the program through
// fatal_error when the engine cannot run here.
void engine_prepare(RunState* run, EngineKind kind, const char* source);
// Takes one sample: fills run->histogram with raw level counts and records
// the time of the track, read and count stages in run->stage_seconds.
// picture asks the engine to keep the class picture for engine_draw_picture.
// Returns null, or why the sample cannot be trusted (it is then not
// counted and taken again).
const char* engine_sample(RunState* run, const double jitter[4], bool picture);
// Draws the class picture of the last sample taken with picture set into
// the square at the top left of the window.
void engine_draw_picture(RunState* run);

// The engines behind the interface, one file each.
void fragment_prepare(RunState* run, const char* source);
const char* fragment_sample(RunState* run, const double jitter[4]);

void compute_prepare(RunState* run);
// The compute engine, counting the turns made on the GPU or not (then
// run->particle_turns stays -1); compute_prepare counts them unless the
// renderer is a software one, where they would cost more than tracking.
void compute_start(RunState* run, bool count_turns);
const char* compute_sample(RunState* run, const double jitter[4], bool picture);
void compute_draw_picture(RunState* run);

void cpu_prepare(RunState* run);
const char* cpu_sample(RunState* run, const double jitter[4], bool picture);
void cpu_draw_picture(RunState* run);

// Draws a side x side RGBA texture at the top left of the window, one texel
// per pixel; every GL state it changes is put back.
void draw_square_texture(unsigned texture, int side);
// The square's quadrilateral: texture coordinates 0 to 1 across and down
// the side x side pixels at the top left of the window.
void draw_square_quad(int side);
