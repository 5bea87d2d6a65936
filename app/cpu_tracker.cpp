#include "app/cpu_tracker.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#ifdef _OPENMP
#include <omp.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "map/shader_source.h"
#include "util/text_util.h"

namespace {

// NOTE: 64 particles are eight 8-wide vectors: enough to hide the latency
// of each element's loop, few enough that neighbours in a row of the square
// (close in xp) are lost at about the same turn, so a finished block rarely
// waits on one long-lived particle.
const int kBlock = 64;

struct Block {
  alignas(64) float x[kBlock], xp[kBlock], y[kBlock], yp[kBlock];
  alignas(64) int32_t alive[kBlock], turns[kBlock];
};

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
    m->skip[k] = tested[k] ? 0 : 1;
  }
}

// The grid point of pixel i, computed as the shader does from the texture
// coordinate at the pixel's centre, in single precision.
void start_point(const CpuMap* m, int64_t i, const float jitter[4], Block* b, int p) {
  float bf = float(m->baseres), side = bf * bf;
  int64_t columns = int64_t(m->baseres) * m->baseres;
  float u = (float(i % columns) + 0.5f) / side, v = (float(i / columns) + 0.5f) / side;
  float x = std::floor(u * bf) / bf, y = std::floor(v * bf) / bf;
  float xp = std::floor((u - x) * side) / bf, yp = std::floor((v - y) * side) / bf;
  const float index[4] = {x, xp, y, yp};
  float* out[4] = {b->x, b->xp, b->y, b->yp};
  for (int k = 0; k < 4; k++) out[k][p] = m->low[k] + m->span[k] * (index[k] + jitter[k] / bf);
}

void fill_block(const CpuMap* m, int64_t first, int64_t count, const float jitter[4], Block* b) {
  for (int p = 0; p < kBlock; p++) {
    b->x[p] = b->xp[p] = b->y[p] = b->yp[p] = 0;
    b->alive[p] = p < count ? 1 : 0;
    b->turns[p] = 0;
    if (p < count) start_point(m, first + p, jitter, b, p);
  }
}

// NOTE: branch-free: the test is made for every particle, living or not,
// and a lost particle stays lost, so the loop is one vector mask per step.
// Lost particles go on being tracked (into infinities and NaNs, which the
// vector units handle at full speed) rather than branched around.
int32_t survivors(const CpuMap* m, Block* b) {
  const float* l = m->limit;
  const int32_t* s = m->skip;
  int32_t any = 0;
  for (int p = 0; p < kBlock; p++) {
    float x = b->x[p], y = b->y[p];
    int32_t in = (s[0] | (x >= l[0])) & (s[1] | (x <= l[1])) & (s[2] | (y >= l[2])) & (s[3] | (y <= l[3]));
    b->alive[p] &= in;
    b->turns[p] += b->alive[p];
    any |= b->alive[p];
  }
  return any;
}

void drift(Block* b, float length) {
  for (int p = 0; p < kBlock; p++) {
    b->x[p] += length * b->xp[p];
    b->y[p] += length * b->yp[p];
  }
}

// xp -= sum s_j Re(z^j), yp += sum s_j Im(z^j), z = x + iy, the powers
// formed step by step, one complex product per order. For the orders most
// jobs use, the order is a template argument: the whole kick of a particle
// then stays in registers and the loop over the block vectorises.
template <int Top>
void kick_to(Block* b, const float* s) {
  for (int p = 0; p < kBlock; p++) {
    float x = b->x[p], y = b->y[p], pr = x, pi = y, sr = s[0] * x, si = s[0] * y;
    for (int j = 1; j < Top; j++) {
      float r = pr * x - pi * y, i = pr * y + pi * x;
      pr = r;
      pi = i;
      sr += s[j] * r;
      si += s[j] * i;
    }
    b->xp[p] -= sr;
    b->yp[p] += si;
  }
}

typedef void (*KickLoop)(Block*, const float*);
const int kFixedOrders = 8;
const KickLoop kKickLoops[kFixedOrders + 1] = {nullptr,     kick_to<1>, kick_to<2>, kick_to<3>, kick_to<4>,
                                               kick_to<5>, kick_to<6>, kick_to<7>, kick_to<8>};

// Higher orders: one order after the other for the whole block, the
// running power and sums kept in arrays.
void kick_any(Block* b, const float* s, int32_t top) {
  alignas(64) float pr[kBlock], pi[kBlock], sr[kBlock], si[kBlock];
  for (int p = 0; p < kBlock; p++) {
    pr[p] = b->x[p];
    pi[p] = b->y[p];
    sr[p] = s[0] * pr[p];
    si[p] = s[0] * pi[p];
  }
  for (int32_t j = 1; j < top; j++)
    for (int p = 0; p < kBlock; p++) {
      float r = pr[p] * b->x[p] - pi[p] * b->y[p], i = pr[p] * b->y[p] + pi[p] * b->x[p];
      pr[p] = r;
      pi[p] = i;
      sr[p] += s[j] * r;
      si[p] += s[j] * i;
    }
  for (int p = 0; p < kBlock; p++) {
    b->xp[p] -= sr[p];
    b->yp[p] += si[p];
  }
}

void kick(Block* b, const float* s, int32_t top) {
  if (top <= kFixedOrders) kKickLoops[top](b, s);
  else kick_any(b, s, top);
}

void track_block(const CpuMap* m, Block* b) {
  for (int32_t t = 0; t <= m->last; t++) {
    if (!survivors(m, b)) return;
    for (const CpuElement& e : m->elements) {
      if (e.drift) drift(b, e.length);
      else kick(b, &m->strengths[size_t(e.first)], e.top);
    }
  }
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
  return m;
}

int32_t cpu_level(const CpuMap* m, int32_t turns) {
  for (size_t t = 0; t < m->thresholds.size(); t++)
    if (turns <= m->thresholds[t]) return int32_t(t) + 1;
  return 0;
}

CpuSample cpu_track_sample(const CpuMap* m, const double jitter[4], int32_t* pixel_levels) {
  const float j[4] = {float(jitter[0]), float(jitter[1]), float(jitter[2]), float(jitter[3])};
  int64_t particles = int64_t(m->baseres) * m->baseres * m->baseres * m->baseres;
  int64_t blocks = (particles + kBlock - 1) / kBlock, turns = 0;
  std::vector<int64_t> levels(m->thresholds.size() + 1, 0);
  int64_t* counts = levels.data();
  int levels_n = int(levels.size());
  // NOTE: blocks vary wildly in cost (lost at once, or alive to the end),
  // so they are handed out a few at a time rather than in equal shares.
#pragma omp parallel for schedule(dynamic, 16) reduction(+ : turns) reduction(+ : counts[:levels_n])
  for (int64_t k = 0; k < blocks; k++) {
    Block b;
    int64_t first = k * kBlock, count = std::min<int64_t>(kBlock, particles - first);
    fill_block(m, first, count, j, &b);
    track_block(m, &b);
    for (int p = 0; p < count; p++) {
      int32_t level = cpu_level(m, b.turns[p]);
      turns += b.turns[p];
      counts[level]++;
      if (pixel_levels) pixel_levels[first + p] = level;
    }
  }
  return CpuSample{levels, turns};
}

int cpu_tracker_threads() {
#ifdef _OPENMP
  return omp_get_max_threads();
#else
  return 1;
#endif
}

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
