#include "app/schedule.h"

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
