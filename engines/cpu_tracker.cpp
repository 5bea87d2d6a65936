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

// NOTE: a limit that is not tested becomes an infinite one when the other
// limit of its coordinate is tested: that one already fails for NaN, so the
// pair passes exactly the particles the tested limit alone passes.
void kernel_limits(const LoweredMap* m, KernelMap* k) {
  for (int c = 0; c < 4; c++) k->limit[c] = m->tested[c] ? m->limit[c].value : c % 2 ? INFINITY : -INFINITY;
  k->test_x = m->tested[0] || m->tested[1];
  k->test_y = m->tested[2] || m->tested[3];
}

// The elements that change a particle: orders above a kick's last
// non-zero one add nothing, and a kick without one is left out.
void kernel_ops(const LoweredMap* m, std::vector<KernelOp>* ops) {
  for (const LoweredOp& op : m->ops) {
    const float* values = m->value.data() + op.first;
    switch (op.kind) {
      case kLoweredDrift: ops->push_back(KernelOp{0, values[0], nullptr, kKernelPlain}); break;
      case kLoweredKick: if (op.top > 0) ops->push_back(KernelOp{op.top, 0, values, kKernelPlain}); break;
      case kLoweredSkewKick: if (op.top > 0) ops->push_back(KernelOp{op.top, 0, values, kKernelSkew}); break;
      case kLoweredRotation: ops->push_back(KernelOp{-1, 0, values, kKernelRotation}); break;
      case kLoweredMatrix: ops->push_back(KernelOp{-1, 0, values, kKernelMatrix}); break;
    }
  }
}

bool linear_or_skew(const std::vector<KernelOp>& ops) {
  for (const KernelOp& op : ops)
    if (op.kind != kKernelPlain) return true;
  return false;
}

int32_t turn_limit(const LoweredMap* m) {
  int32_t last = m->turn_counts.back();
  return last < 0 ? 0 : last < INT32_MAX ? last + 1 : INT32_MAX;
}

}  // namespace

void cpu_map(const LoweredMap* lowered, CpuMap* m) {
  m->lowered = lowered;
  m->ops.clear();
  kernel_ops(lowered, &m->ops);
  KernelMap* k = &m->kernel;
  k->baseres = lowered->baseres;
  k->coarse = lowered->coarse.data();
  k->fine = lowered->fine.data();
  k->turn_limit = turn_limit(lowered);
  for (int c = 0; c < 4; c++) k->low[c] = lowered->low[c].value, k->span[c] = lowered->span[c].value;
  kernel_limits(lowered, k);
  k->ops = m->ops.data();
  k->op_count = int32_t(m->ops.size());
  k->linear_or_skew = linear_or_skew(m->ops);
  k->lowered = lowered;
  m->build = cpu_best_kernel();
}

int32_t kernel_level(const KernelMap* map, int32_t turns) { return lowered_level(map->lowered, turns); }

CpuSample cpu_track_sample(const CpuMap* m, const double jitter[4], int32_t* pixel_levels) {
  int64_t side = m->lowered->side;
  KernelSample sample{&m->kernel, {}, side * side, 0, pixel_levels};
  for (int k = 0; k < 4; k++) sample.jitter[k] = float(jitter[k]);
  size_t levels = m->lowered->turn_counts.size() + 1, threads = size_t(cpu_tracker_threads());
  size_t stride = levels + kCountsApart;
  std::vector<int64_t> counts(stride * threads, 0);
  std::vector<KernelTally> tallies(threads);
  for (size_t t = 0; t < threads; t++) tallies[t] = KernelTally{&counts[t * stride], 0};
  cpu_workers_run(m->build, &sample, tallies.data());
  CpuSample result{std::vector<int64_t>(levels, 0), 0};
  for (size_t t = 0; t < threads; t++) {
    for (size_t l = 0; l < levels; l++) result.levels[l] += counts[t * stride + l];
    result.particle_turns += tallies[t].turns;
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
