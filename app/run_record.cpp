#include "app/run_record.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "gfx/clock.h"
#include "gfx/frame.h"
#include "results/merge.h"
#include "results/schedule.h"
#include "util/files.h"
#include "util/text_util.h"

namespace {

// The signal that asked the run to stop; set by the handler alone.
volatile std::sig_atomic_t stop_signal = 0;

void on_stop_signal(int signal_number) {
  stop_signal = signal_number;
  std::signal(signal_number, SIG_DFL);  // a second one ends the process at once
}

std::string record_path(const RunState* run) { return record_file_name(run->ledger.shard, run->ledger.shards); }

// The header a record of this run carries.
RecordHeader own_header(const RunState* run) {
  return RecordHeader{kRecordFormat, run->source.hash, engine_name(run->engine.identity.kind), program_version(),
                      run->engine.identity.renderer};
}

// The record must be this process's own: its samples, from its first on,
// each once and in order.
void check_own_samples(const RunState* run, const RecordFile* file) {
  int64_t taken = 0;
  for (const RecordPass& pass : file->passes) {
    if (pass.kind != 's') continue;
    int64_t expected = shard_sample_number(run->ledger.shard, run->ledger.shards, ++taken);
    if (pass.number != expected)
      fatal_error(format_text("%s cannot be resumed: it holds sample %lld where this run's sample %lld belongs",
                              file->path.c_str(), static_cast<long long>(pass.number),
                              static_cast<long long>(expected)).c_str());
  }
}

// Reads the record back for a resume; false when there is none to go on
// from (no file, or not even a whole header). Writes nothing.
bool read_own_record(const RunState* run, const RecordHeader* own, RecordFile* file) {
  std::string path = record_path(run), error;
  if (file_length(path.c_str()) < 0) return false;
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
  if (file->tail_dropped && !truncate_file(file->path.c_str(), file->whole_length))
    fatal_error(format_text("%s: its torn last line could not be cut off", file->path.c_str()).c_str());
  if (file->tail_dropped) std::fprintf(stderr, "%s: a torn last line was cut off\n", file->path.c_str());
  for (const RecordPass& recorded : file->passes) {
    Pass pass = recorded_pass(&recorded);
    LedgerDue due = ledger_take(&run->ledger, &pass);
    if (!is_shard(run)) write_due_reports(&run->reports, &run->ledger, &due);
  }
  run->samples_replayed = run_samples(run);
  std::fprintf(stderr, "%s: %d samples read back; the run goes on from sample %lld\n", file->path.c_str(),
               run_samples(run), static_cast<long long>(next_sample_number(&run->ledger)));
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

void say_how_to_resume(const RunState* run, int reason) {
  std::string why = run->time_limit > 0 && !stop_signal ? format_text("its time limit of %.0f s", run->time_limit)
                    : reason == SIGINT                  ? std::string("SIGINT")
                                                        : std::string("SIGTERM");
  std::fprintf(stderr, "veldspan: stopped by %s after %d samples; %s holds every one of them.\nTo go on: %s\n",
               why.c_str(), run_samples(run), record_path(run).c_str(), resume_command_text(&run->options).c_str());
}

}  // namespace

void start_results(RunState* run) {
  const RunOptions* o = &run->options;
  run->ledger = start_ledger(&run->settings, o->shard, o->shards);
  RecordHeader own = own_header(run);
  RecordFile file;
  bool resumed = o->resume && read_own_record(run, &own, &file);
  // A shard's results are its record alone.
  run->reports = is_shard(run) ? Reports{output_report(), aperture_report()} : start_reports();
  if (resumed) replay_record(run, &file);
  if (open_record(&run->record, record_path(run), resumed, &own)) run->ledger.record = &run->record;
  else record_lost(run);
}

void record_lost(RunState* run) {
  std::fprintf(stderr, "%s could not be written (%s); it keeps its whole lines before this one%s\n",
               run->record.path.c_str(), std::strerror(run->record.error),
               is_shard(run) ? "; the shard stops" : "; the run goes on without it");
  if (is_shard(run)) run->quit = true;
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

int finish_run_record(RunState* run, int status) {
  bool open = run->record.file != nullptr;
  if (open && !close_record(&run->record))
    std::fprintf(stderr, "%s could not be written (%s)\n", record_path(run).c_str(), std::strerror(run->record.error));
  if (run->record.failed) {
    log_error((record_path(run) + " could not be written; it holds the samples before the failure").c_str());
    if (status == 0) status = kExitResultsLost;
  }
  int reason = run->quit ? 0 : stop_reason(run);
  if (is_shard(run) && !reason)  // a shard's only word on what it did, in a batch system's log
    std::fprintf(stderr, "shard %d/%d: %s holds its %d samples\n", run->ledger.shard, run->ledger.shards,
                 record_path(run).c_str(), run_samples(run));
  if (!reason) return status;
  say_how_to_resume(run, reason);
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
