#include "results/record_write.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "gfx/clock.h"
#include "util/text_util.h"

namespace {

// NOTE: a sync waits for the disk. Lines are flushed to the system one by
// one, which a killed process cannot lose; only a machine that goes down
// can lose what was not synced, and then at most this much of the run.
const double kSyncPeriod = 1.0;
const int64_t kFoldAfter = int64_t(1) << 20;

// NOTE: a fold reads the whole record; waiting until the new lines are as
// long as what was folded keeps the work of all folds proportional to the
// lines written.
int64_t next_fold(int64_t folded) { return folded + std::max(kFoldAfter, folded); }

bool record_lost(RecordWriter* w, int error) {
  if (w->file) std::fclose(w->file);
  w->file = nullptr;
  if (!truncate_file(w->path.c_str(), w->length))
    std::fprintf(stderr, "%s: a torn last line could not be cut off\n", w->path.c_str());
  w->failed = true;
  w->error = error;
  return false;
}

bool put(FILE* out, const std::string& text) { return std::fwrite(text.data(), 1, text.size(), out) == text.size(); }

// The record's text folded: its header, then per checkpoint interval one
// 't' line that sums the samples and random passes of its lines there.
bool write_folded(const RecordWriter* w, FILE* out, std::string* why) {
  RecordReader r;
  if (!open_record_reader(&r, w->path, w->job)) *why = r.error;
  if (!r.error.empty()) return false;
  if (!r.header.shards) expect_split(&r, w->header.shard, w->header.shards);
  int32_t n = iteration_count(w->job);
  bool written = put(out, record_header_text(&w->header));
  RecordSpan span = empty_span(n);
  RecordEntry e;
  while (written && next_record_entry(&r, &e)) {
    if (e.kind != 'r' && span.first && checkpoint_of(e.first) != checkpoint_of(span.first)) {
      written = put(out, record_sums_text(&span));
      span = empty_span(n);
    }
    add_entry(&span, &e, n);
  }
  *why = r.error.empty() && r.owed ? "its last sample still owes its random pass" : r.error;
  close_record_reader(&r);
  return written && why->empty() && (!span.first || put(out, record_sums_text(&span)));
}

// Puts the folded text in the record's place and appends to it from then on.
bool take_folded(RecordWriter* w, const std::string& temporary, int64_t length) {
  std::fclose(w->file);
  bool replaced = replace_file(temporary.c_str(), w->path.c_str());
  w->file = std::fopen(w->path.c_str(), "ab");
  if (!w->file) return record_lost(w, failure_code());
  if (replaced) w->length = length;
  return replaced;
}

void say_fold_failed(RecordWriter* w, const std::string& why) {
  if (!w->fold_failed)
    std::fprintf(stderr, "%s could not be folded (%s); it keeps all its lines\n", w->path.c_str(), why.c_str());
  w->fold_failed = true;
}

}  // namespace

bool open_record(RecordWriter* w, const std::string& path, const JobSettings* job, const RecordHeader* header) {
  FileLock lock = w->lock;
  *w = RecordWriter{path, std::fopen(path.c_str(), "wb"), job, *header, PerfClock(), 0, 0, false, 0, false, lock};
  if (!w->file) {
    w->failed = true;
    w->error = failure_code();
    return false;
  }
  std::string text = record_header_text(header);
  w->fold_at = next_fold(int64_t(text.size()));
  return append_record_line(w, text, false);
}

bool reopen_record(RecordWriter* w, const RecordReader* read, const RecordHeader* header) {
  FileLock lock = w->lock;
  RecordHeader own = read->header;
  own.format = header->format;
  own.shard = header->shard;
  own.shards = header->shards;
  *w = RecordWriter{read->path, std::fopen(read->path.c_str(), "ab"), read->job, own, PerfClock(), read->length,
                    next_fold(read->folded), false, 0, false, lock};
  if (!w->file) {
    w->failed = true;
    w->error = failure_code();
    return false;
  }
  if (!read->owed && w->length >= w->fold_at) fold_record(w);
  return w->file != nullptr;
}

bool append_record_line(RecordWriter* w, const std::string& line, bool clean) {
  if (!w->file) return false;
  errno = 0;
  int failure = std::fwrite(line.data(), 1, line.size(), w->file) == line.size() ? 0 : failure_code();
  if (!failure && std::fflush(w->file) != 0) failure = failure_code();
  if (!failure && !(PerfClock() - w->synced < kSyncPeriod)) {
    if (!sync_file(w->file)) failure = failure_code();
    w->synced = PerfClock();
  }
  if (failure) return record_lost(w, failure);
  w->length += int64_t(line.size());
  if (clean && w->length >= w->fold_at) fold_record(w);
  return w->file != nullptr;
}

bool fold_record(RecordWriter* w) {
  if (!w->file) return false;
  std::string temporary = w->path + ".tmp", why;
  FILE* out = std::fopen(temporary.c_str(), "wb");
  errno = 0;
  bool written = out && write_folded(w, out, &why) && std::fflush(out) == 0 && sync_file(out);
  int64_t length = written ? int64_t(std::ftell(out)) : 0;
  if (out && std::fclose(out) != 0) written = false;
  bool folded = written && take_folded(w, temporary, length);
  int failure = failure_code();
  if (!folded) std::remove(temporary.c_str());
  if (!folded && w->file) say_fold_failed(w, why.empty() ? std::string(std::strerror(failure)) : why);
  w->fold_at = next_fold(folded ? length : w->length);
  return folded;
}

bool close_record(RecordWriter* w) {
  if (!w->file) return !w->failed;
  errno = 0;
  int failure = std::fflush(w->file) == 0 && sync_file(w->file) ? 0 : failure_code();
  if (std::fclose(w->file) != 0 && !failure) failure = failure_code();
  w->file = nullptr;
  if (failure) {
    w->failed = true;
    w->error = failure;
  }
  return !failure;
}
