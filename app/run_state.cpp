#include "app/run_state.h"

int32_t run_samples(const RunState* run) { return ledger_samples(&run->ledger); }

int32_t samples_taken(const RunState* run) { return run_samples(run) - run->samples_replayed; }

bool is_shard(const RunState* run) { return run->ledger.shards != 0; }
