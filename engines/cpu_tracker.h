// The CPU engine's tracker: the same lowered map, grid and jitter as the
// shaders, tracked in single precision (or in double) by the cores. The
// inner loop (cpu_kernel.h) is built for several instruction sets and the
// best one the processor has is used; all give the same levels.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engines/cpu_kernel.h"
#include "engines/cpu_workers.h"
#include "map/lowered_map.h"

// The map as the kernels take it: the lowered map's constants, pointed at:
// its floats in single precision, the doubles as written in double.
struct CpuMap {
  const LoweredMap* lowered;
  Precision precision;                    // the one of the two forms below that is made
  std::vector<KernelOp> ops;              // the elements that change a particle, in job order
  KernelMap kernel;                       // points into lowered and ops
  std::vector<KernelOpDouble> ops_double;  // the same in double precision
  KernelMapDouble kernel_double;          // points into lowered and ops_double
  CpuKernel build;                        // the kernel build that tracks; the best the processor has
};

// What one sample gave: particles per level 0 .. n (as the program counts
// them), the turns made, summed over all particles, and the survivors
// (level 0) that started on the box's outermost layer of grid points.
struct CpuSample {
  std::vector<int64_t> levels;
  int64_t particle_turns;
  int64_t edge_survivors;
};

// Prepares the kernels' form of the lowered map, which must outlive it,
// for tracking in the given precision.
void cpu_map(const LoweredMap* lowered, CpuMap* map, Precision precision = kPrecisionSingle);
// Tracks every grid point of the square for a sample's jitter fractions.
// When pixel_levels is given, the level of every pixel of the square is
// written to it too, row-major from the top-left pixel.
CpuSample cpu_track_sample(const CpuMap* map, const double jitter[4], int32_t* pixel_levels = nullptr);

bool cpu_kernel_available(CpuKernel kernel);
CpuKernel cpu_best_kernel();
const char* cpu_kernel_name(CpuKernel kernel);

// The processor's name as it gives it itself ("unknown CPU" where it
// cannot be asked).
std::string cpu_model();
