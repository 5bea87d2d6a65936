// The CPU engine's tracker: the same job, the same grid and jitter as the
// shader, tracked in single precision by the cores, with the operations of
// the tests' reference tracker in the same order. The inner loop
// (cpu_kernel.h) is built for several instruction sets and the best one
// the processor has is used; all give the same levels.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "map/job_file.h"

// The builds of the inner loop, slowest first.
enum CpuKernel { kCpuKernelBaseline, kCpuKernelAvx2, kCpuKernelAvx512, kCpuKernels };

// One map element: a drift of the given length, or a thin kick whose
// strengths k_j / j! for orders 1 .. top start at strengths[first].
struct CpuElement {
  bool drift;
  float length;
  int32_t first, top;
};

// The job reduced to what tracking needs, in single precision.
struct CpuMap {
  int32_t baseres;
  int32_t last;                      // last turn count: turns stop at last + 1
  std::vector<int32_t> thresholds;   // the job's turn counts, in job order
  float low[4], span[4];             // x, xp, y, yp ranges
  float limit[4];                    // x low, x high, y low, y high
  bool tested[4];                    // whether that limit is tested
  std::vector<CpuElement> elements;  // in job order
  std::vector<float> strengths;      // of all kicks; index first is order 1
  // The grid point of each column (or row) of the square, as fractions of
  // the ranges: x (or y), and xp (or yp).
  std::vector<float> coarse, fine;
  CpuKernel kernel;                  // the build that tracks; the best the processor has
};

// What one sample gave: particles per level 0 .. n (as the program counts
// them) and the turns made, summed over all particles.
struct CpuSample {
  std::vector<int64_t> levels;
  int64_t particle_turns;
};

CpuMap cpu_map(const JobSettings* s);
// Tracks every grid point of the square for a sample's jitter fractions.
// When pixel_levels is given, the level of every pixel of the square is
// written to it too, row-major from the top-left pixel.
CpuSample cpu_track_sample(const CpuMap* map, const double jitter[4], int32_t* pixel_levels = nullptr);
// Level of a particle that made the given number of turns.
int32_t cpu_level(const CpuMap* map, int32_t turns);

bool cpu_kernel_available(CpuKernel kernel);
CpuKernel cpu_best_kernel();
const char* cpu_kernel_name(CpuKernel kernel);

// Threads the tracker shares a sample among: the cores it may run on, or
// OMP_NUM_THREADS when that is set, as clusters' batch systems do.
int cpu_tracker_threads();
// The processor's name as it gives it itself ("unknown CPU" where it
// cannot be asked).
std::string cpu_model();
