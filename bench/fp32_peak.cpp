#include "bench/fp32_peak.h"

#include <immintrin.h>

#include <cstdint>
#include <ctime>
#include <thread>
#include <vector>

#include "gfx/clock.h"

namespace {

// NOTE: twelve independent chains keep two pipelines of four-cycle
// multiply-adds busy with room to spare; the result is returned so that
// nothing is optimised away.
#define PEAK_CHAINS(X) X(0) X(1) X(2) X(3) X(4) X(5) X(6) X(7) X(8) X(9) X(10) X(11)

__attribute__((target("avx512f"))) float fma512(int64_t n) {
  __m512 m = _mm512_set1_ps(0.999999f), c = _mm512_set1_ps(1e-6f);
#define DECLARE(i) __m512 a##i = _mm512_set1_ps(float(i));
  PEAK_CHAINS(DECLARE)
#undef DECLARE
  for (int64_t k = 0; k < n; k++) {
#define STEP(i) a##i = _mm512_fmadd_ps(a##i, m, c);
    PEAK_CHAINS(STEP)
#undef STEP
  }
#define SUM(i) +a##i[0]
  return 0 PEAK_CHAINS(SUM);
#undef SUM
}

__attribute__((target("avx2,fma"))) float fma256(int64_t n) {
  __m256 m = _mm256_set1_ps(0.999999f), c = _mm256_set1_ps(1e-6f);
#define DECLARE(i) __m256 a##i = _mm256_set1_ps(float(i));
  PEAK_CHAINS(DECLARE)
#undef DECLARE
  for (int64_t k = 0; k < n; k++) {
#define STEP(i) a##i = _mm256_fmadd_ps(a##i, m, c);
    PEAK_CHAINS(STEP)
#undef STEP
  }
#define SUM(i) +a##i[0]
  return 0 PEAK_CHAINS(SUM);
#undef SUM
}

// Without FMA the peak is a multiply and an add each cycle, on separate
// chains.
float mul_add128(int64_t n) {
  __m128 m = _mm_set1_ps(0.999999f), c = _mm_set1_ps(1e-6f);
#define DECLARE(i) __m128 a##i = _mm_set1_ps(float(i));
  PEAK_CHAINS(DECLARE)
#undef DECLARE
  for (int64_t k = 0; k < n; k++) {
    a0 = _mm_mul_ps(a0, m), a1 = _mm_add_ps(a1, c), a2 = _mm_mul_ps(a2, m), a3 = _mm_add_ps(a3, c);
    a4 = _mm_mul_ps(a4, m), a5 = _mm_add_ps(a5, c), a6 = _mm_mul_ps(a6, m), a7 = _mm_add_ps(a7, c);
    a8 = _mm_mul_ps(a8, m), a9 = _mm_add_ps(a9, c), a10 = _mm_mul_ps(a10, m), a11 = _mm_add_ps(a11, c);
  }
#define SUM(i) +a##i[0]
  return 0 PEAK_CHAINS(SUM);
#undef SUM
}

enum PeakKind { kPeak512, kPeak256, kPeak128 };

struct PeakKernel {
  PeakKind kind;
  double flops_per_iteration;
  const char* instructions;
};

PeakKernel peak_kernel() {
  if (__builtin_cpu_supports("avx512f")) return {kPeak512, 12 * 16 * 2, "AVX-512 FMA"};
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return {kPeak256, 12 * 8 * 2, "AVX2 FMA"};
  return {kPeak128, 12 * 4, "SSE multiply and add"};
}

float run_peak(const PeakKernel* k, int64_t iterations) {
  if (k->kind == kPeak512) return fma512(iterations);
  if (k->kind == kPeak256) return fma256(iterations);
  return mul_add128(iterations);
}

double process_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

volatile float sink;

// One run on every thread: flop/s of wall time and of processor time.
void peak_run(const PeakKernel* k, int threads, int64_t iterations, double* wall, double* per_cpu) {
  double start = PerfClock(), cpu = process_seconds();
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; t++) pool.emplace_back([k, iterations] { sink = run_peak(k, iterations); });
  for (std::thread& t : pool) t.join();
  double flops = k->flops_per_iteration * double(iterations) * threads;
  *wall = flops / (PerfClock() - start);
  *per_cpu = flops / (process_seconds() - cpu);
}

}  // namespace

PeakFigures measure_fp32_peak(int threads, double seconds) {
  PeakKernel k = peak_kernel();
  double start = PerfClock();
  sink = run_peak(&k, 1000000);
  int64_t iterations = int64_t(1000000 * seconds / 5 / (PerfClock() - start + 1e-9));
  PeakFigures best{0, 0, k.instructions};
  for (int round = 0; round < 5; round++) {
    double wall, per_cpu;
    peak_run(&k, threads, iterations, &wall, &per_cpu);
    if (wall > best.wall) best.wall = wall;
    if (per_cpu > best.per_cpu_second) best.per_cpu_second = per_cpu;
  }
  return best;
}
