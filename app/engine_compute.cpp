// The compute engine: a GLSL 4.30 compute shader generated from the job's
// elements, one invocation per grid point, the classes counted on the GPU.
#include "app/engine.h"
#include "gfx/frame.h"

void compute_prepare(RunState*) { fatal_error("The compute engine is not available in this build"); }

const char* compute_sample(RunState*, const double*, bool) { return "no compute engine"; }

void compute_draw_picture(RunState*) {}
