// Which sub-cell jitter each pass takes, which process takes which sample,
// and when result blocks are due.
#pragma once
#include <cstdint>

// The four jitter fractions (x, xp, y, yp) of scheduled sample number
// sample (from 1).
void sample_jitter(int32_t sample, double jitter[4]);

// The jitter fractions of random pass index (1, 2, ...) of a run with the
// given seed. Counter-based: any pass can be computed alone, by a shard or
// a resumed run, and a run is reproduced by its seed.
void random_pass_jitter(uint64_t seed, int64_t index, double jitter[4]);

// The global number of a process's taken-th sample (from 1): every sample
// for a run that is not split (shards 0), else shard K's every N-th.
int64_t shard_sample_number(int32_t shard, int32_t shards, int64_t taken);

void jitter_indices(int32_t sample, uint32_t* jx, uint32_t* jxp, uint32_t* jy, uint32_t* jyp);
double jitter_fraction(uint32_t index);

// The random pass owed after scheduled sample `sample` when every sample
// that is a multiple of `every` (the job's randompasses) owes one: its
// number, sample / every; 0 when none is owed (and always when every <= 0).
int64_t random_pass_owed(int64_t sample, int64_t every);
// L^4 in 64 bits, so no checkpoint index wraps.
int64_t checkpoint_samples(int32_t checkpoint);
bool checkpoint_due(int32_t samples, int32_t checkpoint);
int64_t samples_to_checkpoint(int32_t samples, int32_t checkpoint);
// The block of checkpoint L is irregular when L is not a power of two.
bool checkpoint_irregular(int32_t checkpoint);
