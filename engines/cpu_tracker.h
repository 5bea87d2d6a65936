// The CPU engine's tracker: the same lowered map, grid and jitter as the
// shaders, tracked in single precision by the cores. The inner loop
// (cpu_kernel.h) is built for several instruction sets and the best one
// the processor has is used; all give the same levels.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "engines/cpu_kernel.h"
#include "engines/cpu_workers.h"
#include "map/lowered_map.h"

// The map as the kernels take it: the lowered map's constants, pointed at.
struct CpuMap {
  const LoweredMap* lowered;
  std::vector<KernelOp> ops;  // the elements that change a particle, in job order
  KernelMap kernel;           // points into lowered and ops
  CpuKernel build;            // the kernel build that tracks; the best the processor has
};

// What one sample gave: particles per level 0 .. n (as the program counts
// them) and the turns made, summed over all particles.
struct CpuSample {
  std::vector<int64_t> levels;
  int64_t particle_turns;
};

// Prepares the kernels' form of the lowered map, which must outlive it.
void cpu_map(const LoweredMap* lowered, CpuMap* map);
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
