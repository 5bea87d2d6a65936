#include "engines/cpu_tracker.h"

#include <climits>
#include <cmath>
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "engines/cpu_kernel.h"
#include "engines/cpu_workers.h"

namespace {

const char* const kKernelNames[kCpuKernels] = {"baseline", "AVX2", "AVX-512"};
// NOTE: 128 bytes apart (two of the 64-byte cache lines that processors
// fetch in pairs), each thread's level counts never share a line with
// another's.
const size_t kCountsApart = 16;

// The constants in the real type tracked: in single precision the floats a
// GL compiler makes of the printed text, in double the doubles as written.
float real_of(const Constant& c, float) { return c.value; }
double real_of(const Constant& c, double) { return c.written; }
const float* constants_of(const LoweredMap* m, float) { return m->value.data(); }
const double* constants_of(const LoweredMap* m, double) { return m->written.data(); }
const float* coarse_of(const LoweredMap* m, float) { return m->coarse.data(); }
const double* coarse_of(const LoweredMap* m, double) { return m->coarse_double.data(); }
const float* fine_of(const LoweredMap* m, float) { return m->fine.data(); }
const double* fine_of(const LoweredMap* m, double) { return m->fine_double.data(); }

// NOTE: a limit that is not tested becomes an infinite one when the other
// limit of its coordinate is tested: that one already fails for NaN, so the
// pair passes exactly the particles the tested limit alone passes.
template <typename Real>
void kernel_limits(const LoweredMap* m, KernelMapOf<Real>* k) {
  for (int c = 0; c < 4; c++)
    k->limit[c] = m->tested[c] ? real_of(m->limit[c], Real()) : c % 2 ? Real(INFINITY) : Real(-INFINITY);
  k->test_x = m->tested[0] || m->tested[1];
  k->test_y = m->tested[2] || m->tested[3];
}

// The highest order of a kick whose strength is not 0 in the real type
// tracked (the lowered map knows it for the floats).
int32_t kick_top(const LoweredOp& op, const float*) { return op.top; }
int32_t kick_top(const LoweredOp& op, const double* values) {
  int32_t top = op.count;
  while (top > 0 && values[top - 1] == 0) top--;
  return top;
}

// The elements that change a particle: orders above a kick's last
// non-zero one add nothing, and a kick without one is left out.
template <typename Real>
void kernel_ops(const LoweredMap* m, std::vector<KernelOpOf<Real>>* ops) {
  typedef KernelOpOf<Real> Op;
  for (const LoweredOp& op : m->ops) {
    const Real* values = constants_of(m, Real()) + op.first;
    int32_t top = kick_top(op, values);
    switch (op.kind) {
      case kLoweredDrift: ops->push_back(Op{0, values[0], nullptr, kKernelPlain}); break;
      case kLoweredKick: if (top > 0) ops->push_back(Op{top, 0, values, kKernelPlain}); break;
      case kLoweredSkewKick: if (top > 0) ops->push_back(Op{top, 0, values, kKernelSkew}); break;
      case kLoweredRotation: ops->push_back(Op{-1, 0, values, kKernelRotation}); break;
      case kLoweredMatrix: ops->push_back(Op{-1, 0, values, kKernelMatrix}); break;
    }
  }
}

template <typename Real>
bool linear_or_skew(const std::vector<KernelOpOf<Real>>& ops) {
  for (const KernelOpOf<Real>& op : ops)
    if (op.kind != kKernelPlain) return true;
  return false;
}

int32_t turn_limit(const LoweredMap* m) {
  int32_t last = m->turn_counts.back();
  return last < 0 ? 0 : last < INT32_MAX ? last + 1 : INT32_MAX;
}

// The kernels' form of the lowered map in the real type; ops is filled
// first and must not move afterwards.
template <typename Real>
void kernel_map(const LoweredMap* lowered, std::vector<KernelOpOf<Real>>* ops, KernelMapOf<Real>* k) {
  ops->clear();
  kernel_ops(lowered, ops);
  k->baseres = lowered->baseres;
  k->coarse = coarse_of(lowered, Real());
  k->fine = fine_of(lowered, Real());
  k->turn_limit = turn_limit(lowered);
  for (int c = 0; c < 4; c++) {
    k->low[c] = real_of(lowered->low[c], Real());
    k->span[c] = real_of(lowered->span[c], Real());
  }
  kernel_limits(lowered, k);
  k->ops = ops->data();
  k->op_count = int32_t(ops->size());
  k->linear_or_skew = linear_or_skew(*ops);
  k->lowered = lowered;
}

}  // namespace

void cpu_map(const LoweredMap* lowered, CpuMap* m, Precision precision) {
  m->lowered = lowered;
  m->precision = precision;
  m->kernel = KernelMap{};
  m->kernel_double = KernelMapDouble{};
  if (precision == kPrecisionDouble) kernel_map(lowered, &m->ops_double, &m->kernel_double);
  else kernel_map(lowered, &m->ops, &m->kernel);
  m->build = cpu_best_kernel();
}

int32_t kernel_level(const LoweredMap* map, int32_t turns) { return lowered_level(map, turns); }

bool kernel_on_edge(const LoweredMap* map, int32_t particle) {
  return edge_line(map->baseres, particle % map->side) || edge_line(map->baseres, particle / map->side);
}

CpuSample cpu_track_sample(const CpuMap* m, const double jitter[4], int32_t* pixel_levels) {
  int64_t side = m->lowered->side;
  bool in_double = m->precision == kPrecisionDouble;
  KernelSample sample{in_double ? nullptr : &m->kernel, in_double ? &m->kernel_double : nullptr, {}, side * side, 0,
                      pixel_levels};
  for (int k = 0; k < 4; k++) sample.jitter[k] = jitter[k];
  size_t levels = m->lowered->turn_counts.size() + 1, threads = size_t(cpu_tracker_threads());
  size_t stride = levels + kCountsApart;
  std::vector<int64_t> counts(stride * threads, 0);
  std::vector<KernelTally> tallies(threads);
  for (size_t t = 0; t < threads; t++) tallies[t] = KernelTally{&counts[t * stride], 0, 0};
  cpu_workers_run(m->build, &sample, tallies.data());
  CpuSample result{std::vector<int64_t>(levels, 0), 0, 0};
  for (size_t t = 0; t < threads; t++) {
    for (size_t l = 0; l < levels; l++) result.levels[l] += counts[t * stride + l];
    result.particle_turns += tallies[t].turns;
    result.edge_survivors += tallies[t].edge_survivors;
  }
  return result;
}

// NOTE: the compiler's check asks the processor and the operating system:
// AVX registers are usable only where the system saves them.
bool cpu_kernel_available(CpuKernel kernel) {
#ifdef VELDSPAN_X86_KERNELS
  if (kernel == kCpuKernelAvx512) return __builtin_cpu_supports("avx512f");
  if (kernel == kCpuKernelAvx2) return __builtin_cpu_supports("avx2");
#endif
  return kernel == kCpuKernelBaseline;
}

CpuKernel cpu_best_kernel() {
  int k = kCpuKernels - 1;
  while (k > kCpuKernelBaseline && !cpu_kernel_available(static_cast<CpuKernel>(k))) k--;
  return static_cast<CpuKernel>(k);
}

const char* cpu_kernel_name(CpuKernel kernel) { return kKernelNames[kernel]; }

// NOTE: x86 processors spell out their name in 48 bytes of the extended
// cpuid leaves; the same on every operating system.
std::string cpu_model() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned words[12] = {};
  if (__get_cpuid_max(0x80000000u, nullptr) < 0x80000004u) return "unknown CPU";
  for (unsigned leaf = 0; leaf < 3; leaf++)
    __get_cpuid(0x80000002u + leaf, &words[4 * leaf], &words[4 * leaf + 1], &words[4 * leaf + 2], &words[4 * leaf + 3]);
  char name[49] = {};
  std::memcpy(name, words, 48);
  std::string model = name;
  model.erase(0, model.find_first_not_of(' '));
  model.erase(model.find_last_not_of(' ') + 1);
  return model.empty() ? "unknown CPU" : model;
#else
  return "unknown CPU";
#endif
}
