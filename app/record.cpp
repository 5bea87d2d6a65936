#include "app/record.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/aperture.h"
#include "app/engine.h"
#include "app/random_passes.h"
#include "app/statistics.h"
#include "gfx/clock.h"
#include "gfx/frame.h"
#include "gfx/platform.h"

namespace {

// The signal that asked the run to stop; set by the handler alone.
volatile std::sig_atomic_t stop_signal = 0;

// NOTE: a sync waits for the disk. Lines are flushed to the system one by
// one, which a killed process cannot lose; only a machine that goes down
// can lose what was not synced, and then at most this much of the run.
const double kSyncPeriod = 1.0;

const char* const kRenderer = " renderer ";

void on_stop_signal(int signal_number) {
  stop_signal = signal_number;
  std::signal(signal_number, SIG_DFL);  // a second one ends the process at once
}

bool read_file_bytes(const char* path, std::string* bytes) {
  FILE* file = std::fopen(path, "rb");
  if (!file) return false;
  char buffer[1 << 16];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes->append(buffer, got);
  bool read = !std::ferror(file);
  std::fclose(file);
  return read;
}

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

// A decimal number of digits alone, at most max.
bool parse_whole(const std::string& word, int64_t max, int64_t* value) {
  if (word.empty() || word.size() > 18 || word.find_first_not_of("0123456789") != std::string::npos) return false;
  *value = std::strtoll(word.c_str(), nullptr, 10);
  return *value <= max;
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
    if (!parse_whole(words[k], INT32_MAX, &count)) {
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

std::string run_record_path(const RunState* run) { return record_file_name(run->shard, run->shards); }

// The header a record of this run carries.
RecordHeader own_header() {
  return RecordHeader{kRecordFormat, job_file_hash("input.txt"), engine_name(engine_info.kind), program_version(),
                      engine_device_text()};
}

// Cuts a torn last line off the file: it then ends with a whole line.
void cut_to_whole_lines(const std::string& path) {
  std::string bytes;
  if (!read_file_bytes(path.c_str(), &bytes)) return;
  size_t end = bytes.rfind('\n');
  int64_t whole = end == std::string::npos ? 0 : int64_t(end) + 1;
  if (whole < int64_t(bytes.size()) && !platform_truncate_file(path.c_str(), whole))
    std::fprintf(stderr, "%s: a torn last line could not be cut off\n", path.c_str());
}

// A line could not be written: the record keeps the whole lines before it
// and takes no more, so that it never has a gap. A shard has nothing else
// to give and stops; a run goes on for output.csv.
void record_lost(RunState* run, const char* why) {
  std::string path = run_record_path(run);
  if (run->record) std::fclose(run->record);
  run->record = nullptr;
  cut_to_whole_lines(path);
  run->record_failed = true;
  std::fprintf(stderr, "%s could not be written (%s); it keeps its whole lines before this one%s\n", path.c_str(),
               why, run->shards ? "; the shard stops" : "; the run goes on without it");
  if (run->shards) run->quit = 1;
}

int failure_code() { return errno ? errno : EIO; }

void write_record_line(RunState* run, const std::string& line) {
  errno = 0;
  int failure = std::fwrite(line.data(), 1, line.size(), run->record) == line.size() ? 0 : failure_code();
  if (!failure && std::fflush(run->record) != 0) failure = failure_code();
  if (!failure && !(PerfClock() - run->record_synced < kSyncPeriod)) {
    if (!platform_sync_file(run->record)) failure = failure_code();
    run->record_synced = PerfClock();
  }
  if (failure) record_lost(run, std::strerror(failure));
}

// The record must be this process's own: its samples, from its first on,
// each once and in order.
void check_own_samples(const RunState* run, const RecordFile* file) {
  int32_t taken = 0;
  for (const RecordPass& pass : file->passes) {
    if (pass.kind != 's') continue;
    int64_t expected = run_sample_number(run, ++taken);
    if (pass.number != expected)
      fatal_error(format_text("%s cannot be resumed: it holds sample %lld where this run's sample %lld belongs",
                              file->path.c_str(), static_cast<long long>(pass.number),
                              static_cast<long long>(expected)).c_str());
  }
}

// Reads the record back for a resume; false when there is none to go on
// from (no file, or not even a whole header). Writes nothing.
bool read_own_record(const RunState* run, const RecordHeader* own, RecordFile* file) {
  std::string path = run_record_path(run), error;
  if (platform_file_length(path.c_str()) < 0) return false;
  if (!read_record(path.c_str(), &run->settings, file, &error))
    fatal_error(("The run cannot be resumed: " + error).c_str());
  if (!file->has_header) return false;
  if (file->header.job_hash != own->job_hash)
    fatal_error(format_text("%s is the record of another job (job file hash %016llx; input.txt has %016llx)",
                            path.c_str(), static_cast<unsigned long long>(file->header.job_hash),
                            static_cast<unsigned long long>(own->job_hash)).c_str());
  check_own_samples(run, file);
  if (!same_taker(&file->header, own))
    std::fprintf(stderr, "warning: %s was begun by %s; this run goes on with %s: particles on a loss boundary may "
                 "be counted differently\n", path.c_str(), taker_text(&file->header).c_str(), taker_text(own).c_str());
  return true;
}

void replay_record(RunState* run, const RecordFile* file) {
  if (file->tail_dropped && !platform_truncate_file(file->path.c_str(), file->whole_length))
    fatal_error(format_text("%s: its torn last line could not be cut off", file->path.c_str()).c_str());
  if (file->tail_dropped) std::fprintf(stderr, "%s: a torn last line was cut off\n", file->path.c_str());
  for (const RecordPass& pass : file->passes) replay_pass(run, &pass);
  run->samples_replayed = run->samples;
  std::fprintf(stderr, "%s: %d samples read back; the run goes on from sample %lld\n", file->path.c_str(),
               run->samples, static_cast<long long>(run_sample_number(run, run->samples + 1)));
}

void close_record(RunState* run) {
  errno = 0;
  int failure = std::fflush(run->record) == 0 && platform_sync_file(run->record) ? 0 : failure_code();
  if (std::fclose(run->record) != 0 && !failure) failure = failure_code();
  run->record = nullptr;
  if (failure) {
    std::fprintf(stderr, "%s could not be written (%s)\n", run_record_path(run).c_str(), std::strerror(failure));
    run->record_failed = true;
  }
}

// A word of a command line as a shell reads it back.
std::string shell_word(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                              "_-./:=+,@%") == std::string::npos)
    return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

void say_how_to_resume(const RunState* run, int reason, const RunOptions* options) {
  std::string why = run->time_limit > 0 && !stop_signal ? format_text("its time limit of %.0f s", run->time_limit)
                    : reason == SIGINT                  ? std::string("SIGINT")
                                                        : std::string("SIGTERM");
  std::fprintf(stderr, "veldspan: stopped by %s after %d samples; %s holds every one of them.\nTo go on: %s\n",
               why.c_str(), run->samples, run_record_path(run).c_str(), resume_command_text(options).c_str());
}

}  // namespace

// NOTE: FNV-1a: the job's identity is its file's bytes, so a record is
// never merged into the results of a job whose ranges, map or turn counts
// changed, however small the change.
uint64_t job_file_hash(const char* path) {
  std::string bytes;
  read_file_bytes(path, &bytes);
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
  return hash;
}

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
      !parse_whole(w[1], INT32_MAX, &format) || !parse_hash(w[3], &h->job_hash) || w[5].empty() || w[7].empty())
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
  if (!parse_whole(words.size() > 1 ? words[1] : "", pass->kind == 's' ? INT32_MAX : INT64_MAX, &pass->number) ||
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
  return a->engine == b->engine && a->renderer == b->renderer && a->version == b->version;
}

std::string taker_text(const RecordHeader* h) {
  return "engine " + h->engine + " on " + h->renderer + ", version " + h->version;
}

int64_t run_sample_number(const RunState* run, int32_t taken) {
  if (run->shards == 0) return taken;
  return int64_t(run->shard) + 1 + int64_t(taken - 1) * run->shards;
}

void replay_pass(RunState* run, const RecordPass* pass) {
  if (pass->kind == 'r') {
    replay_random_pass(run, pass->number, pass->levels.data());
    return;
  }
  std::copy(pass->levels.begin(), pass->levels.end(), run->histogram);
  run->samples += 1;
  note_scheduled_sample(run, pass->number);
  if (run->shards == 0) count_into_results(run);
}

// A shard keeps no statistics: it only needs to know the pass is no longer
// owed.
void replay_random_pass(RunState* run, int64_t index, const int32_t* levels) {
  std::copy(levels, levels + iteration_count(&run->settings) + 1, run->histogram);
  add_random_pass(run, index);
  if (run->shards == 0) write_aperture_when_due(run);
}

void start_run_with_record(RunState* run, bool resume) {
  RecordHeader own = own_header();
  RecordFile file;
  bool resumed = resume && read_own_record(run, &own, &file);
  start_run(run);
  if (resumed) replay_record(run, &file);
  run->record = std::fopen(run_record_path(run).c_str(), resumed ? "ab" : "wb");
  run->record_synced = PerfClock();
  if (!run->record) record_lost(run, std::strerror(failure_code()));
  else if (!resumed) write_record_line(run, record_header_text(&own));
}

void record_pass(RunState* run, char kind, int64_t number) {
  if (!run->record) return;
  write_record_line(run, record_pass_text(kind, number, run->histogram, iteration_count(&run->settings) + 1));
}

void install_stop_signals() {
  std::signal(SIGTERM, on_stop_signal);
  std::signal(SIGINT, on_stop_signal);
}

int stop_reason(const RunState* run) {
  if (stop_signal) return stop_signal;
  bool late = run->time_limit > 0 && !(PerfClock() - run->clock_started < run->time_limit);
  return late ? SIGTERM : 0;
}

int finish_run_record(RunState* run, int status, const RunOptions* options) {
  if (run->record) close_record(run);
  if (run->record_failed) {
    log_error((run_record_path(run) + " could not be written; it holds the samples before the failure").c_str());
    if (status == 0) status = kExitResultsLost;
  }
  int reason = run->quit ? 0 : stop_reason(run);
  if (run->shards && !reason)  // a shard's only word on what it did, in a batch system's log
    std::fprintf(stderr, "shard %d/%d: %s holds its %d samples\n", run->shard, run->shards,
                 run_record_path(run).c_str(), run->samples);
  if (!reason) return status;
  say_how_to_resume(run, reason, options);
  return 128 + reason;
}

std::string resume_command_text(const RunOptions* o) {
  std::string command = "veldspan --resume";
  if (o->headless) command += " --headless";
  if (o->engine != kEngineAuto) command += std::string(" --engine ") + engine_name(o->engine);
  if (o->device >= 0) command += format_text(" --device %d", o->device);
  if (o->shards) command += format_text(" --shard %d/%d", o->shard, o->shards);
  if (o->max_samples >= 0) command += format_text(" --max-samples %d", o->max_samples);
  if (o->max_seconds > 0) command += format_text(" --max-seconds %d", o->max_seconds);
  if (!o->job_dir.empty()) command += " " + shell_word(o->job_dir);
  return command;
}
