#include <cstdio>

#include "app/status.h"

#include "gfx/clock.h"
#include "gfx/frame.h"
#include "gfx/gl.h"
#include "gfx/graphics_state.h"
#include "results/intervals.h"
#include "text/font_file.h"
#include "text/font_registry.h"
#include "text/font_style.h"
#include "text/text_draw.h"
#include "util/files.h"
#include "util/text_util.h"

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
bool progress_in_place() {
  static const bool terminal = stderr_is_terminal();
  return terminal;
}

// The DA in beam sigma with its 95% interval.
std::string da_status_text(const JobSettings* job, const RandomInterval* v) {
  std::string t = format_text("DA %.4lg sigma", da_sigma(job, v->volume));
  if (v->passes < 2) return t + " (1 random pass)";
  return t + format_text(", %.4lg to %.4lg (95%%)", da_sigma(job, v->low), da_sigma(job, v->high));
}

double square_pixels(const RunState* run) { return double(run->map.side) * run->map.side; }

// Particle-turns per second over the whole run, when the engine counts
// turns; the grid points tracked per second otherwise.
std::string throughput_text(const RunState* run, double elapsed) {
  double particles = square_pixels(run) * samples_taken(run);
  if (run->particle_turns >= 0) return rate_text(double(run->particle_turns), elapsed) + " particle-turns/s";
  return rate_text(particles, elapsed) + " particles/s";
}

std::string time_to_block_text(const RunState* run, int64_t left, double elapsed) {
  if (samples_taken(run) < 1 || !(elapsed > 0)) return "";
  return format_text(" in %.0f s", double(left) * elapsed / samples_taken(run));
}

}  // namespace

void setup_status_font() {
  load_font_file("font.dat", "normal");
  make_named_font("normal", "profile");
}

std::string status_rates_text(const RunState* run, unsigned error) {
  double dt = run->clock_now - run->clock_prev;
  return format_text("prog=%d glGetError()=%d (GL_NO_ERROR=%d)\n", static_cast<int>(run->engine.program),
                     static_cast<int>(error), 0) +
         rate_text(1, dt) + " samples/s\n" + rate_text(square_pixels(run), dt) + " particles/s";
}

std::string status_engine_text(const RunState* run) {
  bool in_double = run->engine.identity.precision == kPrecisionDouble;
  return std::string("Engine: ") + engine_name(run->engine.identity.kind) + (in_double ? " (double precision)" : "") +
         "\n" + run->engine.identity.renderer;
}

std::string status_progress_text(const RunState* run) {
  BlockProgress b = block_progress(&run->ledger);
  return format_text("Sample %d (%d^4 in %lld)\n%lg particles", b.samples, b.checkpoint, static_cast<long long>(b.left),
                     square_pixels(run) * b.samples);
}

namespace {

// NOTE: the interval takes a few tenths of a millisecond (its bisections
// of the t and binomial tails), too much for every shown frame, while it
// changes only when a random pass is counted.
const std::string& kept_random_status(RunState* run) {
  if (run->random_status_passes != run->ledger.randoms.passes) {
    run->random_status = random_status_text(run);
    run->random_status_passes = run->ledger.randoms.passes;
  }
  return run->random_status;
}

}  // namespace

void draw_status(RunState* run) {
  GLenum error = glGetError();
  draw_block(0, status_rates_text(run, error));
  draw_block(5 * line_height, status_progress_text(run) + "\n" + kept_random_status(run));
  draw_block(9 * line_height, status_engine_text(run) + (run->box_cut ? "\nThe box cuts the stable region" : ""));
  bool waiting = !run->refused.empty() && square_hidden_reason(run->map.side);
  draw_block(12 * line_height, status_refusal_text(run->refused, waiting));
}

// A shard writes no blocks: it names itself instead.
std::string progress_text(const RunState* run, double now) {
  double elapsed = now - run->clock_started;
  std::string rates = rate_text(samples_taken(run), elapsed) + " samples/s, " + throughput_text(run, elapsed);
  const Ledger* l = &run->ledger;
  if (is_shard(run)) return format_text("shard %d/%d: %d samples, ", l->shard, l->shards, run_samples(run)) + rates;
  BlockProgress b = block_progress(l);
  return format_text("sample %d, ", b.samples) + rates +
         format_text(", next block %d^4 at sample %lld", b.checkpoint, static_cast<long long>(b.due_at)) +
         time_to_block_text(run, b.left, elapsed);
}

void report_progress(RunState* run, bool block) {
  double now = PerfClock();
  if (!progress_in_place()) {
    if (block) std::fprintf(stderr, "%s\n", progress_text(run, now).c_str());
    return;
  }
  if (now - progress_shown < kProgressPeriod && !block) return;
  progress_shown = now;
  std::fprintf(stderr, "\r%s\033[K", progress_text(run, now).c_str());
  std::fflush(stderr);
}

void finish_progress(RunState* run) {
  if (!progress_in_place()) return;
  std::fprintf(stderr, "\r%s\033[K\n", progress_text(run, PerfClock()).c_str());
}

std::string status_refusal_text(const std::string& refused, bool waiting) {
  if (refused.empty()) return "";
  if (!waiting) return "Last pass not counted:\n" + refused;
  return "Waiting:\n" + refused + ";\npasses go on once the window\nshows the whole square";
}

std::string random_status_text(const RunState* run) {
  const Ledger* l = &run->ledger;
  if (l->every <= 0) return "Random passes off";
  RandomInterval v = random_interval(&run->settings, &l->randoms, iteration_count(&run->settings));
  std::string turns = format_text("%d: ", last_iteration(&run->settings));
  if (v.passes < 1) return turns + "no random pass yet";
  if (has_emittance(&run->settings)) return turns + da_status_text(&run->settings, &v);
  if (v.passes < 2) return turns + format_text("%.6lg (1 random pass)", v.volume);
  return turns + format_text("%.6lg +/- %.2lg (95%%)", v.volume, interval_half_width(&v));
}
