// Generates the fragment shader in which every pixel of the square tracks
// one grid point through the map and writes its loss class as a colour.
#pragma once
#include <string>

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
