#include "results/record_read.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "results/schedule.h"
#include "util/files.h"
#include "util/text_util.h"

namespace {

const size_t kChunk = 1 << 16;

enum LineRead { kLineWhole, kLineEnd, kLineTorn, kLineLong };

bool fail(RecordReader* r, const std::string& why) {
  r->error = why;
  return false;
}

bool fail_at_line(RecordReader* r, const std::string& why) {
  return fail(r, format_text("%s line %lld: %s", r->path.c_str(), static_cast<long long>(r->line), why.c_str()));
}

// Bytes of the file taken so far: read, less those still buffered.
int64_t consumed(const RecordReader* r) { return r->position - int64_t(r->buffer.size() - r->at); }

// Refills the buffer once it is used up; false at the end of what is read.
bool fill(RecordReader* r) {
  if (r->at < r->buffer.size()) return true;
  int64_t want = r->limit < 0 ? int64_t(kChunk) : std::min(int64_t(kChunk), r->limit - r->position);
  r->buffer.resize(kChunk);
  size_t got = want > 0 ? std::fread(&r->buffer[0], 1, size_t(want), r->file) : 0;
  r->buffer.resize(got);
  r->at = 0;
  r->position += int64_t(got);
  return got > 0;
}

// NOTE: a line is never held longer than the longest a record of the job
// can have, so that no file, however long its lines, takes more memory.
LineRead read_line(RecordReader* r, std::string* line) {
  line->clear();
  while (fill(r)) {
    size_t end = r->buffer.find('\n', r->at), stop = end == std::string::npos ? r->buffer.size() : end;
    line->append(r->buffer, r->at, stop - r->at);
    r->at = end == std::string::npos ? stop : end + 1;
    if (line->size() >= r->longest) return kLineLong;
    if (end != std::string::npos) {
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return kLineWhole;
    }
  }
  return line->empty() ? kLineEnd : kLineTorn;
}

bool read_failed(RecordReader* r) {
  if (!std::ferror(r->file)) return false;
  return !fail(r, format_text("%s cannot be read (%s)", r->path.c_str(), std::strerror(failure_code())));
}

std::string header_problem(const RecordReader* r) {
  int32_t format = r->header.format;
  if (format != 0 && format != 1 && format != kRecordFormat)
    return format_text("%s is a record of format %d; this program reads formats 1 and %d", r->path.c_str(), format,
                       kRecordFormat);
  return r->path + " line 1: not a sample record's header";
}

// NOTE: a whole first line that is no header is not a torn record but
// another file: it is never taken for an empty record and overwritten.
bool read_header(RecordReader* r) {
  std::string line;
  LineRead got = read_line(r, &line);
  if (got == kLineEnd || got == kLineTorn) return !read_failed(r);
  r->line = 1;
  if (got == kLineLong || !parse_record_header(line, &r->header)) return fail(r, header_problem(r));
  r->has_header = true;
  if (r->header.shards) r->shard = r->header.shard, r->shards = r->header.shards;
  r->length = r->folded = consumed(r);
  return true;
}

// A format-1 record's second sample tells the split: the samples of shard
// K of N are K + 1, K + 1 + N, ...
bool infer_split(RecordReader* r, int64_t sample, std::string* why) {
  int64_t step = sample - r->first;
  if (step >= r->first) {
    r->shards = int32_t(step);
    return true;
  }
  *why = format_text("sample %lld cannot follow sample %lld in one process's record", static_cast<long long>(sample),
                     static_cast<long long>(r->first));
  return false;
}

bool place_sample(RecordReader* r, int64_t sample, std::string* why) {
  if (!r->shards && r->samples == 0) r->shard = int32_t(sample - 1);
  if (!r->shards && r->samples == 0) return true;
  if (!r->shards && !infer_split(r, sample, why)) return false;
  int64_t expected = r->shard + 1 + r->samples * r->shards;
  if (sample != expected)
    *why = format_text("sample %lld where sample %lld belongs: a record holds its process's samples from the first "
                       "on, each once and in order", static_cast<long long>(sample), static_cast<long long>(expected));
  return sample == expected;
}

// A 't' line's samples are this process's, and it sums every random pass
// they owe.
bool span_fits(const RecordReader* r, const RecordEntry* e, std::string* why) {
  int64_t step = r->shards, count = (e->last - e->first) / step + 1;
  int64_t owed = owed_randoms(e->first, count, step, std::max(r->job->randompasses, 0));
  if ((e->last - e->first) % step != 0 || e->samples.passes != count)
    *why = format_text("samples %lld to %lld are not %lld of this process's samples", static_cast<long long>(e->first),
                       static_cast<long long>(e->last), static_cast<long long>(e->samples.passes));
  else if (e->randoms.passes != owed)
    *why = format_text("its samples owe %lld random passes, not %lld", static_cast<long long>(owed),
                       static_cast<long long>(e->randoms.passes));
  return why->empty();
}

bool place_random(RecordReader* r, const RecordEntry* e, std::string* why) {
  long long pass = e->first, owed = r->owed, last = r->last;
  if (pass == owed) {
    r->owed = 0;
    return true;
  }
  *why = owed  ? format_text("random pass %lld where random pass %lld is owed", pass, owed)
         : last ? format_text("random pass %lld is not owed here: sample %lld owes none, or it was taken", pass, last)
                : format_text("random pass %lld before any sample", pass);
  return false;
}

// Whether the entry stands where it does: a random pass where it is owed,
// samples where the process's next one belongs, after every pass owed.
bool place_entry(RecordReader* r, const RecordEntry* e, std::string* why) {
  if (e->kind == 'r') return place_random(r, e, why);
  if (r->owed)
    *why = format_text("random pass %lld, owed after sample %lld, is missing", static_cast<long long>(r->owed),
                       static_cast<long long>(r->last));
  if (r->owed || !place_sample(r, e->first, why) || (e->kind == 't' && !span_fits(r, e, why))) return false;
  int64_t every = std::max(r->job->randompasses, 0);
  r->samples += e->kind == 't' ? e->samples.passes : 1;
  r->first = r->first ? r->first : e->first;
  r->last = e->last;
  r->owed = e->kind == 's' ? random_pass_owed(e->last, every) : 0;
  return true;
}

// Whether no byte follows the line just read.
bool at_end(RecordReader* r) { return !fill(r); }

// False, as there is no entry more; an error when the file could not be
// read to its end.
bool no_more_entries(RecordReader* r) {
  read_failed(r);
  return false;
}

// The last line, torn or bad, is left out.
bool drop_tail(RecordReader* r) {
  r->tail_dropped = true;
  return no_more_entries(r);
}

// The line's bytes are taken; those of the 't' lines right after the
// header are the record's folded part.
void take_line(RecordReader* r, const RecordEntry* e) {
  bool folded = r->folded == r->length && e->kind == 't';
  r->length = consumed(r);
  if (folded) r->folded = r->length;
}

}  // namespace

bool open_record_reader(RecordReader* r, const std::string& path, const JobSettings* job) {
  *r = RecordReader{path, std::fopen(path.c_str(), "rb"), job, -1, longest_record_line(job), 0, 0, 0, false,
                    RecordHeader{}, false, 0, 0, 0, 0, 0, 0, "", "", 0, 0};
  if (!r->file) return fail(r, format_text("%s cannot be read (%s)", path.c_str(), std::strerror(failure_code())));
  return read_header(r);
}

void expect_split(RecordReader* r, int32_t shard, int32_t shards) {
  r->shard = shard;
  r->shards = shards;
}

bool next_record_entry(RecordReader* r, RecordEntry* e) {
  if (!r->error.empty() || !r->has_header || r->tail_dropped) return false;
  std::string line, why;
  LineRead got = read_line(r, &line);
  if (got == kLineEnd) return no_more_entries(r);
  r->line++;
  if (got == kLineLong)
    return fail_at_line(r, format_text("longer than any line of a record of this job (%lld bytes)",
                                       static_cast<long long>(r->longest)));
  bool parsed = got == kLineWhole && parse_record_entry(line, r->job, r->header.format, e, &why);
  if (!parsed && (got == kLineTorn || at_end(r))) return drop_tail(r);
  if (!parsed || !place_entry(r, e, &why)) return fail_at_line(r, why);
  take_line(r, e);
  return true;
}

bool read_to_end(RecordReader* r) {
  RecordEntry entry;
  while (next_record_entry(r, &entry)) {
  }
  return r->error.empty();
}

bool rewind_record_reader(RecordReader* r) {
  if (!r->file || !r->error.empty()) return false;
  r->limit = r->length;
  r->buffer.clear();
  r->at = 0;
  r->position = r->line = r->length = r->folded = r->samples = r->first = r->last = r->owed = 0;
  r->has_header = r->tail_dropped = false;
  if (std::fseek(r->file, 0, SEEK_SET) != 0)
    return fail(r, format_text("%s cannot be read again (%s)", r->path.c_str(), std::strerror(failure_code())));
  return read_header(r);
}

void close_record_reader(RecordReader* r) {
  if (r->file) std::fclose(r->file);
  r->file = nullptr;
}
