// The body of a CPU tracking kernel, included by one translation unit per
// instruction set and precision, which defines KERNEL_FUNCTION (the entry
// point's name), KERNEL_DOUBLE (1 to track in double precision, else 0),
// KERNEL_LANES (reals per vector: 16, 8 or 4 floats, 8, 4 or 2 doubles) and
// KERNEL_VECTORS (vectors tracked together). Everything but the entry point
// is local to the unit. The real type (real, and the vectors vf and vi of
// reals and of integers of the same width) is all that differs between
// the precisions.
//
// How a thread tracks its share of a sample:
// - It claims particles in chunks, computes their start points a vector at
//   a time and tests them once; those already outside are counted at once,
//   the others queue for a lane.
// - KERNEL_VECTORS vectors of KERNEL_LANES lanes hold one particle each.
//   A turn tests every lane against the collimators, then applies every
//   element of the map to all vectors; x, xp, y, yp stay in registers for
//   the whole turn, and which lanes hold a living particle is a bit mask.
// - When a particle is lost or makes its last turn, its level is counted
//   and the next queued particle takes its lane at once (each lane keeps
//   the turn at which its particle started), so lanes seldom idle beside
//   long-lived neighbours. That bookkeeping runs only on such turns.
//
// The arithmetic is that of the tests' reference tracker, operation for
// operation in the unit's precision; these units are built without
// floating-point contraction so that no instruction set fuses a multiply
// and an add where another does not.
#include <cstdint>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "engines/cpu_kernel.h"

namespace {

const int kLanes = KERNEL_LANES;
const int kVectors = KERNEL_VECTORS;
const int kSlots = kLanes * kVectors;
const int kChunk = 256;  // particles queued at a time; a multiple of kLanes
const uint32_t kAllLanes = kLanes == 32 ? ~0u : (1u << kLanes) - 1;

// The lanes' reals and the integers of their width (a comparison of two
// vectors of reals gives one of these, each lane all ones or all zeros).
#if KERNEL_DOUBLE
typedef double real;
typedef int64_t lane_int;
#define KERNEL_REAL_BYTES 8
#define KERNEL_SAMPLE_MAP(sample) ((sample)->map_double)
#else
typedef float real;
typedef int32_t lane_int;
#define KERNEL_REAL_BYTES 4
#define KERNEL_SAMPLE_MAP(sample) ((sample)->map)
#endif
typedef KernelMapOf<real> Map;
typedef KernelOpOf<real> Op;
typedef real vf __attribute__((vector_size(KERNEL_REAL_BYTES * KERNEL_LANES)));
typedef lane_int vi __attribute__((vector_size(KERNEL_REAL_BYTES * KERNEL_LANES)));

#if defined(__AVX512F__) && KERNEL_LANES * KERNEL_REAL_BYTES == 64
#define KERNEL_AVX512 1
#elif defined(__AVX2__) && KERNEL_LANES * KERNEL_REAL_BYTES == 32
#define KERNEL_AVX2 1
#elif defined(__SSE2__) && KERNEL_LANES * KERNEL_REAL_BYTES == 16
#define KERNEL_SSE2 1
#endif

// The instructions of the real type in AVX-512 registers: the masked
// comparison, the expanding and compressing moves between registers.
#if KERNEL_AVX512 && KERNEL_DOUBLE
typedef __m512d native;
typedef __mmask8 lane_mask;
#define KERNEL_MASK_CMP _mm512_mask_cmp_pd_mask
#define KERNEL_MASK_EXPAND _mm512_mask_expand_pd
#define KERNEL_MASKZ_COMPRESS _mm512_maskz_compress_pd
#define KERNEL_NONZERO_MASK _mm512_cmpneq_epi64_mask
#elif KERNEL_AVX512
typedef __m512 native;
typedef __mmask16 lane_mask;
#define KERNEL_MASK_CMP _mm512_mask_cmp_ps_mask
#define KERNEL_MASK_EXPAND _mm512_mask_expand_ps
#define KERNEL_MASKZ_COMPRESS _mm512_maskz_compress_ps
#define KERNEL_NONZERO_MASK _mm512_cmpneq_epi32_mask
#endif

// NOTE: the map's code must be inlined into the loop over the turns, or
// the lanes' coordinates would pass through memory at every element.
#define KERNEL_INLINE inline __attribute__((always_inline))

inline vf splat(real a) { return vf{} + a; }

inline vf load(const real* p) {
  vf v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

inline void store(real* p, vf v) { __builtin_memcpy(p, &v, sizeof v); }

// The lanes where a comparison's result is set, as bits.
inline uint32_t bits(vi m) {
#if KERNEL_AVX512
  return KERNEL_NONZERO_MASK(__m512i(m), _mm512_setzero_si512());
#elif KERNEL_AVX2 && KERNEL_DOUBLE
  return uint32_t(_mm256_movemask_pd(__m256d(m)));
#elif KERNEL_AVX2
  return uint32_t(_mm256_movemask_ps(__m256(m)));
#elif KERNEL_SSE2 && KERNEL_DOUBLE
  return uint32_t(_mm_movemask_pd(__m128d(m)));
#elif KERNEL_SSE2
  return uint32_t(_mm_movemask_ps(__m128(m)));
#else
  uint32_t b = 0;
  for (int l = 0; l < kLanes; l++) b |= uint32_t(m[l] != 0) << l;
  return b;
#endif
}

// Lanes of alive whose particle is within the collimators. Comparisons
// with NaN are false: a particle turned NaN is lost.
template <bool TestX, bool TestY>
KERNEL_INLINE uint32_t inside(vf x, vf y, const vf limit[4], uint32_t alive) {
#if KERNEL_AVX512
  lane_mask k = lane_mask(alive);
  if (TestX) {
    k = KERNEL_MASK_CMP(k, native(x), native(limit[0]), _CMP_GE_OQ);
    k = KERNEL_MASK_CMP(k, native(x), native(limit[1]), _CMP_LE_OQ);
  }
  if (TestY) {
    k = KERNEL_MASK_CMP(k, native(y), native(limit[2]), _CMP_GE_OQ);
    k = KERNEL_MASK_CMP(k, native(y), native(limit[3]), _CMP_LE_OQ);
  }
  return k;
#else
  vi in = vi{} - 1;
  if (TestX) in &= (x >= limit[0]) & (x <= limit[1]);
  if (TestY) in &= (y >= limit[2]) & (y <= limit[3]);
  return bits(in) & alive;
#endif
}

// v with the lanes set in lanes taken, in order, from src[0], src[1], ...
// (src has kLanes reals).
// NOTE: AVX-512's expanding load and compressing store are microcoded on
// some processors (AMD's Zen 4: over a hundred cycles each); their forms
// between registers are fast everywhere, so memory is read and written
// whole vectors at a time.
inline vf expand(vf v, uint32_t lanes, const real* src) {
#if KERNEL_AVX512
  return vf(KERNEL_MASK_EXPAND(native(v), lane_mask(lanes), native(load(src))));
#else
  for (int k = 0; lanes; k++, lanes &= lanes - 1) v[__builtin_ctz(lanes)] = src[k];
  return v;
#endif
}

// Writes the lanes of v set in lanes to dst, in order; the kLanes reals
// at dst may all be written.
inline void compress(real* dst, uint32_t lanes, vf v) {
#if KERNEL_AVX512
  store(dst, vf(KERNEL_MASKZ_COMPRESS(lane_mask(lanes), native(v))));
#else
  for (int k = 0; lanes; k++, lanes &= lanes - 1) dst[k] = v[__builtin_ctz(lanes)];
#endif
}

// The particles of the sample not yet tracked: the start points of those
// that passed their first test, in particle order (and room for a whole
// vector past the last).
struct Queue {
  real x[kChunk + kLanes], xp[kChunk + kLanes], y[kChunk + kLanes], yp[kChunk + kLanes];
  int32_t particle[kChunk];
  int32_t size, next;
  int64_t claimed, claim_end;  // particles claimed but not yet queued
  bool drained;                // no particle of the sample is left to claim
};

// The positions and momenta of all lanes, in memory while lanes are filled.
struct State {
  vf x[kVectors], xp[kVectors], y[kVectors], yp[kVectors];
};

// Each lane's particle and the turn (of this thread's count of turns) at
// which it started; a free lane's start is later than any turn. The
// starts are integers as wide as the reals, so that a vector of them
// compares lane for lane with a vector of reals' masks.
struct Lanes {
  int32_t particle[kSlots];
  lane_int start[kSlots];
  uint32_t alive[kVectors];  // lanes holding a particle still tracked
  int32_t free;              // lanes holding none
  int64_t finish;            // the first turn at which some particle makes its last turn
};

struct Tracker {
  KernelSample* sample;
  const Map* map;
  KernelTally* tally;
  int64_t turns;  // turns made by the particles counted so far
  int64_t edges;  // survivors counted so far on the box's outermost layer
  vf limit[4];
  Queue queue;
  Lanes lanes;
};

const int32_t kNever = INT32_MAX;
// NOTE: a thread's count of turns goes on from particle to particle, so it
// passes any one particle's last turn count many times over; it is moved
// back to 0 (and every lane's start with it) once it reaches this.
const int32_t kRestartClock = 1 << 30;

KERNEL_INLINE void count_particle(Tracker* k, int32_t particle, int32_t turns) {
  int32_t level = kernel_level(k->map->lowered, turns);
  k->tally->counts[level] += 1;
  k->turns += turns;
  if (level == 0) k->edges += kernel_on_edge(k->map->lowered, particle);
  if (k->sample->pixel_levels) k->sample->pixel_levels[particle] = level;
}

// The start points of the kLanes particles from first on (the grid point
// of each pixel with the sample's jitter). Pixels of one row are
// consecutive particles: their grid coordinates come from the tables a
// vector at a time, unless the vector spans rows.
void start_points(const Map* m, const real offset[4], int32_t first, vf out[4]) {
  int32_t side = m->baseres * m->baseres, row = first / side, column = first % side;
  vf index[4];
  if (column + kLanes <= side) {
    index[0] = load(m->coarse + column);
    index[1] = load(m->fine + column);
    index[2] = splat(m->coarse[row]);
    index[3] = splat(m->fine[row]);
  } else {
    for (int l = 0; l < kLanes; l++, column++) {
      if (column == side) column = 0, row++;
      int32_t r = row < side ? row : side - 1;  // lanes past the last pixel
      index[0][l] = m->coarse[column], index[1][l] = m->fine[column];
      index[2][l] = m->coarse[r], index[3][l] = m->fine[r];
    }
  }
  for (int c = 0; c < 4; c++) out[c] = m->low[c] + m->span[c] * (index[c] + offset[c]);
}

// Queues the next kChunk particles this thread claimed (claiming more from
// the sample when none are left), counting those outside at the start.
// False when no particle was left to claim.
template <bool TestX, bool TestY>
bool claim_chunk(Tracker* k) {
  Queue* q = &k->queue;
  if (q->claimed >= q->claim_end) {
    q->claimed = __atomic_fetch_add(&k->sample->next, kKernelClaim, __ATOMIC_RELAXED);
    q->claim_end = q->claimed + kKernelClaim < k->sample->particles ? q->claimed + kKernelClaim : k->sample->particles;
  }
  int64_t first = q->claimed, count = q->claim_end - first;
  q->size = q->next = 0;
  q->drained = count <= 0;
  if (q->drained) return false;
  if (count > kChunk) count = kChunk;
  q->claimed += count;
  real offset[4];
  for (int c = 0; c < 4; c++) offset[c] = real(k->sample->jitter[c]) / real(k->map->baseres);
  int32_t level = kernel_level(k->map->lowered, 0);
  for (int32_t p = 0; p < count; p += kLanes) {
    uint32_t valid = count - p >= kLanes ? kAllLanes : (1u << (count - p)) - 1;
    vf s[4];
    start_points(k->map, offset, int32_t(first + p), s);
    uint32_t in = k->map->turn_limit > 0 ? inside<TestX, TestY>(s[0], s[2], k->limit, valid) : 0;
    uint32_t out = valid & ~in;
    k->tally->counts[level] += __builtin_popcount(out);
    for (uint32_t bit = level == 0 ? out : 0; bit; bit &= bit - 1)
      k->edges += kernel_on_edge(k->map->lowered, int32_t(first + p) + __builtin_ctz(bit));
    if (k->sample->pixel_levels)
      for (; out; out &= out - 1) k->sample->pixel_levels[first + p + __builtin_ctz(out)] = level;
    real* dst[4] = {q->x, q->xp, q->y, q->yp};
    for (int c = 0; c < 4; c++) compress(dst[c] + q->size, in, s[c]);
    for (; in; in &= in - 1) q->particle[q->size++] = int32_t(first + p) + __builtin_ctz(in);
  }
  return true;
}

// Gives the free lanes to queued particles, claiming chunks as needed; they
// start at turn t.
template <bool TestX, bool TestY>
__attribute__((noinline)) void fill_lanes(Tracker* k, State* s, int32_t t) {
  Queue* q = &k->queue;
  Lanes* lanes = &k->lanes;
  for (int v = 0; v < kVectors; v++) {
    uint32_t free = kAllLanes & ~lanes->alive[v];
    while (free && (q->next < q->size || claim_chunk<TestX, TestY>(k))) {
      uint32_t take = free;  // the lowest lanes of free, as many as there are queued
      for (int32_t n = __builtin_popcount(take); n > q->size - q->next; n--)
        take &= ~(1u << (31 - __builtin_clz(take)));
      s->x[v] = expand(s->x[v], take, q->x + q->next);
      s->xp[v] = expand(s->xp[v], take, q->xp + q->next);
      s->y[v] = expand(s->y[v], take, q->y + q->next);
      s->yp[v] = expand(s->yp[v], take, q->yp + q->next);
      for (uint32_t bit = take; bit; bit &= bit - 1) {
        int slot = v * kLanes + __builtin_ctz(bit);
        lanes->particle[slot] = q->particle[q->next++];
        lanes->start[slot] = t;
      }
      lanes->alive[v] |= take;
      lanes->free -= __builtin_popcount(take);
      free &= ~take;
    }
  }
  int64_t finish = int64_t(t) + k->map->turn_limit;  // of the particles just started
  if (finish < lanes->finish) lanes->finish = finish;
}

// The first turn at which a particle in a lane makes its last turn, or the
// turn at which the count of turns starts again if that comes first.
KERNEL_INLINE int64_t first_finish(const Lanes* lanes, int32_t turn_limit) {
  vi oldest = vi{} + kNever;
  for (int v = 0; v < kVectors; v++) {
    vi start;
    __builtin_memcpy(&start, lanes->start + v * kLanes, sizeof start);
    oldest = start < oldest ? start : oldest;
  }
  int32_t first = kNever;
  for (int l = 0; l < kLanes; l++) first = oldest[l] < first ? int32_t(oldest[l]) : first;
  int64_t finish = int64_t(first) + turn_limit;
  return first == kNever || finish > kRestartClock ? kRestartClock : finish;
}

void restart_clock(Lanes* lanes, int32_t t, int32_t turn_limit) {
  for (int slot = 0; slot < kSlots; slot++)
    if (lanes->start[slot] != kNever) lanes->start[slot] -= t;
  lanes->finish = first_finish(lanes, turn_limit);
}

// At turn t, after the test (in: the lanes still inside): counts the
// particles that were lost or made their last turn and frees their lanes.
KERNEL_INLINE void leave_lanes(Tracker* k, const uint32_t in[kVectors], int32_t t) {
  Lanes* lanes = &k->lanes;
  for (int v = 0; v < kVectors; v++) {
    uint32_t leaving = lanes->alive[v] & ~in[v];
    if (t >= lanes->finish) {
      vi start;
      __builtin_memcpy(&start, lanes->start + v * kLanes, sizeof start);
      leaving |= bits(start <= t - k->map->turn_limit);
    }
    for (uint32_t bit = leaving; bit; bit &= bit - 1) {
      int slot = v * kLanes + __builtin_ctz(bit);
      count_particle(k, lanes->particle[slot], t - int32_t(lanes->start[slot]));
      lanes->start[slot] = kNever;
    }
    lanes->alive[v] &= ~leaving;
    lanes->free += __builtin_popcount(leaving);
  }
  lanes->finish = first_finish(lanes, k->map->turn_limit);
}

KERNEL_INLINE void drift(vf x[], vf xp[], vf y[], vf yp[], real length) {
  for (int v = 0; v < kVectors; v++) {
    x[v] += length * xp[v];
    y[v] += length * yp[v];
  }
}

// xp -= sum s_j Re(z^j), yp += sum s_j Im(z^j), z = x + iy, the powers
// formed step by step, one complex product per order; a skew kick adds the
// imaginary parts to xp and the real ones to yp.
template <bool Skew = false>
KERNEL_INLINE void kick_any(const vf x[], vf xp[], const vf y[], vf yp[], const real* s, int32_t top) {
  for (int v = 0; v < kVectors; v++) {
    vf pr = x[v], pi = y[v], sr = s[0] * x[v], si = s[0] * y[v];
    for (int32_t j = 1; j < top; j++) {
      vf r = pr * x[v] - pi * y[v], i = pr * y[v] + pi * x[v];
      pr = r;
      pi = i;
      sr += s[j] * r;
      si += s[j] * i;
    }
    if (Skew) {
      xp[v] += si;
      yp[v] += sr;
    } else {
      xp[v] -= sr;
      yp[v] += si;
    }
  }
}

// Each plane through its 2 x 2 matrix c[0 .. 3] (x) and c[4 .. 7] (y).
KERNEL_INLINE void rotate(vf x[], vf xp[], vf y[], vf yp[], const real* c) {
  for (int v = 0; v < kVectors; v++) {
    vf u = x[v];
    x[v] = c[0] * u + c[1] * xp[v];
    xp[v] = c[2] * u + c[3] * xp[v];
    u = y[v];
    y[v] = c[4] * u + c[5] * yp[v];
    yp[v] = c[6] * u + c[7] * yp[v];
  }
}

// (x, xp, y, yp) through the 4 x 4 matrix m, row by row, each sum from its
// first term on.
KERNEL_INLINE void transform(vf x[], vf xp[], vf y[], vf yp[], const real* m) {
  for (int v = 0; v < kVectors; v++) {
    vf a = x[v], b = xp[v], c = y[v], d = yp[v];
    x[v] = m[0] * a + m[1] * b + m[2] * c + m[3] * d;
    xp[v] = m[4] * a + m[5] * b + m[6] * c + m[7] * d;
    y[v] = m[8] * a + m[9] * b + m[10] * c + m[11] * d;
    yp[v] = m[12] * a + m[13] * b + m[14] * c + m[15] * d;
  }
}

// The elements of the kinds other than drifts and normal kicks.
KERNEL_INLINE void apply_other(const Op* o, vf x[], vf xp[], vf y[], vf yp[]) {
  switch (o->kind) {
    case kKernelSkew: kick_any<true>(x, xp, y, yp, o->strengths, o->top); break;
    case kKernelRotation: rotate(x, xp, y, yp, o->strengths); break;
    case kKernelMatrix: transform(x, xp, y, yp, o->strengths); break;
    default: break;
  }
}

// The same kick with the order known when compiled, so that its loop over
// the orders is unrolled.
template <int Top>
KERNEL_INLINE void kick_to(const vf x[], vf xp[], const vf y[], vf yp[], const real* s) {
  kick_any(x, xp, y, yp, s, Top);
}

// One turn of the map for every lane.
// NOTE: each kick order has its own unrolled code, but every case of the
// switch adds to the registers the loop needs beside all lanes'
// coordinates; past order 4 (and with the kick of any order, whose loop
// over the orders is not unrolled) some coordinates would be kept in
// memory, at a quarter of the speed lost for every map. Maps with higher
// orders get a loop of their own (HighOrders).
const int32_t kUnrolledOrders = 4;

// Maps with skew kicks or linear elements (Others) have a loop of their
// own too, so that maps of drifts and normal kicks keep theirs as it was.
template <bool HighOrders, bool Others>
KERNEL_INLINE void apply_map(const Map* m, vf x[], vf xp[], vf y[], vf yp[]) {
  for (const Op* o = m->ops; o != m->ops + m->op_count; o++) {
    if (Others && o->kind != kKernelPlain) {
      apply_other(o, x, xp, y, yp);
      continue;
    }
    switch (o->top) {
      case 0: drift(x, xp, y, yp, o->length); break;
      case 1: kick_to<1>(x, xp, y, yp, o->strengths); break;
      case 2: kick_to<2>(x, xp, y, yp, o->strengths); break;
      case 3: kick_to<3>(x, xp, y, yp, o->strengths); break;
      case 4: kick_to<4>(x, xp, y, yp, o->strengths); break;
      default:
        if (HighOrders) kick_any(x, xp, y, yp, o->strengths, o->top);
        break;
    }
  }
}

// NOTE: lanes are given new particles only once kRefill of them are free
// (or all): each filling passes the lanes' coordinates through memory,
// which costs about as much as a few turns of a lane. The coordinates are
// otherwise local arrays indexed only by constants once the loops over the
// vectors are unrolled, so they live in registers.
const int32_t kRefill = kSlots / 16 > 0 ? kSlots / 16 : 1;

template <bool TestX, bool TestY, bool HighOrders, bool Others>
__attribute__((noinline)) void track(Tracker* k) {
  Lanes* lanes = &k->lanes;
  for (int slot = 0; slot < kSlots; slot++) lanes->start[slot] = kNever;
  for (int v = 0; v < kVectors; v++) lanes->alive[v] = 0;
  lanes->free = kSlots;
  lanes->finish = kRestartClock;
  State mem = {};
  fill_lanes<TestX, TestY>(k, &mem, 0);
  if (lanes->free == kSlots) return;
  vf x[kVectors], xp[kVectors], y[kVectors], yp[kVectors];
  uint32_t alive[kVectors];
  for (int v = 0; v < kVectors; v++) x[v] = mem.x[v], xp[v] = mem.xp[v], y[v] = mem.y[v], yp[v] = mem.yp[v];
  for (int v = 0; v < kVectors; v++) alive[v] = lanes->alive[v];
  for (int32_t t = 0;; t++) {
    uint32_t in[kVectors], change = 0;
    for (int v = 0; v < kVectors; v++) {
      in[v] = inside<TestX, TestY>(x[v], y[v], k->limit, alive[v]);
      change |= in[v] ^ alive[v];
    }
    if (__builtin_expect(change != 0 || t >= lanes->finish, 0)) {
      leave_lanes(k, in, t);
      if (lanes->free >= kRefill && !k->queue.drained) {
        for (int v = 0; v < kVectors; v++) mem.x[v] = x[v], mem.xp[v] = xp[v], mem.y[v] = y[v], mem.yp[v] = yp[v];
        fill_lanes<TestX, TestY>(k, &mem, t);
        for (int v = 0; v < kVectors; v++) x[v] = mem.x[v], xp[v] = mem.xp[v], y[v] = mem.y[v], yp[v] = mem.yp[v];
      }
      if (lanes->free == kSlots) return;
      for (int v = 0; v < kVectors; v++) alive[v] = lanes->alive[v];
      if (t >= kRestartClock) restart_clock(lanes, t, k->map->turn_limit), t = 0;
    }
    apply_map<HighOrders, Others>(k->map, x, xp, y, yp);
  }
}

template <bool HighOrders, bool Others>
void track_tests(Tracker* k) {
  if (k->map->test_x && k->map->test_y) track<true, true, HighOrders, Others>(k);
  else if (k->map->test_x) track<true, false, HighOrders, Others>(k);
  else if (k->map->test_y) track<false, true, HighOrders, Others>(k);
  else track<false, false, HighOrders, Others>(k);
}

void track_sample(KernelSample* sample, KernelTally* tally) {
  Tracker k;
  k.sample = sample;
  k.map = KERNEL_SAMPLE_MAP(sample);
  k.tally = tally;
  for (int c = 0; c < 4; c++) k.limit[c] = splat(k.map->limit[c]);
  k.turns = 0;
  k.edges = 0;
  k.queue.size = k.queue.next = 0;
  k.queue.claimed = k.queue.claim_end = 0;
  k.queue.drained = false;
  bool high = false;
  for (int32_t e = 0; e < k.map->op_count; e++) high = high || k.map->ops[e].top > kUnrolledOrders;
  bool others = k.map->linear_or_skew != 0;
  if (high) others ? track_tests<true, true>(&k) : track_tests<true, false>(&k);
  else others ? track_tests<false, true>(&k) : track_tests<false, false>(&k);
  tally->turns += k.turns;
  tally->edge_survivors += k.edges;
}

}  // namespace

void KERNEL_FUNCTION(KernelSample* sample, KernelTally* tally) { track_sample(sample, tally); }
