#include "results/ledger.h"

#include <algorithm>

#include "results/schedule.h"

namespace {

int32_t turn_counts(const Ledger* l) { return iteration_count(l->job); }

// The pass's line; a fold may follow once no random pass is owed.
void record_pass(Ledger* l, const Pass* p, LedgerDue* due) {
  if (!l->record || !l->record->file) return;
  std::string line = record_pass_text(p->kind, p->number, p->levels.data(), int32_t(p->levels.size()), p->edge);
  due->record_lost = !append_record_line(l->record, line, l->owed == 0);
}

void reach_checkpoint(Ledger* l, LedgerDue* due) {
  if (l->shards || !checkpoint_due(ledger_samples(l), l->next_checkpoint)) return;
  due->block = l->next_checkpoint++;
  l->aperture_due = l->every > 0;
}

void settle_aperture(Ledger* l, LedgerDue* due) {
  if (!l->aperture_due || l->owed) return;
  l->aperture_due = false;
  due->aperture = true;
}

// NOTE: the pass owed is kept rather than worked out from the sample
// count: a shard takes only some samples, and a resumed run reads its
// passes back, so what is owed follows the samples this process counted.
void take_sample(Ledger* l, const Pass* p, LedgerDue* due) {
  add_pass_counts(&l->samples, p->levels.data(), turn_counts(l));
  l->samples.edge += p->edge;
  if (int64_t owed = random_pass_owed(p->number, l->every)) l->owed = owed;
  reach_checkpoint(l, due);
}

void take_random(Ledger* l, const Pass* p) {
  add_pass_counts(&l->randoms, p->levels.data(), turn_counts(l));
  l->randoms.edge += p->edge;
  if (p->number == l->owed) l->owed = 0;
}

}  // namespace

Ledger start_ledger(const JobSettings* job, int32_t shard, int32_t shards) {
  int32_t n = iteration_count(job);
  return Ledger{job, shard, shards, empty_sums(n), empty_sums(n), 1, std::max(job->randompasses, 0), job->seed,
                0, false, nullptr};
}

LedgerDue ledger_take(Ledger* l, const Pass* p) {
  LedgerDue due{0, false, false};
  if (p->kind == 's') take_sample(l, p, &due);
  else take_random(l, p);
  record_pass(l, p, &due);
  settle_aperture(l, &due);
  return due;
}

LedgerDue ledger_take_span(Ledger* l, const RecordSpan* span, int64_t owed) {
  LedgerDue due{0, false, false};
  add_sums(&l->samples, &span->samples);
  add_sums(&l->randoms, &span->randoms);
  l->owed = owed;
  reach_checkpoint(l, &due);
  settle_aperture(l, &due);
  return due;
}

int32_t ledger_samples(const Ledger* l) { return int32_t(l->samples.passes); }

bool random_pass_owed(const Ledger* l) { return l->owed > 0; }

int64_t next_sample_number(const Ledger* l) {
  return shard_sample_number(l->shard, l->shards, l->samples.passes + 1);
}

bool samples_exhausted(const Ledger* l) { return next_sample_number(l) > kLastSample; }

Pass next_pass(const Ledger* l, double jitter[4]) {
  if (random_pass_owed(l)) {
    random_pass_jitter(l->seed, l->owed, jitter);
    return Pass{'r', l->owed, {}};
  }
  int64_t sample = next_sample_number(l);
  sample_jitter(int32_t(sample), jitter);
  return Pass{'s', sample, {}};
}

BlockProgress block_progress(const Ledger* l) {
  int32_t samples = ledger_samples(l);
  return BlockProgress{samples, l->next_checkpoint, checkpoint_samples(l->next_checkpoint),
                       samples_to_checkpoint(samples, l->next_checkpoint)};
}
