// Generates the fragment shader in which every pixel of the square tracks
// one grid point through the map and writes its loss class as a colour.
#pragma once
#include <string>
#include <vector>

#include "map/job_file.h"

// The whole source, starting with its "#version 120" line. The caller owns
// the returned C heap string. recurrence picks the step-by-step complex
// power form of the kicks instead of the expanded polynomials.
char* generate_shader(const JobSettings* settings, bool recurrence);

// -Re((x+iy)^order) for plane 0, Im((x+iy)^order) for plane 1, as a signed
// sum of monomials such as "-x*x*x+3*x*y*y".
std::string kick_polynomial(int plane, int order);

double factorial(int n);
// k_j / j! of a kick, the coefficient of the j-th complex power; 0 for an
// order the element does not give.
double kick_strength(const MapElement* e, int32_t order);
double binomial(int n, int k);

// Whether a collimator limit is written into the loop test: a limit at or
// beyond +-1e20 is left out only when the other plane has a finite one.
struct CollimatorTests {
  bool x_low, x_high, y_low, y_high;
};
CollimatorTests collimator_tests(const JobSettings* settings);

// The colour that codes loss class c in base levels, most significant
// digit in red; each digit d shows as d / (levels - 1).
void class_colour(int code, int levels, double rgb[3]);

// Whether the turn counter i is an int: above 15000000 turns a float
// could no longer count them one by one.
bool int_turn_counter(const JobSettings* settings);

// The compute shader of the same map: one invocation per grid point, in
// groups of kComputeGroupSide x kComputeGroupSide pixels, with the same
// single-precision expressions in the same order as generate_shader, so
// that the same GL gives every particle the same turns. It counts levels
// 0 .. n in counts[0 .. n] (binding 0) and, with count_turns, the turns
// made in counts[n + 1] (low word) and counts[n + 2] (high word); it stores
// the class colours into the rgba8 image at unit 0 when the uniform
// picture is set; uniforms jx, jxp, jy, jyp as in the fragment shader.
// Caller owns the returned C heap string.
const int kComputeGroupSide = 16;
char* generate_compute_shader(const JobSettings* settings, bool count_turns);
// The running maxima of the turn counts, in job order: a particle's level
// is t + 1 for the first t with turns <= limits[t], 0 when there is none,
// as the fragment shader's colour lines give it.
std::vector<int32_t> level_limits(const JobSettings* settings);
