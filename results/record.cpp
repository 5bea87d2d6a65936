#include "results/record.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gfx/clock.h"
#include "util/files.h"
#include "util/numbers.h"
#include "util/text_util.h"

namespace {

// NOTE: a sync waits for the disk. Lines are flushed to the system one by
// one, which a killed process cannot lose; only a machine that goes down
// can lose what was not synced, and then at most this much of the run.
const double kSyncPeriod = 1.0;

const char* const kRenderer = " renderer ";

// The words of a line split at single blanks; two blanks give an empty word.
std::vector<std::string> split_at_blanks(const std::string& line) {
  std::vector<std::string> words;
  for (size_t start = 0;;) {
    size_t end = line.find(' ', start);
    words.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return words;
    start = end + 1;
  }
}

bool parse_hash(const std::string& word, uint64_t* hash) {
  if (word.size() != 16 || word.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
  *hash = std::strtoull(word.c_str(), nullptr, 16);
  return true;
}

// A header field as one word on one line.
std::string header_word(std::string text, char blank) {
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == blank) c = '_';
  return text;
}

bool read_levels(const std::vector<std::string>& words, const JobSettings* job, RecordPass* pass,
                 std::string* why) {
  int64_t grid = int64_t(job->baseres) * job->baseres * job->baseres * job->baseres, total = 0;
  pass->levels.assign(words.size() - 2, 0);
  for (size_t k = 2; k < words.size(); k++) {
    int64_t count;
    if (!parse_whole(words[k], 0, INT32_MAX, &count)) {
      *why = "level count \"" + words[k] + "\" is not a whole number";
      return false;
    }
    pass->levels[k - 2] = int32_t(count);
    total += count;
  }
  if (total != grid) *why = format_text("its counts add up to %lld, not to the %lld grid points of the job",
                                        static_cast<long long>(total), static_cast<long long>(grid));
  return total == grid;
}

// One line of a record file; line 1 is the header.
bool read_line(const std::string& line, int64_t number, const JobSettings* job, RecordFile* record,
               std::string* why) {
  if (number == 1) {
    record->has_header = parse_record_header(line, &record->header);
    if (!record->has_header) *why = "not a sample record's header";
    return record->has_header;
  }
  RecordPass pass;
  if (!parse_record_pass(line, job, &pass, why)) return false;
  pass.after = 0;
  for (size_t k = record->passes.size(); k-- > 0 && !pass.after;)
    if (record->passes[k].kind == 's') pass.after = record->passes[k].number;
  record->passes.push_back(pass);
  return true;
}

}  // namespace

std::string record_file_name(int32_t shard, int32_t shards) {
  return shards ? format_text("shard-%d-of-%d.rec", shard, shards) : std::string("samples.rec");
}

std::string record_header_text(const RecordHeader* h) {
  return format_text("veldspan-record %d job %016llx engine %s version %s", h->format,
                     static_cast<unsigned long long>(h->job_hash), header_word(h->engine, ' ').c_str(),
                     header_word(h->version, ' ').c_str()) +
         kRenderer + header_word(h->renderer, '\n') + "\n";
}

bool parse_record_header(const std::string& line, RecordHeader* h) {
  size_t at = line.find(kRenderer);
  if (at == std::string::npos) return false;
  std::vector<std::string> w = split_at_blanks(line.substr(0, at));
  int64_t format;
  if (w.size() != 8 || w[0] != "veldspan-record" || w[2] != "job" || w[4] != "engine" || w[6] != "version" ||
      !parse_whole(w[1], 0, INT32_MAX, &format) || !parse_hash(w[3], &h->job_hash) || w[5].empty() || w[7].empty())
    return false;
  h->format = int32_t(format);
  h->engine = w[5];
  h->version = w[7];
  h->renderer = line.substr(at + std::strlen(kRenderer));
  return true;
}

std::string record_pass_text(char kind, int64_t number, const int32_t* levels, int32_t count) {
  std::string line = format_text("%c %lld", kind, static_cast<long long>(number));
  for (int32_t k = 0; k < count; k++) line += format_text(" %d", levels[k]);
  return line + "\n";
}

bool parse_record_pass(const std::string& line, const JobSettings* job, RecordPass* pass, std::string* why) {
  std::vector<std::string> words = split_at_blanks(line);
  size_t levels = size_t(iteration_count(job)) + 1;
  if (words[0] != "s" && words[0] != "r") {
    *why = "not a pass line (\"s\" or \"r\" and counts)";
    return false;
  }
  pass->kind = words[0][0];
  if (!parse_whole(words.size() > 1 ? words[1] : "", 0, pass->kind == 's' ? INT32_MAX : INT64_MAX, &pass->number) ||
      (pass->kind == 's' && pass->number < 1)) {
    *why = "no valid sample or pass number";
    return false;
  }
  if (words.size() != levels + 2) {
    *why = format_text("%lld level counts where the job has %lld levels", static_cast<long long>(words.size()) - 2,
                       static_cast<long long>(levels));
    return false;
  }
  return read_levels(words, job, pass, why);
}

bool read_record(const char* path, const JobSettings* job, RecordFile* record, std::string* error) {
  *record = RecordFile{path, false, RecordHeader{}, {}, 0, false};
  std::string bytes;
  if (!read_file_bytes(path, &bytes)) {
    *error = format_text("%s cannot be read (%s)", path, std::strerror(failure_code()));
    return false;
  }
  int64_t number = 0;
  for (size_t start = 0; start < bytes.size(); number++) {
    size_t end = bytes.find('\n', start);
    std::string line = bytes.substr(start, end == std::string::npos ? std::string::npos : end - start), why;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    bool torn = end == std::string::npos, last = torn || end + 1 == bytes.size();
    bool read = !torn && read_line(line, number + 1, job, record, &why);
    // NOTE: a whole first line that is no header is not a torn record but
    // another file: it is never taken for an empty record and overwritten.
    if (!read && last && !(number == 0 && !torn)) {
      record->tail_dropped = true;
      return true;
    }
    if (!read) {
      *error = format_text("%s line %lld: %s", path, static_cast<long long>(number + 1), why.c_str());
      return false;
    }
    if (number == 0 && record->header.format != kRecordFormat) {
      *error = format_text("%s is a record of format %d; this program reads format %d", path,
                           record->header.format, kRecordFormat);
      return false;
    }
    record->whole_length = int64_t(end) + 1;
    start = end + 1;
  }
  return true;
}

bool same_taker(const RecordHeader* a, const RecordHeader* b) {
  bool same_renderer = a->renderer == b->renderer || a->engine == "cpu";
  return a->engine == b->engine && same_renderer && a->version == b->version;
}

std::string taker_text(const RecordHeader* h) {
  return "engine " + h->engine + " on " + h->renderer + ", version " + h->version;
}

namespace {

// Cuts a torn last line off the file: it then ends with a whole line.
void cut_to_whole_lines(const std::string& path) {
  std::string bytes;
  if (!read_file_bytes(path.c_str(), &bytes)) return;
  size_t end = bytes.rfind('\n');
  int64_t whole = end == std::string::npos ? 0 : int64_t(end) + 1;
  if (whole < int64_t(bytes.size()) && !truncate_file(path.c_str(), whole))
    std::fprintf(stderr, "%s: a torn last line could not be cut off\n", path.c_str());
}

bool record_lost(RecordWriter* w, int error) {
  if (w->file) std::fclose(w->file);
  w->file = nullptr;
  cut_to_whole_lines(w->path);
  w->failed = true;
  w->error = error;
  return false;
}

}  // namespace

bool open_record(RecordWriter* w, const std::string& path, bool append, const RecordHeader* header) {
  *w = RecordWriter{path, std::fopen(path.c_str(), append ? "ab" : "wb"), PerfClock(), false, 0};
  if (!w->file) {
    w->failed = true;
    w->error = failure_code();
    return false;
  }
  return append || append_record_line(w, record_header_text(header));
}

bool append_record_line(RecordWriter* w, const std::string& line) {
  if (!w->file) return false;
  errno = 0;
  int failure = std::fwrite(line.data(), 1, line.size(), w->file) == line.size() ? 0 : failure_code();
  if (!failure && std::fflush(w->file) != 0) failure = failure_code();
  if (!failure && !(PerfClock() - w->synced < kSyncPeriod)) {
    if (!sync_file(w->file)) failure = failure_code();
    w->synced = PerfClock();
  }
  return failure ? record_lost(w, failure) : true;
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
