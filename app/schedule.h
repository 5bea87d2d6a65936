// Which sub-cell jitter each sample takes, and when result blocks are due.
#pragma once
#include <cstdint>

void jitter_indices(int32_t sample, uint32_t* jx, uint32_t* jxp, uint32_t* jy, uint32_t* jyp);
double jitter_fraction(uint32_t index);

// L^4 in 64 bits, so no checkpoint index wraps.
int64_t checkpoint_samples(int32_t checkpoint);
bool checkpoint_due(int32_t samples, int32_t checkpoint);
int64_t samples_to_checkpoint(int32_t samples, int32_t checkpoint);
// The block of checkpoint L is irregular when L is not a power of two.
bool checkpoint_irregular(int32_t checkpoint);
