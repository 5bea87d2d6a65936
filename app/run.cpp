#include "app/run.h"

#include <cstdio>
#include <cstdlib>

#include "app/aperture.h"
#include "app/engine.h"
#include "app/random_passes.h"
#include "app/record.h"
#include "app/schedule.h"
#include "app/statistics.h"
#include "gfx/clock.h"
#include "gfx/frame.h"
#include "gfx/gl.h"
#include "gfx/graphics_state.h"
#include "gfx/messages.h"
#include "gfx/platform.h"
#include "map/shader_program.h"
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

void refuse_sample(RunState* run, const char* reason) {
  static int32_t last_refused = -1;
  if (last_refused != run->samples - 1)
    std::fprintf(stderr, "sample %d not counted: %s; it is taken again\n", run->samples, reason);
  last_refused = run->samples;
  run->samples -= 1;
}

// The limit is on sample numbers: a shard ends when its next sample lies
// beyond it.
bool sample_limit_reached(const RunState* run) {
  return run->max_samples > 0 && run_sample_number(run, run->samples + 1) > run->max_samples;
}

void enter_job_dir(const RunOptions* options) {
  if (options->job_dir.empty() || platform_change_dir(options->job_dir.c_str())) return;
  fatal_error(format_text("The job directory %s cannot be entered", options->job_dir.c_str()).c_str());
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
  if (options->engine != kEngineAuto)
    fatal_error(format_text("No GL context without a window: %s", why.c_str()).c_str());
  std::fprintf(stderr, "no GL context without a window (%s); the CPU engine takes the samples\n", why.c_str());
  return false;
}

// The engine and what it runs on are named before it is prepared, so that
// a failure to prepare it is read against them.
void choose_and_prepare(RunState* run, const RunOptions* options, bool have_gl, const char* source) {
  const char* renderer = have_gl ? reinterpret_cast<const char*>(glGetString(GL_RENDERER)) : nullptr;
  engine_info.gl_renderer = renderer ? renderer : "";
  float version = have_gl ? gl_version() : 0;
  engine_info.kind = choose_engine(options->engine, have_gl, engine_info.gl_renderer.c_str(), version);
  std::fprintf(stderr, "veldspan %s: engine %s on %s\n", program_version(), engine_name(engine_info.kind),
               engine_device_text().c_str());
  engine_prepare(run, engine_info.kind, source);
}

}  // namespace

void check_job(const JobSettings* settings) {
  std::string refusal = job_refusal(settings);
  if (!refusal.empty()) fatal_error(refusal.c_str());
}

void sample_jitter(int32_t sample, double jitter[4]) {
  uint32_t index[4];
  jitter_indices(sample, &index[0], &index[1], &index[2], &index[3]);
  for (int k = 0; k < 4; k++) jitter[k] = jitter_fraction(index[k]);
}

bool count_sample(RunState* run, const char* reason) {
  if (reason) {
    refuse_sample(run, reason);
    return false;
  }
  record_pass(run, 's', run_sample_number(run, run->samples));
  note_scheduled_sample(run, run_sample_number(run, run->samples));
  if (run->shards) return true;  // a shard's statistics are made by the merge
  if (count_into_results(run) && !run->windowed) report_progress(run, true);
  return true;
}

bool take_sample(RunState* run, bool picture) {
  run->samples += 1;
  double jitter[4];
  sample_jitter(int32_t(run_sample_number(run, run->samples)), jitter);
  const char* reason = engine_sample(run, jitter, picture);
  double t = PerfClock();
  bool counted = count_sample(run, reason);
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

// The window's part of a pass: the picture and the status text when the
// frame is shown, then the messages and the keys.
void frame_step(RunState* run, bool shown) {
  double t = PerfClock();
  if (shown) {
    engine_draw_picture(run);
    draw_status(run);
  }
  double drawn = PerfClock();
  present_pass(run, shown);
  run->stage_seconds[kStageStatus] = drawn - t;
  run->stage_seconds[kStagePresent] = PerfClock() - drawn;
}

void headless_step(RunState* run) {
  double t = PerfClock();
  report_progress(run, false);
  run->stage_seconds[kStageStatus] = PerfClock() - t;
  run->stage_seconds[kStagePresent] = 0;
}

void run_pass(RunState* run) {
  run->clock_prev = run->clock_now;
  run->clock_now = PerfClock();
  bool shown = presentation_due(run);
  // A random pass owed is taken before the next sample, and the run does
  // not end by its sample limit while one is owed.
  bool counted = random_pass_owed(run) ? take_random_pass(run, shown) : take_sample(run, shown);
  if (run->windowed) frame_step(run, shown);
  else headless_step(run);
  run->quit = run->quit || (counted && sample_limit_reached(run) && !random_pass_owed(run));
}

void start_job(RunState* run, const RunOptions* options, bool have_gl) {
  if (have_gl) load_shader_api();
  char* source = prepare_job(run);
  choose_and_prepare(run, options, have_gl, source);
  run->shard = options->shard;
  run->shards = options->shards;
  start_random_passes(run);
  start_run_with_record(run, options->resume);
  run->max_samples = options->max_samples >= 0 ? options->max_samples : run->settings.maxsamples;
  run->time_limit = options->max_seconds;
  run->clock_now = run->clock_started = PerfClock();
  if (run->windowed && graphics.width == 0)
    fatal_error("GRAPHICS() macro not called at LOOP start, or no resolution specified");
  // A resumed run may be complete already; the window may have been closed already.
  run->quit = (sample_limit_reached(run) && !random_pass_owed(run)) || (run->windowed && pump_messages() != 0);
}

int run_job(const RunOptions* options) {
  RunState* run = &the_run;
  run->windowed = !options->headless;
  if (options->headless) graphics.headless = 1;
  enter_job_dir(options);
  JobSettings early = read_job_file("input.txt");
  check_job(&early);
  install_stop_signals();
  start_job(run, options, open_gl(run, options));
  while (!run->quit && !stop_reason(run)) run_pass(run);
  if (!run->windowed) finish_progress(run);
  int results = finish_results(run), aperture = finish_aperture(run);
  return finish_run_record(run, results ? results : aperture, options);
}
