#include "app/engine.h"

#include <cstring>

#include "app/cpu_tracker.h"
#include "util/text_util.h"

EngineInfo engine_info;

namespace {

const char* const kNames[] = {"auto", "fragment", "compute", "cpu"};

bool contains(const char* text, const char* word) { return text && std::strstr(text, word) != nullptr; }

}  // namespace

const char* engine_name(EngineKind kind) { return kNames[kind]; }

std::string engine_device_text() {
  if (engine_info.kind != kEngineCpu) return engine_info.gl_renderer;
  return format_text("CPU: %s, %d threads, %s", cpu_model().c_str(), cpu_tracker_threads(),
                     cpu_kernel_name(cpu_best_kernel()));
}

bool engine_from_name(const char* name, EngineKind* kind) {
  for (int k = kEngineAuto; k <= kEngineCpu; k++)
    if (std::strcmp(name, kNames[k]) == 0) {
      *kind = static_cast<EngineKind>(k);
      return true;
    }
  return false;
}

// Mesa's software rasterisers name themselves in GL_RENDERER.
bool software_renderer(const char* renderer) {
  return contains(renderer, "llvmpipe") || contains(renderer, "softpipe") || contains(renderer, "swrast");
}

EngineKind choose_engine(EngineKind asked, bool have_gl, const char* renderer, float gl_version) {
  if (asked != kEngineAuto) return asked;
  if (!have_gl || software_renderer(renderer)) return kEngineCpu;
  return gl_version >= 4.3f ? kEngineCompute : kEngineFragment;
}

void engine_prepare(RunState* run, EngineKind kind, const char* source) {
  run->engine = engine_info.kind = kind;
  run->particle_turns = -1;
  if (kind == kEngineFragment) fragment_prepare(run, source);
  else if (kind == kEngineCompute) compute_prepare(run);
  else cpu_prepare(run);
}

const char* engine_sample(RunState* run, const double jitter[4], bool picture) {
  if (run->engine == kEngineFragment) return fragment_sample(run, jitter);
  if (run->engine == kEngineCompute) return compute_sample(run, jitter, picture);
  return cpu_sample(run, jitter, picture);
}

// The fragment engine drew its square into the window already.
void engine_draw_picture(RunState* run) {
  if (run->engine == kEngineCompute) compute_draw_picture(run);
  else if (run->engine == kEngineCpu) cpu_draw_picture(run);
}
