#include "engines/engine.h"

#include <cstring>

#include "engines/cpu_tracker.h"
#include "util/text_util.h"

namespace {

const char* const kNames[] = {"auto", "fragment", "compute", "cpu"};

bool contains(const char* text, const char* word) { return text && std::strstr(text, word) != nullptr; }

const EngineTable* table_of(EngineKind kind) {
  return kind == kEngineFragment ? &kFragmentEngine : kind == kEngineCompute ? &kComputeEngine : &kCpuEngine;
}

}  // namespace

const char* engine_name(EngineKind kind) { return kNames[kind]; }

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

// NOTE: the compute engine's GL 4.3 has 64-bit floats in shaders (they are
// core from GL 4.0 on), so in double precision it is taken wherever it runs.
EngineKind choose_engine(EngineKind asked, bool have_gl, const char* renderer, float gl_version,
                         Precision precision) {
  if (asked != kEngineAuto) return asked;
  if (!have_gl || software_renderer(renderer)) return kEngineCpu;
  if (gl_version >= 4.3f) return kEngineCompute;
  return precision == kPrecisionDouble ? kEngineCpu : kEngineFragment;
}

bool gl_offers_fp64(float gl_version, const char* extensions) {
  return gl_version >= 4.0f || contains(extensions, "GL_ARB_gpu_shader_fp64");
}

const char* precision_name(Precision precision) { return precision == kPrecisionDouble ? "double" : "single"; }

std::string engine_device_text(EngineKind kind, const std::string& gl_renderer) {
  if (kind != kEngineCpu) return gl_renderer;
  return format_text("CPU: %s, %d threads, %s", cpu_model().c_str(), cpu_tracker_threads(),
                     cpu_kernel_name(cpu_best_kernel()));
}

bool prepare_engine(Engine* e, EngineKind kind, const LoweredMap* map, const EngineSetup* setup,
                    const std::string& gl_renderer, Problem* why) {
  e->table = table_of(kind);
  e->state = nullptr;
  e->identity = EngineIdentity{kind, engine_device_text(kind, gl_renderer), setup->precision};
  e->program = 0;
  return e->table->prepare(&e->state, &e->program, map, setup, why);
}

SampleResult engine_sample(Engine* e, const double jitter[4], bool picture, int32_t* levels) {
  return e->table->sample(e->state, jitter, picture, levels);
}

void engine_draw_picture(Engine* e) { e->table->draw_picture(e->state); }

void release_engine(Engine* e) {
  if (e->state) e->table->release(e->state);
  e->state = nullptr;
}
