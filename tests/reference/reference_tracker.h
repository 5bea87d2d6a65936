// An independent CPU tracker for checking the program's counts: it reads
// the job's values as written and does everything else itself: the kick
// strengths k_j / j!, the constants' single precision, the grid point of a
// pixel, the collimator tests and the level of a turn count. It tracks in
// single precision, with complex powers instead of generated polynomials,
// and no fused multiply-add (it is built without floating-point
// contraction); or, asked for double precision, in doubles throughout: the
// constants as written, the grid index of column c exactly
// (c / baseres) / baseres and (c % baseres) / baseres.
#pragma once
#include <cstdint>
#include <vector>

#include "map/job_file.h"

// Level of every pixel of the square for a sample's four jitter fractions,
// row-major from the top-left pixel (the square's texture origin); and,
// when asked, the turns made, summed over the particles.
// The float a GL compiler makes of a constant printed with 9 significant
// digits.
float gl_float(double value);

// The jitter fractions (x, xp, y, yp) of scheduled sample number sample,
// worked out from the schedule's definition: bit k of each offset index
// comes from base-16 digit k of the sample number, whose bits b0 .. b3 give
// x b0^b1^b2^b3, xp b0^b1, y b0^b2, yp b0; an index is read as a binary
// fraction from its lowest bit down, that bit inverted.
void reference_sample_jitter(int32_t sample, double jitter[4]);

std::vector<int> reference_levels(const JobSettings* s, const double jitter[4], int64_t* particle_turns = nullptr,
                                  Precision precision = kPrecisionSingle);

// Pixels of level 0 (survivors of every turn count) whose grid point has an
// index x, xp, y or yp at 0 or baseres - 1.
int64_t reference_edge_survivors(const std::vector<int>& levels, int baseres);

// Raw counts per level 0..n, and the per-row survival counts that the
// results file reports (row 0 the domain, row n the survivors of all).
std::vector<int64_t> level_counts(const std::vector<int>& levels, int n);
std::vector<int64_t> row_counts(const std::vector<int64_t>& levels);
