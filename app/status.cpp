#include <cstring>

#include "app/run.h"
#include "app/schedule.h"
#include "gfx/gl.h"
#include "gfx/graphics_state.h"
#include "text/font_file.h"
#include "text/font_registry.h"
#include "text/font_style.h"
#include "text/text_draw.h"

namespace {

// NOTE: two equal clock readings (a coarse clock) make dt zero; the rates
// then show as "-" rather than as infinities.
std::string rate_text(double count, double dt) { return dt > 0 ? format_text("%lg", count / dt) : "-"; }

void draw_block(RunState* run, int y, const std::string& text) {
  size_t n = text.copy(run->status_text, sizeof run->status_text - 1);
  run->status_text[n] = 0;
  draw_text(graphics.height, y, 0, run->status_text, 0xFFFFFF);
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

std::string status_progress_text(const RunState* run) {
  double s = run->side;
  return format_text("Sample %d (%d^4 in %lld)\n%lg particles", run->samples, run->next_checkpoint,
                     static_cast<long long>(samples_to_checkpoint(run->samples, run->next_checkpoint)),
                     s * s * run->samples);
}

void draw_status(RunState* run) {
  GLenum error = glGetError();
  draw_block(run, 0, status_rates_text(run, error));
  draw_block(run, 5 * line_height, status_progress_text(run));
}
