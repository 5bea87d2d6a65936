#include "results/schedule.h"

namespace {

const uint64_t kGolden = 0x9E3779B97F4A7C15ull;

// Output k (from 0) of the SplitMix64 stream of the seed: the stream's
// state after k + 1 steps, mixed.
uint64_t splitmix64(uint64_t seed, uint64_t k) {
  uint64_t z = seed + (k + 1) * kGolden;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

// Bit k of each index comes from base-16 digit k of the sample number:
// jx = d0^d1^d2^d3, jxp = d0^d1, jy = d0^d2, jyp = d0. The map is one to
// one, so 16 samples that differ only in digit k cover all 16 offsets.
void jitter_indices(int32_t sample, uint32_t* jx, uint32_t* jxp, uint32_t* jy, uint32_t* jyp) {
  *jx = *jxp = *jy = *jyp = 0;
  uint32_t s = static_cast<uint32_t>(sample), w = 1;
  for (; s != 0; s /= 16, w *= 2) {
    if (s & 1) { *jx ^= w; *jxp ^= w; *jy ^= w; *jyp ^= w; }
    if (s & 2) { *jx ^= w; *jxp ^= w; }
    if (s & 4) { *jx ^= w; *jy ^= w; }
    if (s & 8) *jx ^= w;
  }
}

// Base-2 radical inverse with the lowest bit inverted, so that index 1
// (sample 1) is the unshifted grid.
double jitter_fraction(uint32_t index) {
  double result = 0.5 * (1 - (index & 1)), weight = 0.25;
  for (index >>= 1; index != 0; index >>= 1, weight *= 0.5) result += (index & 1) * weight;
  return result;
}

int64_t checkpoint_samples(int32_t checkpoint) {
  int64_t l = checkpoint;
  return l * l * l * l;
}

bool checkpoint_due(int32_t samples, int32_t checkpoint) { return samples >= checkpoint_samples(checkpoint); }

int64_t samples_to_checkpoint(int32_t samples, int32_t checkpoint) {
  return checkpoint_samples(checkpoint) - samples;
}

bool checkpoint_irregular(int32_t checkpoint) { return (checkpoint & (checkpoint - 1)) != 0; }

void sample_jitter(int32_t sample, double jitter[4]) {
  uint32_t index[4];
  jitter_indices(sample, &index[0], &index[1], &index[2], &index[3]);
  for (int k = 0; k < 4; k++) jitter[k] = jitter_fraction(index[k]);
}

// NOTE: pass j takes outputs 4(j - 1) .. 4(j - 1) + 3 of one SplitMix64
// stream, so all passes together are one stream of independent numbers.
// Each fraction keeps the top 24 bits: a multiple of 2^-24 below 1 is a
// float as it is, so the engines, which narrow the fractions to single
// precision, track exactly these offsets, and none rounds up to 1.
void random_pass_jitter(uint64_t seed, int64_t index, double jitter[4]) {
  uint64_t first = 4 * static_cast<uint64_t>(index - 1);
  for (int k = 0; k < 4; k++) jitter[k] = static_cast<double>(splitmix64(seed, first + k) >> 40) / 16777216.0;
}

int64_t shard_sample_number(int32_t shard, int32_t shards, int64_t taken) {
  if (shards == 0) return taken;
  return int64_t(shard) + 1 + (taken - 1) * shards;
}

int64_t random_pass_owed(int64_t sample, int64_t every) { return every > 0 && sample % every == 0 ? sample / every : 0; }
