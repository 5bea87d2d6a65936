#include "results/merge.h"

#include <algorithm>

#include "results/schedule.h"
#include "util/text_util.h"

namespace {

typedef std::vector<RecordReader> Records;

std::string split_text(const RecordReader& r) {
  return format_text("%s holds shard %d of %d", r.path.c_str(), r.shard, r.shards);
}

// NOTE: a format-1 record of one sample tells only that sample; with no
// record that tells more, the split is the least that has every such
// sample first in its shard.
void find_split(const Records& records, MergePlan* plan) {
  const RecordReader* told = nullptr;
  for (const RecordReader& r : records) {
    if (!r.shards) continue;
    if (!told) told = &r;
    else if (r.shards != told->shards)
      plan->refusal =
          split_text(*told) + ", " + split_text(r) + ": the records of one merge come from one split of the run";
  }
  plan->shards = told ? told->shards : 1;
  for (const RecordReader& r : records)
    if (!told && r.samples) plan->shards = std::max(plan->shards, r.shard + 1);
}

void index_shards(const Records& records, MergePlan* plan) {
  for (size_t i = 0; i < records.size() && plan->refusal.empty(); i++) {
    const RecordReader& r = records[i];
    if (!r.samples) continue;
    if (r.shard >= plan->shards)
      plan->refusal = format_text("%s holds sample %lld first, which no shard of %d takes first", r.path.c_str(),
                                  static_cast<long long>(r.first), plan->shards);
    auto at = plan->by_shard.emplace(r.shard, ShardRecord{i, r.samples, r.last, r.owed});
    if (!at.second && plan->refusal.empty())
      plan->refusal = format_text("sample %lld is recorded twice (%s and %s)", static_cast<long long>(r.first),
                                  records[at.first->second.record].path.c_str(), r.path.c_str());
  }
}

// The first sample of shard K that the records do not hold (K + 1 when no
// record is the shard's).
int64_t unheld_from(const MergePlan* plan, int32_t shard) {
  auto at = plan->by_shard.find(shard);
  int64_t taken = at == plan->by_shard.end() ? 0 : at->second.samples;
  return shard + 1 + taken * plan->shards;
}

// The first sample of shard K from s on.
int64_t shard_sample_from(int64_t shard, int64_t shards, int64_t s) {
  return s <= shard + 1 ? shard + 1 : shard + 1 + (s - shard - 1 + shards - 1) / shards * shards;
}

// The first sample from s on that no record holds; plan->last + 1 when none.
int64_t next_missing(const MergePlan* plan, int64_t s) {
  int64_t found = plan->last + 1, t = s;
  // NOTE: consecutive samples belong to consecutive shards, so a shard
  // without a record is met within as many samples as there are records.
  bool unrecorded = plan->by_shard.size() < size_t(plan->shards);
  while (unrecorded && t < found && plan->by_shard.count(int32_t((t - 1) % plan->shards))) t++;
  if (unrecorded) found = std::min(found, t);
  for (const auto& shard : plan->by_shard)
    found = std::min(found, shard_sample_from(shard.first, plan->shards, std::max(s, unheld_from(plan, shard.first))));
  return found;
}

// The first sample from s on that a record holds; plan->last + 1 when none.
int64_t next_held(const MergePlan* plan, int64_t s) {
  int64_t found = plan->last + 1;
  for (const auto& shard : plan->by_shard) {
    int64_t sample = shard_sample_from(shard.first, plan->shards, s);
    if (sample < unheld_from(plan, shard.first)) found = std::min(found, sample);
  }
  return found;
}

std::string range_text(int64_t first, int64_t last) {
  return first == last ? format_text("%lld", static_cast<long long>(first))
                       : format_text("%lld-%lld", static_cast<long long>(first), static_cast<long long>(last));
}

// Where a record is in its second reading: the entry read ahead of the
// replay, and the random pass its last sample taken still owes.
struct Cursor {
  RecordReader* record;
  RecordEntry ahead;
  bool has_ahead;
  int64_t owed;
};

bool advance(Cursor* c, std::string* error) {
  c->has_ahead = next_record_entry(c->record, &c->ahead);
  *error = c->record->error;
  return error->empty();
}

bool start_cursors(Records* records, const MergePlan* plan, std::vector<Cursor>* cursors, std::string* error) {
  for (const auto& shard : plan->by_shard) {
    RecordReader* r = &(*records)[shard.second.record];
    cursors->push_back(Cursor{r, RecordEntry{}, false, 0});
    if (!rewind_record_reader(r)) *error = r->error;
    if (!error->empty() || !advance(&cursors->back(), error)) return false;
  }
  return true;
}

// Adds the record's entries up to sample last to the span; false when a
// 't' line reaches past it, or at an error.
bool gather(Cursor* c, int64_t last, int64_t every, RecordSpan* span, std::string* error) {
  int32_t n = int32_t(span->samples.sum.size()) - 1;
  for (RecordEntry* e = &c->ahead; c->has_ahead && (e->kind == 'r' || e->first <= last);) {
    if (e->kind != 'r' && e->last > last) return false;
    add_entry(span, e, n);
    c->owed = e->kind == 's' ? random_pass_owed(e->first, every) : 0;
    if (!advance(c, error)) return false;
  }
  return true;
}

// The random pass still owed after sample last: its record ended before it.
int64_t owed_after(const std::vector<Cursor>& cursors, int64_t last, int64_t every) {
  int64_t owed = 0;
  for (const Cursor& c : cursors)
    if (c.owed && c.owed * every == last) owed = c.owed;
  return owed;
}

// Replays the samples of checkpoint interval L up to last; false when they
// cannot be replayed (a 't' line reaches past last), or at an error.
bool replay_interval(Ledger* ledger, Reports* reports, std::vector<Cursor>* cursors, int64_t last, std::string* error) {
  RecordSpan span = empty_span(iteration_count(ledger->job));
  for (Cursor& c : *cursors)
    if (!gather(&c, last, ledger->every, &span, error)) return false;
  LedgerDue due = ledger_take_span(ledger, &span, owed_after(*cursors, last, ledger->every));
  write_due_reports(reports, ledger, &due);
  return true;
}

}  // namespace

bool survey_record(RecordReader* r, const std::string& path, const JobSettings* job, uint64_t hash,
                   const std::string& job_path, std::string* error) {
  if (!open_record_reader(r, path, job)) *error = r->error;
  else if (r->has_header && r->header.job_hash != hash)
    *error = format_text("%s is the record of another job (job file hash %016llx; %s has %016llx); give the job's "
                         "directory with --job", path.c_str(), static_cast<unsigned long long>(r->header.job_hash),
                         job_path.c_str(), static_cast<unsigned long long>(hash));
  else if (!read_to_end(r))
    *error = r->error;
  return error->empty();
}

MergePlan plan_merge(const Records& records, int64_t samples) {
  MergePlan plan{1, {}, samples, ""};
  find_split(records, &plan);
  if (plan.refusal.empty()) index_shards(records, &plan);
  for (const RecordReader& r : records)
    if (!samples) plan.last = std::max(plan.last, r.last);
  return plan;
}

int64_t missing_count(const MergePlan* plan) {
  int64_t missing = plan->last;
  for (const auto& shard : plan->by_shard) {
    int64_t first = shard.first + 1, in_run = plan->last >= first ? (plan->last - first) / plan->shards + 1 : 0;
    missing -= std::min(shard.second.samples, in_run);
  }
  return missing;
}

std::string missing_samples_text(const MergePlan* plan, size_t limit) {
  std::string text;
  int64_t listed = 0, s = next_missing(plan, 1);
  for (size_t ranges = 0; s <= plan->last && ranges < limit; ranges++, s = next_missing(plan, s)) {
    int64_t end = next_held(plan, s) - 1;
    text += (ranges ? ", " : "") + range_text(s, end);
    listed += end - s + 1;
    s = end + 1;
  }
  int64_t more = missing_count(plan) - listed;
  return more > 0 ? text + format_text(" and %lld more", static_cast<long long>(more)) : text;
}

std::string missing_randoms_text(const MergePlan* plan, const Records& records, int64_t* count) {
  std::string text;
  *count = 0;
  for (const auto& shard : plan->by_shard) {
    const ShardRecord& r = shard.second;
    if (!r.owed || r.last > plan->last) continue;
    text += format_text("random pass %lld (after sample %lld in %s)\n", static_cast<long long>(r.owed),
                        static_cast<long long>(r.last), records[r.record].path.c_str());
    ++*count;
  }
  return text;
}

bool replay_plan(Ledger* ledger, Reports* reports, Records* records, const MergePlan* plan, std::string* error) {
  std::vector<Cursor> cursors;
  error->clear();
  if (!start_cursors(records, plan, &cursors, error)) return false;
  int64_t held = std::min(next_missing(plan, 1) - 1, plan->last);
  // NOTE: an interval is replayed whole or not at all: a gap in it leaves
  // its checkpoint, the only result it makes, out of reach anyway.
  for (int32_t l = 1; checkpoint_samples(l - 1) < held; l++) {
    int64_t last = std::min(checkpoint_samples(l), held);
    if (last < checkpoint_samples(l) && last < plan->last) break;
    if (!replay_interval(ledger, reports, &cursors, last, error)) break;
  }
  return error->empty();
}
