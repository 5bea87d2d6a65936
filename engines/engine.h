// The sample engine: the one way a run takes a sample, whatever does the
// tracking. An engine is prepared once from the job's lowered map; then,
// for a sample's four jitter fractions, it gives the sample's raw level
// counts (levels 0 .. n) and, only for a pass whose frame is shown, keeps
// the square's class picture to draw into the window. The loop, the
// ledger, the result files and the status text see nothing else.
//
// Engines, one file each, each behind a small table of functions:
//   fragment  the generated fragment shader draws the square, which is read
//             back and decoded pixel by pixel (in the window, or in an
//             offscreen framebuffer when there is no window)
//   compute   a compute shader from the same elements, one invocation per
//             grid point, counting the classes on the GPU
//   cpu       the vectorised tracker on every core
//
// Every engine tracks in single precision; the cpu engine, and the compute
// engine where the GL has 64-bit floats in shaders, track in double
// precision too when prepared for it.
#pragma once
#include <cstdint>
#include <string>

#include "map/colour_code.h"
#include "map/lowered_map.h"
#include "util/problem.h"

// The ways a sample can be taken; auto picks one of the others at start.
enum EngineKind { kEngineAuto, kEngineFragment, kEngineCompute, kEngineCpu };

// What an engine is given besides the map.
struct EngineSetup {
  bool windowed;                // a window shows the square: the fragment engine draws into it
  const char* fragment_source;  // the fragment shader's source (shadercode.txt)
  bool always_count_turns;      // the compute engine counts the turns even on a software renderer
  // The arithmetic to track in; an engine that cannot is not prepared.
  Precision precision = kPrecisionSingle;
};

// The stages of a sample, in the order they run.
enum SampleStage { kSampleTrack, kSampleRead, kSampleCount, kSampleStages };

// What one sample gave besides its level counts.
struct SampleResult {
  const char* refused;                  // null, or why the sample cannot be trusted (then not counted)
  double seconds[kSampleStages];        // time of each stage
  int64_t particle_turns;               // turns made by its particles; -1 when the engine cannot tell
  // Survivors of the last turn count (level 0) whose grid point lies on the
  // box's outermost layer (one of x, xp, y, yp at its first or last grid
  // index): any at all means the box cuts the stable region.
  int64_t edge_survivors;
};

struct EngineTable {
  // Makes the engine's state for the map, and gives its GL program (0 for
  // none); false, with why, when it cannot run here.
  bool (*prepare)(void** state, uint32_t* program, const LoweredMap* map, const EngineSetup* setup, Problem* why);
  // Fills levels[0 .. n] with the raw level counts of the sample; picture
  // asks it to keep the class picture for draw_picture.
  SampleResult (*sample)(void* state, const double jitter[4], bool picture, int32_t* levels);
  // Draws the class picture of the last sample taken with picture set into
  // the square at the top left of the window.
  void (*draw_picture)(void* state);
  void (*release)(void* state);
};

// Whose counts a record's passes are: passes of the same taker count
// every particle alike.
struct EngineIdentity {
  EngineKind kind;       // never auto
  std::string renderer;  // the GL renderer, or the CPU with its threads and kernel
  Precision precision;   // the arithmetic it tracks in
};

struct Engine {
  const EngineTable* table;  // the engine's functions
  void* state;               // its own state, made by prepare; null before
  EngineIdentity identity;   // what it is and runs on
  uint32_t program;          // its linked GL program; 0 for the CPU
};

const char* engine_name(EngineKind kind);
// The kind named on the command line ("auto", "fragment", ...); false for
// an unknown name.
bool engine_from_name(const char* name, EngineKind* kind);

// The engine auto picks: the CPU when there is no GL or only a software
// renderer (the vectorised tracker beats it), compute from GL 4.3 on,
// otherwise the fragment shader in single precision and the CPU in double
// (the fragment engine tracks in single precision only). An engine asked
// for by name is kept.
EngineKind choose_engine(EngineKind asked, bool have_gl, const char* renderer, float gl_version,
                         Precision precision = kPrecisionSingle);
bool software_renderer(const char* renderer);
// Whether a GL of the version, with the extensions named (null for none
// known), compiles shaders with 64-bit floats: GL 4.0 or
// GL_ARB_gpu_shader_fp64.
bool gl_offers_fp64(float gl_version, const char* extensions);
const char* precision_name(Precision precision);

// What an engine of the kind runs on here: gl_renderer for the GL
// engines, the processor, threads and kernel for the CPU.
std::string engine_device_text(EngineKind kind, const std::string& gl_renderer);

bool prepare_engine(Engine* engine, EngineKind kind, const LoweredMap* map, const EngineSetup* setup,
                    const std::string& gl_renderer, Problem* why);
SampleResult engine_sample(Engine* engine, const double jitter[4], bool picture, int32_t* levels);
void engine_draw_picture(Engine* engine);
void release_engine(Engine* engine);

// The engines behind the interface.
extern const EngineTable kFragmentEngine;
extern const EngineTable kComputeEngine;
extern const EngineTable kCpuEngine;

// The fragment engine's count of read-back pixels (count RGB triples):
// fills levels[0 .. n] and returns how many pixels decoded to a level above
// n: those are counted nowhere, and a sample with any is not a valid
// picture.
int64_t count_pixel_levels(const unsigned char* pixels, size_t count, const DecodeTable* table, int32_t n,
                           int32_t* levels);
// The pixels of the read-back square (baseres^2 pixels a side, count RGB
// triples) that decode to level 0 and lie on the box's outermost layer.
int64_t count_edge_survivors(const unsigned char* pixels, int32_t baseres, const DecodeTable* table);

// Without a window the fragment engine draws its square into a colour
// renderbuffer of the square's size, which then stands for the window in
// every pixel operation: makes and binds one, with a pixel projection of
// it. False, with why, where the GL cannot.
bool use_offscreen_square(int side, Problem* why);

// Draws a side x side RGBA texture at the top left of the window, one texel
// per pixel; every GL state it changes is put back.
void draw_square_texture(unsigned texture, int side);
// The square's quadrilateral: texture coordinates 0 to 1 across and down
// the side x side pixels at the top left of the window.
void draw_square_quad(int side);
