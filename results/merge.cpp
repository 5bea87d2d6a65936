#include "results/merge.h"

#include <algorithm>
#include <map>

#include "util/text_util.h"

namespace {

// Where each pass number was first found: the pass and its record's index.
struct Found {
  const RecordPass* pass;
  size_t record;
};

void note_duplicate(MergePlan* plan, const RecordPass* pass, const std::string& first, const std::string& second) {
  if (plan->duplicate) return;
  plan->duplicate = pass->number;
  plan->duplicate_kind = pass->kind;
  plan->duplicate_files = first == second ? first : first + " and " + second;
}

// Every pass of every record by kind and number; the first duplicate noted.
void index_passes(const std::vector<RecordFile>& records, MergePlan* plan, std::map<int64_t, Found>* samples,
                  std::map<int64_t, Found>* randoms) {
  for (size_t r = 0; r < records.size(); r++)
    for (const RecordPass& pass : records[r].passes) {
      std::map<int64_t, Found>* found = pass.kind == 's' ? samples : randoms;
      auto at = found->emplace(pass.number, Found{&pass, r});
      if (!at.second) note_duplicate(plan, &pass, records[at.first->second.record].path, records[r].path);
    }
}

bool replay_order(const RecordPass* a, const RecordPass* b) {
  return a->after != b->after ? a->after < b->after : a->number < b->number;
}

std::string range_text(int64_t first, int64_t last) {
  return first == last ? format_text("%lld", static_cast<long long>(first))
                       : format_text("%lld-%lld", static_cast<long long>(first), static_cast<long long>(last));
}

}  // namespace

MergePlan plan_merge(const std::vector<RecordFile>& records, int32_t samples) {
  MergePlan plan{{}, {}, 0, 0, ""};
  std::map<int64_t, Found> found_samples, found_randoms;
  index_passes(records, &plan, &found_samples, &found_randoms);
  int64_t last = samples ? samples : found_samples.empty() ? 0 : found_samples.rbegin()->first;
  plan.samples.assign(size_t(last) + 1, nullptr);
  for (const auto& f : found_samples)
    if (f.first <= last) plan.samples[size_t(f.first)] = f.second.pass;
  for (const auto& f : found_randoms) plan.randoms.push_back(f.second.pass);
  std::sort(plan.randoms.begin(), plan.randoms.end(), replay_order);
  return plan;
}

std::string missing_samples_text(const MergePlan* plan, size_t limit) {
  std::vector<std::string> ranges;
  int64_t last = int64_t(plan->samples.size()) - 1;
  for (int64_t s = 1; s <= last; s++) {
    if (plan->samples[size_t(s)]) continue;
    int64_t end = s;
    while (end < last && !plan->samples[size_t(end + 1)]) end++;
    ranges.push_back(range_text(s, end));
    s = end;
  }
  std::string text;
  for (size_t k = 0; k < ranges.size() && k < limit; k++) text += (k ? ", " : "") + ranges[k];
  if (ranges.size() > limit) text += format_text(" and %lld more", static_cast<long long>(ranges.size() - limit));
  return text;
}

Pass recorded_pass(const RecordPass* pass) { return Pass{pass->kind, pass->number, pass->levels}; }

int32_t replay_plan(Ledger* ledger, Reports* reports, const MergePlan* plan) {
  size_t next_random = 0;
  int64_t s = 0;
  auto replay = [&](const RecordPass* recorded) {
    Pass pass = recorded_pass(recorded);
    LedgerDue due = ledger_take(ledger, &pass);
    write_due_reports(reports, ledger, &due);
  };
  for (;; s++) {
    for (; next_random < plan->randoms.size() && plan->randoms[next_random]->after == s; next_random++)
      replay(plan->randoms[next_random]);
    if (s + 1 >= int64_t(plan->samples.size()) || !plan->samples[size_t(s + 1)]) break;
    replay(plan->samples[size_t(s + 1)]);
  }
  return int32_t(s);
}
