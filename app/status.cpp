#include <cstdio>

#include "app/engine.h"
#include "app/random_passes.h"
#include "app/run.h"
#include "app/schedule.h"
#include "gfx/clock.h"
#include "gfx/gl.h"
#include "gfx/graphics_state.h"
#include "gfx/platform.h"
#include "text/font_file.h"
#include "text/font_registry.h"
#include "text/font_style.h"
#include "text/text_draw.h"

namespace {

// NOTE: two equal clock readings (a coarse clock) make dt zero; the rates
// then show as "-" rather than as infinities.
std::string rate_text(double count, double dt) { return dt > 0 ? format_text("%lg", count / dt) : "-"; }

void draw_block(int y, const std::string& text) { draw_text(graphics.height, y, 0, text.c_str(), 0xFFFFFF); }

// Time of the last progress line written in place.
double progress_shown = -1e300;
const double kProgressPeriod = 0.25;

// NOTE: asked once: the progress is reported after every pass, and a pass
// of a small job takes microseconds, less than asking the system costs.
bool stderr_is_terminal() {
  static const bool terminal = platform_stderr_is_terminal();
  return terminal;
}

// Samples taken by this process: those read back from the record on a
// resume took no time now.
int32_t samples_taken(const RunState* run) { return run->samples - run->samples_replayed; }

// Particle-turns per second over the whole run, when the engine counts
// turns; the grid points tracked per second otherwise.
std::string throughput_text(const RunState* run, double elapsed) {
  double particles = double(run->side) * run->side * samples_taken(run);
  if (run->particle_turns >= 0) return rate_text(double(run->particle_turns), elapsed) + " particle-turns/s";
  return rate_text(particles, elapsed) + " particles/s";
}

std::string time_to_block_text(const RunState* run, double elapsed) {
  int64_t left = samples_to_checkpoint(run->samples, run->next_checkpoint);
  if (samples_taken(run) < 1 || !(elapsed > 0)) return "";
  return format_text(" in %.0f s", double(left) * elapsed / samples_taken(run));
}

}  // namespace

void setup_status_font() {
  load_font_file("font.dat", "normal");
  make_named_font("normal", "profile");
}

std::string status_rates_text(const RunState* run, unsigned error) {
  double dt = run->clock_now - run->clock_prev, s = run->side;
  return format_text("prog=%d glGetError()=%d (GL_NO_ERROR=%d)\n", static_cast<int>(run->program),
                     static_cast<int>(error), 0) +
         rate_text(1, dt) + " samples/s\n" + rate_text(s * s, dt) + " particles/s";
}

std::string status_engine_text() {
  return std::string("Engine: ") + engine_name(engine_info.kind) + "\n" + engine_device_text();
}

std::string status_progress_text(const RunState* run) {
  double s = run->side;
  return format_text("Sample %d (%d^4 in %lld)\n%lg particles", run->samples, run->next_checkpoint,
                     static_cast<long long>(samples_to_checkpoint(run->samples, run->next_checkpoint)),
                     s * s * run->samples);
}

void draw_status(RunState* run) {
  GLenum error = glGetError();
  draw_block(0, status_rates_text(run, error));
  draw_block(5 * line_height, status_progress_text(run) + "\n" + random_status_text(run));
  draw_block(9 * line_height, status_engine_text());
}

// A shard writes no blocks: it names itself instead.
std::string progress_text(const RunState* run, double now) {
  double elapsed = now - run->clock_started;
  std::string rates = rate_text(samples_taken(run), elapsed) + " samples/s, " + throughput_text(run, elapsed);
  if (run->shards) return format_text("shard %d/%d: %d samples, ", run->shard, run->shards, run->samples) + rates;
  return format_text("sample %d, ", run->samples) + rates +
         format_text(", next block %d^4 at sample %lld", run->next_checkpoint,
                     static_cast<long long>(checkpoint_samples(run->next_checkpoint))) +
         time_to_block_text(run, elapsed);
}

void report_progress(RunState* run, bool block) {
  double now = PerfClock();
  if (!stderr_is_terminal()) {
    if (block) std::fprintf(stderr, "%s\n", progress_text(run, now).c_str());
    return;
  }
  if (now - progress_shown < kProgressPeriod && !block) return;
  progress_shown = now;
  std::fprintf(stderr, "\r%s\033[K", progress_text(run, now).c_str());
  std::fflush(stderr);
}

void finish_progress(RunState* run) {
  if (!stderr_is_terminal()) return;
  std::fprintf(stderr, "\r%s\033[K\n", progress_text(run, PerfClock()).c_str());
}
