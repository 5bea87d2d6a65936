// The job's map as the engines track it: every constant of the grid, the
// collimators and the elements in single precision, once, for the shader
// generators and the CPU tracker alike.
//
// NOTE: the shaders get their constants as decimal text ("%.9lg" of the
// job's double), which the GL compiler turns into the nearest float. The
// float of the double itself is not always that float (the decimal is
// rounded once on the way), so each constant keeps both: the double the
// shaders print, and the float a GL compiler makes of the printed text,
// which the CPU tracker uses. The engines then track the same map.
// In double precision the engines take the doubles as they are (the double
// shader prints them with "%.17g", which reads back as the same double).
#pragma once
#include <cstdint>
#include <vector>

#include "map/job_file.h"

// A constant as the shaders write it and as they then hold it.
struct Constant {
  double written;  // printed into the shader source with "%.9lg"; tracked as it is in double precision
  float value;     // the float a GL compiler makes of that text
};

// The float of the decimal text "%.9lg" of d: the text parsed directly to
// the nearest float, as GL compilers parse their literals.
float shader_float(double d);
Constant shader_constant(double d);

// drift: 1 constant, the length; kick and skew kick: orders 1 .. count, the
// strengths k_j / j!; rotation: 8, the x plane's 2 x 2 matrix and then the
// y plane's, row by row; matrix: 16, row by row.
enum LoweredKind : int32_t { kLoweredDrift, kLoweredKick, kLoweredSkewKick, kLoweredRotation, kLoweredMatrix };

// One element; its constants are written[first .. first + count - 1] (and
// the same in value) of the map.
struct LoweredOp {
  LoweredKind kind;
  int32_t first;  // index of its first constant
  int32_t count;  // how many
  int32_t top;    // kicks: the highest order whose float strength is not 0; 0 when none
};

struct LoweredMap {
  int32_t baseres;                    // grid points per coordinate
  int32_t side;                       // the square's side in pixels: baseres^2
  int32_t colour_levels;              // base of the colour code
  std::vector<int32_t> turn_counts;   // the job's turn counts, in job order
  std::vector<int32_t> level_limits;  // their running maxima (ascending)
  bool int_counter;                   // the shaders count turns in an int, not a float
  // Coordinate c (x, xp, y, yp) of a grid point at index i (a multiple of
  // 1 / baseres below 1) with jitter fraction j: low[c] + span[c] * (i + j / baseres).
  Constant low[4], span[4];
  // x low, x high, y low, y high; a limit that is not tested is none.
  Constant limit[4];
  bool tested[4];
  std::vector<LoweredOp> ops;   // in job order
  std::vector<double> written;  // the elements' constants as printed
  std::vector<float> value;     // and as tracked
  // The grid index of each column (or row) of the square, as the shader
  // finds it from the texture coordinate at the pixel's centre: coarse
  // (x or y) and fine (xp or yp); side entries each.
  std::vector<float> coarse, fine;
  // The same indices in double precision, exactly (c / baseres) / baseres
  // and (c % baseres) / baseres: the double-precision engines find them
  // from the pixel's whole number, not from a texture coordinate.
  std::vector<double> coarse_double, fine_double;
};

LoweredMap lower_map(const JobSettings* s);

// The level of a particle that made the given number of turns: t + 1 for
// the first turn count t that it does not pass, 0 when it passes them all.
int32_t lowered_level(const LoweredMap* map, int64_t turns);

// Whether column (or row) c of a square of baseres^2 pixels holds grid
// points on the box's outermost layer: its coarse index (x or y) or its
// fine one (xp or yp) is the first or the last, 0 or baseres - 1.
bool edge_line(int32_t baseres, int64_t c);

