#include "app/run.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/job.h"
#include "app/run_record.h"
#include "app/status.h"
#include "gfx/clock.h"
#include "gfx/display_loss.h"
#include "gfx/frame.h"
#include "gfx/gl.h"
#include "gfx/graphics_state.h"
#include "gfx/messages.h"
#include "map/shader_program.h"
#include "util/files.h"
#include "util/text_util.h"

namespace {

RunState the_run;  // the one run of the process

const char* const kTitle = "GPU/'fragment shader' programming test [Tobrenn 2011]";
const int kKeyS = 0x53, kKeyQ = 0x51;
// NOTE: no screen shows more than about 60 pictures a second, and a pass
// of a job whose particles are soon lost is far shorter than that. Status
// text and presentation are made only once the last presented picture is
// that old (or for a screenshot): a swap can wait for the display's
// refresh, and would then hold every pass to the refresh rate. The square
// is tracked and counted in every pass all the same.
const double kPresentPeriod = 1.0 / 60;
// How long the loop sleeps on the window's messages, at most, between two
// looks at a window that cannot show the square.
const int kWindowWaitMs = 50;

// A pass that cannot be trusted is said once per cause: taken again and
// refused for the same cause, it says nothing new, until a pass is counted
// or the cause changes.
bool refuse_pass(RunState* run, const Pass* pass, const char* reason) {
  if (run->refused != reason)
    std::fprintf(stderr, "%s %lld not counted: %s; it is taken again\n",
                 pass->kind == 's' ? "sample" : "random pass", static_cast<long long>(pass->number), reason);
  run->refused = reason;
  return false;
}

void add_turns(RunState* run, int64_t turns) {
  if (turns < 0) run->particle_turns = -1;
  else if (run->particle_turns >= 0) run->particle_turns += turns;
}

// NOTE: survivors of the last turn count that started on the box's
// outermost layer of grid points mean the box cuts the stable region: every
// volume is then too small. Said once, when the first is counted.
void warn_of_edge(RunState* run, int64_t edge) {
  if (edge <= 0 || run->box_cut) return;
  run->box_cut = true;
  std::fprintf(stderr, "warning: %lld survivors of the last turn count started on the box's outermost layer of grid "
               "points: the box cuts the stable region and every volume is too small; widen the box\n",
               static_cast<long long>(edge));
}

bool count_pass(RunState* run, Pass* pass, const SampleResult* result) {
  run->refused.clear();
  pass->levels = run->levels;
  pass->edge = result->edge_survivors;
  warn_of_edge(run, pass->edge);
  add_turns(run, result->particle_turns);
  LedgerDue due = ledger_take(&run->ledger, pass);
  if (due.record_lost) record_lost(run);
  if (is_shard(run)) return true;  // a shard's results are made by the merge
  write_due_reports(&run->reports, &run->ledger, &due);
  if (due.block && !run->windowed) report_progress(run, true);
  return true;
}

// The limit is on sample numbers: a shard ends when its next sample lies
// beyond it. Without a limit a run ends at the last sample a record holds.
bool sample_limit_reached(const RunState* run) {
  return (run->max_samples > 0 && next_sample_number(&run->ledger) > run->max_samples) ||
         samples_exhausted(&run->ledger);
}

bool run_complete(const RunState* run) { return sample_limit_reached(run) && !random_pass_owed(&run->ledger); }

// NOTE: a job directory that is not there (or is a file, or may not be
// entered) is a mistake on the command line, refused as one before
// anything is written, rather than a failed run logged into the directory
// the program was started in.
bool enter_job_dir(const RunOptions* options) {
  errno = 0;
  if (options->job_dir.empty() || change_dir(options->job_dir.c_str())) return true;
  std::string why = errno ? std::strerror(errno) : "it cannot be entered";
  refuse_run_command(format_text("the job directory %s cannot be entered: %s", options->job_dir.c_str(), why.c_str()));
  return false;
}

// A GPU asked for by number that cannot be had is refused like a bad value
// on the command line, rather than run on the CPU (auto) or logged as a
// failed run (an engine named).
[[noreturn]] void refuse_device(const RunOptions* options, const std::string& why) {
  close_graphics_and_exit(refuse_run_command(format_text("--device %d: %s", int(options->device), why.c_str())));
}

// A GL context, in a window or without one. Without a window, the CPU
// engine needs none, and auto falls back to it when none can be made.
bool open_gl(RunState* run, const RunOptions* options) {
  if (run->windowed) {
    open_graphics(1280, 1024, kTitle);
    setup_status_font();
    return true;
  }
  graphics.headless = 1;
  if (options->engine == kEngineCpu) return false;
  std::string why;
  if (open_headless(options->device, &why)) return true;
  if (options->device >= 0) refuse_device(options, why);
  if (options->engine != kEngineAuto)
    fatal_error(format_text("No GL context without a window: %s", why.c_str()).c_str());
  std::fprintf(stderr, "no GL context without a window (%s); the CPU engine takes the samples\n", why.c_str());
  return false;
}

[[noreturn]] void fatal_problem(const Problem* why) { fatal_error_detail(why->message.c_str(), why->detail.c_str()); }

// The engine and what it runs on are named before it is prepared, so that
// a failure to prepare it is read against them.
void choose_and_prepare(RunState* run, const RunOptions* options, bool have_gl, const char* source) {
  const char* renderer = have_gl ? reinterpret_cast<const char*>(glGetString(GL_RENDERER)) : nullptr;
  std::string gl_renderer = renderer ? renderer : "";
  Precision precision = run->settings.precision;
  EngineKind kind =
      choose_engine(options->engine, have_gl, gl_renderer.c_str(), have_gl ? gl_version() : 0, precision);
  std::fprintf(stderr, "veldspan %s: engine %s%s on %s\n", program_version(), engine_name(kind),
               precision == kPrecisionDouble ? " in double precision" : "", engine_device_text(kind, gl_renderer).c_str());
  EngineSetup setup{run->windowed, source, false, precision};
  Problem why;
  if (!prepare_engine(&run->engine, kind, &run->map, &setup, gl_renderer, &why)) fatal_problem(&why);
}

// The window's part of a pass: the picture and the status text when the
// frame is shown, then the messages and the keys.
void frame_step(RunState* run, bool shown) {
  double t = PerfClock();
  if (shown) {
    engine_draw_picture(&run->engine);
    draw_status(run);
  }
  double drawn = PerfClock();
  present_pass(run, shown);
  run->stage_seconds[kStageStatus] = drawn - t;
  run->stage_seconds[kStagePresent] = PerfClock() - drawn;
}

// NOTE: called on the way out of a process whose display was lost, which
// would otherwise take the results still outside their files with it:
// they go to their files or to stderr, and the log says so, as at any
// other end of the run.
void write_pending_results() { finish_reports(&the_run.reports, &the_run.ledger); }

// NOTE: a pass refused because the window cannot show the square would be
// refused again at once, pass after pass, for as long as the window stays
// so. The loop sleeps on the window's messages instead, and takes the pass
// again once the window was resized or came back on the screen; meanwhile
// the status text, drawn whenever the window shows, says why it waits.
bool waiting_for_window(const RunState* run) {
  return run->windowed && !run->refused.empty() && square_hidden_reason(run->map.side);
}

void wait_step(RunState* run) {
  wait_for_messages(kWindowWaitMs);
  run->clock_now = PerfClock();
  bool shown = presentation_due(run);
  if (shown) draw_status(run);
  present_pass(run, shown);
}

void headless_step(RunState* run) {
  double t = PerfClock();
  report_progress(run, false);
  run->stage_seconds[kStageStatus] = PerfClock() - t;
  run->stage_seconds[kStagePresent] = 0;
}

}  // namespace

bool take_pass(RunState* run, bool picture) {
  double jitter[4];
  Pass pass = next_pass(&run->ledger, jitter);
  SampleResult result = engine_sample(&run->engine, jitter, picture, run->levels.data());
  for (int k = 0; k < kSampleStages; k++) run->stage_seconds[k] = result.seconds[k];
  double t = PerfClock();
  bool counted = result.refused ? refuse_pass(run, &pass, result.refused) : count_pass(run, &pass, &result);
  run->stage_seconds[kStageCount] += PerfClock() - t;
  return counted;
}

bool presentation_due(const RunState* run) {
  return run->windowed && (key_newly_pressed(kKeyS) || !(run->clock_now - run->clock_presented < kPresentPeriod));
}

void present_pass(RunState* run, bool shown) {
  if (shown) {
    if (key_newly_pressed(kKeyS)) take_screenshot();
    end_frame(0);
    run->clock_presented = run->clock_now;
  }
  int quit_message = pump_messages();
  bool keys = key_held(graphics.keys, kKeyQ) || key_held(graphics.keys, VK_ESCAPE);
  run->quit = run->quit || quit_message || keys;
}

void run_pass(RunState* run) {
  run->clock_prev = run->clock_now;
  run->clock_now = PerfClock();
  bool shown = presentation_due(run);
  // A random pass owed is taken before the next sample, and the run does
  // not end by its sample limit while one is owed.
  bool counted = take_pass(run, shown);
  if (run->windowed) frame_step(run, shown);
  else headless_step(run);
  run->quit = run->quit || (counted && run_complete(run));
}

void start_job(RunState* run, const RunOptions* options, bool have_gl) {
  run->options = *options;
  Problem why;
  if (have_gl && !load_shader_api(&why)) fatal_problem(&why);
  char* source = prepare_job(run);
  choose_and_prepare(run, options, have_gl, source);
  // A shard writes no result file: it leaves their temporaries to the run
  // or the merge that does.
  if (!options->shards) remove_stale_temporaries();
  start_results(run);
  run->levels.assign(run->map.turn_counts.size() + 1, 0);
  run->particle_turns = 0;
  run->refused.clear();
  run->max_samples = options->max_samples >= 0 ? options->max_samples : run->settings.maxsamples;
  run->time_limit = options->max_seconds;
  run->clock_now = run->clock_started = PerfClock();
  run->clock_presented = -HUGE_VAL;  // the first pass presents
  if (run->windowed && graphics.width == 0)
    fatal_error("GRAPHICS() macro not called at LOOP start, or no resolution specified");
  // A resumed run may be complete already; the window may have been closed already.
  run->quit = run_complete(run) || (run->windowed && pump_messages() != 0);
}

int run_job(const RunOptions* options) {
  RunState* run = &the_run;
  run->windowed = !options->headless;
  if (options->headless) graphics.headless = 1;
  if (!enter_job_dir(options)) return kExitBadCommandLine;
  // NOTE: a context without a window is made first: a device that is not
  // there is a bad command line, refused before the record's lock file or
  // anything else is written. The record is claimed, and a record to resume
  // checked, before anything is written: a second process on the same
  // record, or a record that cannot be resumed, ends the program with
  // nothing changed.
  bool headless_gl = !run->windowed && open_gl(run, options);
  int refused = claim_record(run, options);
  if (!refused) read_run_job(run, options);
  if (!refused) refused = check_resume(run, options);
  if (refused) return refused;
  install_stop_signals();
  start_job(run, options, run->windowed ? open_gl(run, options) : headless_gl);
  set_display_loss_hook(write_pending_results);
  while (!run->quit && !stop_reason(run)) {
    if (waiting_for_window(run)) wait_step(run);
    else run_pass(run);
  }
  if (!run->windowed) finish_progress(run);
  set_display_loss_hook(nullptr);  // the results are finished here
  return finish_run_record(run, finish_reports(&run->reports, &run->ledger));
}
