#include "app/run_record.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "gfx/clock.h"
#include "gfx/frame.h"
#include "results/record_read.h"
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

// The header a record of this run carries: its split, 0/1 when not split.
RecordHeader own_header(const RunState* run, int32_t shard, int32_t shards) {
  return RecordHeader{kRecordFormat, run->source.hash, shard, shards ? shards : 1,
                      engine_name(run->engine.identity.kind), program_version(), run->engine.identity.renderer,
                      run->settings.precision == kPrecisionDouble ? "double" : "single"};
}

// Opens the record for a resume and checks its header: this job's (the
// hash, before any line after it is read) and this process's. False with
// why; true for a record without a whole header, which is a fresh start.
bool open_own_record(const JobSettings* job, const RecordHeader* own, const std::string& path, RecordReader* r,
                     std::string* why) {
  if (!open_record_reader(r, path, job)) *why = r->error;
  else if (r->has_header && r->header.job_hash != own->job_hash)
    *why = format_text("%s is the record of another job (job file hash %016llx; input.txt has %016llx)", path.c_str(),
                       static_cast<unsigned long long>(r->header.job_hash),
                       static_cast<unsigned long long>(own->job_hash));
  else if (r->has_header && r->header.shards && (r->header.shard != own->shard || r->header.shards != own->shards))
    *why = format_text("%s is the record of shard %d of %d, not of this run's shard %d of %d", path.c_str(),
                       r->header.shard, r->header.shards, own->shard, own->shards);
  else if (r->has_header && r->header.precision != own->precision)
    *why = format_text("%s was taken in %s precision, and this run is in %s: give --precision %s to go on with it",
                       path.c_str(), r->header.precision.c_str(), own->precision.c_str(),
                       r->header.precision.c_str());
  if (why->empty() && !r->header.shards) expect_split(r, own->shard, own->shards);
  return why->empty();
}

LedgerDue take_line(Ledger* l, const RecordEntry* e) {
  if (e->kind != 't') {
    Pass pass{e->kind, e->first, e->levels, e->edge};
    return ledger_take(l, &pass);
  }
  RecordSpan span{e->first, e->last, e->samples, e->randoms};
  return ledger_take_span(l, &span, 0);
}

void take_entry(RunState* run, const RecordEntry* e) {
  LedgerDue due = take_line(&run->ledger, e);
  if (!is_shard(run)) write_due_reports(&run->reports, &run->ledger, &due);
}

// NOTE: check_resume read the record through, and the lock keeps every
// other process from it since, so its lines are known to be good.
void replay_record(RunState* run, RecordReader* file) {
  RecordEntry entry;
  while (next_record_entry(file, &entry)) take_entry(run, &entry);
  if (!file->error.empty()) fatal_error(("The run cannot be resumed: " + file->error).c_str());
  if (file->tail_dropped && !truncate_file(file->path.c_str(), file->length))
    fatal_error(format_text("%s: its torn last line could not be cut off", file->path.c_str()).c_str());
  if (file->tail_dropped) std::fprintf(stderr, "%s: a torn last line was cut off\n", file->path.c_str());
  run->samples_replayed = run_samples(run);
  std::fprintf(stderr, "%s: %d samples read back; the run goes on from sample %lld\n", file->path.c_str(),
               run_samples(run), static_cast<long long>(next_sample_number(&run->ledger)));
}

void warn_of_other_taker(const RecordHeader* begun, const RecordHeader* own, const std::string& path) {
  if (!same_taker(begun, own))
    std::fprintf(stderr, "warning: %s was begun by %s; this run goes on with %s: particles on a loss boundary may "
                 "be counted differently\n", path.c_str(), taker_text(begun).c_str(), taker_text(own).c_str());
}

// Replays the record and appends to it; false when there is none to go on
// from (no file, or not even a whole header).
bool resume_record(RunState* run, const RecordHeader* own) {
  RecordReader file;
  std::string why;
  if (file_length(record_path(run).c_str()) < 0) return false;
  if (!open_own_record(&run->settings, own, record_path(run), &file, &why))
    fatal_error(("The run cannot be resumed: " + why).c_str());
  if (!file.has_header) return false;
  warn_of_other_taker(&file.header, own, file.path);
  replay_record(run, &file);
  close_record_reader(&file);
  if (reopen_record(&run->record, &file, own)) run->ledger.record = &run->record;
  else record_lost(run);
  return true;
}


void say_how_to_resume(const RunState* run, int reason) {
  std::string why = run->time_limit > 0 && !stop_signal ? format_text("its time limit of %.0f s", run->time_limit)
                    : reason == SIGINT                  ? std::string("SIGINT")
                                                        : std::string("SIGTERM");
  std::fprintf(stderr, "veldspan: stopped by %s after %d samples; %s holds every one of them.\nTo go on: %s\n",
               why.c_str(), run_samples(run), record_path(run).c_str(), resume_command_text(&run->options).c_str());
}

}  // namespace

int claim_record(RunState* run, const RunOptions* o) {
  std::string record = record_file_name(o->shard, o->shards), path = record + ".lock";
  FileLock* lock = &run->record.lock;
  LockOutcome outcome = lock_file(path.c_str(), lock);
  if (outcome == kLockFailed)
    std::fprintf(stderr, "warning: %s cannot be locked (%s); no other process must run on %s\n", path.c_str(),
                 std::strerror(lock->error), record.c_str());
  if (outcome != kLockHeld) return 0;
  std::string holder = lock->holder > 0 ? format_text(" (pid %lld)", static_cast<long long>(lock->holder)) : "";
  std::fprintf(stderr, "veldspan: another process%s is running on %s in this job directory; this one ends and "
               "changes nothing\n", holder.c_str(), record.c_str());
  return 1;
}

int check_resume(const RunState* run, const RunOptions* o) {
  RecordHeader own = own_header(run, o->shard, o->shards);
  std::string path = record_file_name(o->shard, o->shards), why;
  if (!o->resume || file_length(path.c_str()) < 0) return 0;
  RecordReader file;
  if (open_own_record(&run->settings, &own, path, &file, &why) && !read_to_end(&file)) why = file.error;
  close_record_reader(&file);
  if (why.empty()) return 0;
  std::fprintf(stderr, "The run cannot be resumed: %s\n", why.c_str());
  return 1;
}

void start_results(RunState* run) {
  const RunOptions* o = &run->options;
  run->ledger = start_ledger(&run->settings, o->shard, o->shards);
  RecordHeader own = own_header(run, o->shard, o->shards);
  // A shard's results are its record alone.
  run->reports = is_shard(run) ? Reports{output_report(), aperture_report()} : start_reports();
  if (o->resume && resume_record(run, &own)) return;
  if (open_record(&run->record, record_path(run), &run->settings, &own)) run->ledger.record = &run->record;
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
  if (o->precision >= 0) command += std::string(" --precision ") + (o->precision == kPrecisionDouble ? "double" : "single");
  if (!o->job_dir.empty()) command += " " + shell_word(o->job_dir);
  return command;
}
