// The exact surviving volume of an uncoupled linear job: drifts, kicks of
// order 1 only, rotations and matrices that do not couple the planes. Such a ring moves x and y independently, each by one
// 2 x 2 matrix per turn, and a collimator keeps a particle while x (or y)
// after t turns lies within its limits: in the plane of the initial
// conditions a strip. The particles that pass turn count T are those inside
// before every turn 0 .. T (the loop tests before each turn and counts the
// turns it passed), so each plane's survivors are the plane's box clipped
// by T + 1 strips, a convex polygon, and the 4D volume is the product of
// the two polygons' areas.
#pragma once
#include <vector>

#include "map/job_file.h"

// Per result row (row 0 the domain, then the turn counts in job order) the
// exact surviving volume; empty when the job is not uncoupled and linear.
std::vector<double> exact_row_volumes(const JobSettings* s);

// The area of the part of the box [q] x [p] whose points stay within the
// limits [lo, hi] of the first coordinate before each of turns 0 .. last,
// under the one-turn matrix m (row-major). A limit beyond 1e20 is none.
double surviving_area(const Range& q, const Range& p, const Range& limits, const double m[4], int last);

// The one-turn matrices of the x and y planes (row-major); false for a job
// with a kick of order 2 or higher, a skew kick or a matrix that couples
// the planes.
bool plane_matrices(const JobSettings* s, double mx[4], double my[4]);
