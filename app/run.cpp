#include "app/run.h"

#include <cstdio>

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
// is drawn, read back and counted in every pass all the same.
const double kPresentPeriod = 1.0 / 60;

void set_jitter(const RunState* run) {
  uint32_t index[4];
  jitter_indices(run->samples, &index[0], &index[1], &index[2], &index[3]);
  const char* const names[4] = {"jx", "jxp", "jy", "jyp"};
  for (int k = 0; k < 4; k++) {
    GLint location = shader_api.get_uniform_location(run->program, names[k]);
    shader_api.uniform1f(location, static_cast<float>(jitter_fraction(index[k])));
  }
}

// Texture coordinates 0 to 1 across and down the side x side pixels at the
// top-left, so each pixel's fragment tracks its own grid point.
// NOTE: the square is drawn without the depth test: its pixels are all
// written in every pass whatever the depth buffer holds (it is cleared only
// in passes that present), and testing and writing depth for every pixel
// costs the software GL about 1 ms a square. Nothing else is drawn
// with depth, so the test is left off; setting it off again is free.
void draw_square(int side) {
  glDisable(GL_DEPTH_TEST);
  glColor3f(0, 0, 0.5f);
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0); glVertex2i(0, 0);
  glTexCoord2f(1, 0); glVertex2i(side, 0);
  glTexCoord2f(1, 1); glVertex2i(side, side);
  glTexCoord2f(0, 1); glVertex2i(0, side);
  glEnd();
}

// NOTE: pixels of a minimised, unmapped or too small window are undefined;
// counting them would put garbage into the statistics with no trace.
const char* unreadable_reason(const RunState* run) {
  if (!platform_window_viewable()) return "the window is not on the screen";
  if (graphics.width < run->side || graphics.height < run->side) return "the window is smaller than the square";
  return nullptr;
}

void refuse_sample(RunState* run, const char* reason) {
  static int32_t last_refused = -1;
  if (last_refused != run->samples - 1)
    std::fprintf(stderr, "sample %d not counted: %s; it is taken again\n", run->samples, reason);
  last_refused = run->samples;
  run->samples -= 1;
}

// NOTE: a pass is timed stage by stage with the program's own clock, so
// that the benchmark (and anyone reading the record) sees where it goes;
// a clock reading costs far less than the smallest stage.
void stage_done(RunState* run, PassStage stage, double* since) {
  double now = PerfClock();
  run->stage_seconds[stage] = now - *since;
  *since = now;
}

bool sample_limit_reached(const RunState* run) {
  return run->settings.maxsamples > 0 && run->samples >= run->settings.maxsamples;
}

}  // namespace

void check_job(const JobSettings* settings) {
  std::string refusal = job_refusal(settings);
  if (!refusal.empty()) fatal_error(refusal.c_str());
}

void draw_sample(RunState* run) {
  shader_api.use_program(run->program);
  run->samples += 1;
  set_jitter(run);
  draw_square(run->side);
}

void finish_sample(RunState*) {
  glFinish();
  shader_api.use_program(0);
}

void read_sample(RunState* run) {
  read_window_pixels(0, 0, run->side, run->side, GL_RGB, run->pixels);
}

bool count_sample(RunState* run) {
  const char* reason = unreadable_reason(run);
  int64_t out_of_range = count_levels(run);
  if (!reason && out_of_range) reason = "pixels hold colours that are no loss class";
  if (reason) {
    refuse_sample(run, reason);
    return false;
  }
  add_sample_volumes(run);
  if (checkpoint_due(run->samples, run->next_checkpoint)) {
    write_result_block(run);
    run->next_checkpoint += 1;
  }
  return true;
}

bool take_sample(RunState* run) {
  draw_sample(run);
  finish_sample(run);
  read_sample(run);
  return count_sample(run);
}

bool presentation_due(const RunState* run) {
  return key_newly_pressed(kKeyS) || !(run->clock_now - run->clock_presented < kPresentPeriod);
}

void present_pass(RunState* run, bool counted, bool shown) {
  if (shown) {
    if (key_newly_pressed(kKeyS)) take_screenshot();
    end_frame(0);
    run->clock_presented = run->clock_now;
  }
  int quit_message = pump_messages();
  bool keys = key_held(graphics.keys, kKeyQ) || key_held(graphics.keys, VK_ESCAPE);
  run->quit = run->quit || quit_message || keys || (counted && sample_limit_reached(run));
}

void run_pass(RunState* run) {
  run->clock_prev = run->clock_now;
  run->clock_now = PerfClock();
  double t = run->clock_now;
  draw_sample(run);
  stage_done(run, kStageDraw, &t);
  finish_sample(run);
  stage_done(run, kStageFinish, &t);
  read_sample(run);
  stage_done(run, kStageRead, &t);
  bool counted = count_sample(run), shown = presentation_due(run);
  stage_done(run, kStageCount, &t);
  if (shown) draw_status(run);
  stage_done(run, kStageStatus, &t);
  present_pass(run, counted, shown);
  stage_done(run, kStagePresent, &t);
}

int run_job(const char* /*command_line: the program takes no arguments*/) {
  RunState* run = &the_run;
  JobSettings early = read_job_file("input.txt");
  check_job(&early);
  open_graphics(1280, 1024, kTitle);
  setup_status_font();
  load_shader_api();
  char* source = prepare_job(run);
  run->program = build_shader_program(source, iteration_count(&run->settings));
  start_run(run);
  run->clock_now = PerfClock();
  if (graphics.width == 0) fatal_error("GRAPHICS() macro not called at LOOP start, or no resolution specified");
  pump_messages();
  run->quit = false;
  while (!run->quit) run_pass(run);
  return 0;
}
