#include <cstdio>
#include <cstdlib>

#include "gfx/clock.h"
#include "gfx/frame.h"
#include "gfx/graphics_state.h"
#include "gfx/platform.h"

namespace {

void append_log(const char* text) {
  FILE* log = std::fopen("graphics_error.log", "at");
  if (!log) {
    std::fprintf(stderr, "graphics_error.log could not be opened: %s", text);
    return;
  }
  std::fputs(text, log);
  std::fclose(log);
}

}  // namespace

void log_error(const char* message) {
  std::string line = std::string(date_time_text(time_text)) + " " + message + "\n";
  append_log(line.c_str());
}

void fatal_error(const char* message) { fatal_error_detail(message, nullptr); }

// NOTE: a fatal error ends with status 1, unlike a closed window: a script
// that runs a job must be able to tell a failed run from a finished one.
void fatal_error_detail(const char* message, const char* detail) {
  log_error(message);
  if (detail && *detail) append_log(detail);
  // NOTE: a run without a window has nobody to click a box away; its
  // message goes to stderr, which a batch system keeps.
  if (graphics.headless) std::fprintf(stderr, "%s\n", message);
  else platform_message_box(message, "Oh sod it");
  close_graphics_and_exit(1);
}

void close_graphics_and_exit(int status) {
  platform_release_graphics();
  platform_post_quit(0);
  std::fflush(nullptr);
  std::exit(status);
}
