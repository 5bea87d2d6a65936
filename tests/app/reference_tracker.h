// An independent CPU tracker for checking the program's counts: it reads
// the same JobSettings but interprets the map elements directly, in single
// precision, with complex powers instead of generated polynomials, and no
// fused multiply-add (it is built without floating-point contraction).
#pragma once
#include <cstdint>
#include <vector>

#include "map/job_file.h"

// Level of every pixel of the square for a sample's four jitter fractions,
// row-major from the top-left pixel (the square's texture origin); and,
// when asked, the turns made, summed over the particles.
std::vector<int> reference_levels(const JobSettings* s, const double jitter[4], int64_t* particle_turns = nullptr);

// Raw counts per level 0..n, and the per-row survival counts that the
// results file reports (row 0 the domain, row n the survivors of all).
std::vector<int64_t> level_counts(const std::vector<int>& levels, int n);
std::vector<int64_t> row_counts(const std::vector<int64_t>& levels);
