// The CPU tracker's inner loop, built once for each instruction set it can
// run on (AVX-512, AVX2, the x86-64 baseline; plain vector code elsewhere)
// and each precision (float, double) from the same source,
// cpu_kernel_body.h. The tracker picks one at run time; every build of a
// precision computes the same operations in the same order, so all of them
// give the same levels on every machine.
//
// NOTE: only plain structures (struct templates over the real type among
// them: they hold no code) and builtins here and in the body: each
// kernel's translation unit is compiled for its own instruction set, and an
// inline function or template function shared with other units (a library
// one too) could be linked in place of the baseline copy and fault on a
// processor without that instruction set.
#pragma once
#include <cstdint>

struct LoweredMap;

// One map element. Of kind kKernelPlain, a drift (top 0) of the given
// length, or a thin kick of orders 1 .. top with strengths k_j / j! at
// strengths[0 .. top - 1]; of kind kKernelSkew, a skew kick of orders
// 1 .. top; kKernelRotation, the two planes' 2 x 2 matrices at
// strengths[0 .. 7]; kKernelMatrix, a 4 x 4 matrix at strengths[0 .. 15],
// row by row.
enum KernelOpKind : int32_t { kKernelPlain, kKernelSkew, kKernelRotation, kKernelMatrix };
template <typename Real>
struct KernelOpOf {
  int32_t top;
  Real length;
  const Real* strengths;
  KernelOpKind kind;
};

// The job as the kernels track it, in the real type they track in.
template <typename Real>
struct KernelMapOf {
  int32_t baseres;
  // The grid index of column (or row) c of the square: the coarse index
  // (x or y) and the fine one (xp or yp), as fractions of the ranges;
  // baseres^2 of each. In single precision as the shader finds it from the
  // texture coordinate at the pixel's centre, in double exactly.
  const Real* coarse;
  const Real* fine;
  int32_t turn_limit;    // turns a particle makes at most: the last turn count + 1
  Real low[4], span[4];  // x, xp, y, yp ranges
  // x low, x high, y low, y high. A limit that is not tested is an infinite
  // one when the same coordinate has a tested limit (which catches NaN);
  // test_x or test_y is 0 when neither limit of that coordinate is tested.
  Real limit[4];
  int32_t test_x, test_y;
  const KernelOpOf<Real>* ops;
  int32_t op_count;
  int32_t linear_or_skew;     // whether any op is of a kind other than kKernelPlain
  const LoweredMap* lowered;  // the map the kernel's form was made from
};

typedef KernelOpOf<float> KernelOp;
typedef KernelMapOf<float> KernelMap;
typedef KernelOpOf<double> KernelOpDouble;
typedef KernelMapOf<double> KernelMapDouble;

// The level of a particle that made the given number of turns, as the
// lowered map gives it (built once, for every kernel: a particle's level is
// asked for only when it leaves its lane).
int32_t kernel_level(const LoweredMap* map, int32_t turns);
// Whether the particle's grid point lies on the box's outermost layer (one
// of its four grid indices first or last); asked only of survivors.
bool kernel_on_edge(const LoweredMap* map, int32_t particle);

// Particles a thread claims at a time.
const int kKernelClaim = 1024;

// One sample, shared by the threads that track it: each claims particles
// in chunks from next until none are left. Exactly one of the maps is set:
// the precision the sample is tracked in.
struct KernelSample {
  const KernelMap* map;               // single precision
  const KernelMapDouble* map_double;  // double precision
  double jitter[4];                   // each kernel takes them in its own real type
  int64_t particles;
  int64_t next;           // the next particle not yet claimed; changed atomically
  int32_t* pixel_levels;  // the level of every particle, when asked for; else null
};

// What one thread's share of a sample gave. NOTE: each thread's counts
// are written for every particle; they must not share a cache line with
// another thread's.
struct KernelTally {
  int64_t* counts;          // particles per level, threshold_count + 1 of them
  int64_t turns;            // turns made, summed over the particles (added at the end)
  int64_t edge_survivors;   // particles of level 0 on the box's outermost layer (added at the end)
};

// Each tracks particles of the sample until none are left to claim; the
// _double builds take the sample's map_double.
void cpu_kernel_avx512(KernelSample* sample, KernelTally* tally);
void cpu_kernel_avx2(KernelSample* sample, KernelTally* tally);
void cpu_kernel_baseline(KernelSample* sample, KernelTally* tally);
void cpu_kernel_avx512_double(KernelSample* sample, KernelTally* tally);
void cpu_kernel_avx2_double(KernelSample* sample, KernelTally* tally);
void cpu_kernel_baseline_double(KernelSample* sample, KernelTally* tally);
