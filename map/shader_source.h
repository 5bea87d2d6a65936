// Generates the shaders in which every grid point of the square is tracked
// through the job's lowered map: the fragment shader (one pixel per grid
// point, its loss class written as a colour) and the compute shader (one
// invocation per grid point, the classes counted on the GPU).
#pragma once
#include <string>

#include "map/lowered_map.h"

// The whole fragment shader source, starting with its "#version 120" line.
// The caller owns the returned C heap string.
char* generate_shader(const LoweredMap* map);

// -Re((x+iy)^order) for plane 0, Im((x+iy)^order) for plane 1, as a signed
// sum of monomials such as "-x*x*x+3*x*y*y"; in_double for a double shader
// (a coefficient too large for a whole number is then a double literal).
std::string kick_polynomial(int plane, int order, bool in_double = false);
// Re((x+iy)^order) for part 0, Im((x+iy)^order) for part 1; negated when asked.
std::string power_polynomial(int part, int order, bool negate, bool in_double = false);
double binomial(int n, int k);

// The compute shader of the same map: one invocation per grid point, in
// groups of kComputeGroupSide x kComputeGroupSide pixels, with the same
// single-precision expressions in the same order as generate_shader, so
// that the same GL gives every particle the same turns. It counts levels
// 0 .. n in counts[0 .. n] (binding 0), with count_turns the turns made in
// counts[n + 1] (low word) and counts[n + 2] (high word), and the
// survivors (level 0) on the box's outermost layer of grid points in
// counts[n + 3]; it stores the class colours into the rgba8 image at unit
// 0 when the uniform picture is set; uniforms jx, jxp, jy, jyp as in the
// fragment shader.
// In double precision the same expressions are written with doubles: the
// constants as written ("%.17g", lf), the grid index exact from the
// pixel's whole numbers, the jitter uniforms doubles.
// Caller owns the returned C heap string.
const int kComputeGroupSide = 16;
char* generate_compute_shader(const LoweredMap* map, bool count_turns, Precision precision = kPrecisionSingle);
