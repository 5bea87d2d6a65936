#include "app/cpu_tracker.h"

#include <climits>
#include <cmath>
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "app/cpu_kernel.h"
#include "app/cpu_workers.h"
#include "map/shader_source.h"

namespace {

const char* const kKernelNames[kCpuKernels] = {"baseline", "AVX2", "AVX-512"};
// NOTE: 128 bytes apart (two of the 64-byte cache lines that processors
// fetch in pairs), each thread's level counts never share a line with
// another's.
const size_t kCountsApart = 16;

void add_kick(CpuMap* m, const MapElement* k) {
  CpuElement e{false, 0, int32_t(m->strengths.size()), 0};
  for (int32_t j = 1; j <= k->orders; j++) {
    float s = float(kick_strength(k, j));
    m->strengths.push_back(s);
    if (s != 0) e.top = j;  // orders above the last non-zero one add nothing
  }
  if (e.top > 0) m->elements.push_back(e);
}

void add_element(CpuMap* m, const MapElement* e) {
  if (e->kind == kElementDrift) m->elements.push_back({true, float(e->length), 0, 0});
  else add_kick(m, e);
}

void set_limits(CpuMap* m, const JobSettings* s) {
  CollimatorTests c = collimator_tests(s);
  const double limits[4] = {s->xcollimator.low, s->xcollimator.high, s->ycollimator.low, s->ycollimator.high};
  const bool tested[4] = {c.x_low, c.x_high, c.y_low, c.y_high};
  for (int k = 0; k < 4; k++) {
    m->limit[k] = float(limits[k]);
    m->tested[k] = tested[k];
  }
}

// The shader's grid point of the pixel whose texture coordinate (across or
// down) is at the centre of column c, in single precision: the same for
// columns and rows.
void grid_tables(CpuMap* m) {
  float b = float(m->baseres), side = b * b;
  for (int32_t c = 0; c < m->baseres * m->baseres; c++) {
    float u = (float(c) + 0.5f) / side;
    float coarse = std::floor(u * b) / b;
    m->coarse.push_back(coarse);
    m->fine.push_back(std::floor((u - coarse) * side) / b);
  }
}

// NOTE: a limit that is not tested becomes an infinite one when the other
// limit of its coordinate is tested: that one already fails for NaN, so the
// pair passes exactly the particles the tested limit alone passes.
void kernel_limits(const CpuMap* m, KernelMap* k) {
  for (int c = 0; c < 4; c++) k->limit[c] = m->tested[c] ? m->limit[c] : c % 2 ? INFINITY : -INFINITY;
  k->test_x = m->tested[0] || m->tested[1];
  k->test_y = m->tested[2] || m->tested[3];
}

KernelMap kernel_map(const CpuMap* m, std::vector<KernelOp>* ops) {
  for (const CpuElement& e : m->elements)
    ops->push_back(e.drift ? KernelOp{0, e.length, nullptr} : KernelOp{e.top, 0, &m->strengths[size_t(e.first)]});
  KernelMap k;
  k.baseres = m->baseres;
  k.coarse = m->coarse.data();
  k.fine = m->fine.data();
  k.turn_limit = m->last < 0 ? 0 : m->last < INT32_MAX ? m->last + 1 : INT32_MAX;
  for (int c = 0; c < 4; c++) k.low[c] = m->low[c], k.span[c] = m->span[c];
  kernel_limits(m, &k);
  k.ops = ops->data();
  k.op_count = int32_t(ops->size());
  k.thresholds = m->thresholds.data();
  k.threshold_count = int32_t(m->thresholds.size());
  return k;
}

}  // namespace

CpuMap cpu_map(const JobSettings* s) {
  CpuMap m;
  m.baseres = s->baseres;
  m.last = last_iteration(s);
  for (int32_t k = 0; k < iteration_count(s); k++) m.thresholds.push_back(iteration_at(s, k));
  const Range* ranges[4] = {&s->xrange, &s->xprange, &s->yrange, &s->yprange};
  for (int k = 0; k < 4; k++) {
    m.low[k] = float(ranges[k]->low);
    m.span[k] = float(ranges[k]->high - ranges[k]->low);
  }
  set_limits(&m, s);
  for (int32_t k = 0; k < element_count(s); k++) add_element(&m, element_at(s, k));
  grid_tables(&m);
  m.kernel = cpu_best_kernel();
  return m;
}

int32_t cpu_level(const CpuMap* m, int32_t turns) {
  for (size_t t = 0; t < m->thresholds.size(); t++)
    if (turns <= m->thresholds[t]) return int32_t(t) + 1;
  return 0;
}

CpuSample cpu_track_sample(const CpuMap* m, const double jitter[4], int32_t* pixel_levels) {
  std::vector<KernelOp> ops;
  KernelMap map = kernel_map(m, &ops);
  int64_t particles = int64_t(m->baseres) * m->baseres * m->baseres * m->baseres;
  KernelSample sample{&map, {}, particles, 0, pixel_levels};
  for (int k = 0; k < 4; k++) sample.jitter[k] = float(jitter[k]);
  size_t levels = m->thresholds.size() + 1, threads = size_t(cpu_tracker_threads());
  size_t stride = levels + kCountsApart;
  std::vector<int64_t> counts(stride * threads, 0);
  std::vector<KernelTally> tallies(threads);
  for (size_t t = 0; t < threads; t++) tallies[t] = KernelTally{&counts[t * stride], 0};
  cpu_workers_run(m->kernel, &sample, tallies.data());
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
