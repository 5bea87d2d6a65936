#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/run_state.h"
#include "gfx/clock.h"
#include "map/shader_source.h"

bool write_whole_file(const char* path, const char* mode, const char* text) {
  FILE* file = std::fopen(path, mode);
  if (!file) return false;
  std::fputs(text, file);
  // NOTE: once the file opened, its text counts as written even when the
  // close reports an error: writing it again could double what did land.
  if (std::fclose(file) != 0) std::fprintf(stderr, "%s: writing failed; the file may be incomplete\n", path);
  return true;
}

char* prepare_job(RunState* run) {
  run->settings = read_job_file("input.txt");
  JobSettings copy = run->settings;
  char* source = generate_shader(&copy, false);
  if (!write_whole_file("shadercode.txt", "wt", source))
    std::fprintf(stderr, "shadercode.txt could not be written; the run goes on without it\n");
  return source;
}

bool write_results_text(RunState* run, const char* text) {
  string_append(&run->results_pending, text);
  const char* mode = run->results_truncate ? "wt" : "at";
  if (!write_whole_file("output.csv", mode, run->results_pending)) {
    std::fprintf(stderr, "output.csv could not be opened; its text is kept until it can be\n");
    return false;
  }
  run->results_pending[0] = 0;
  run->results_truncate = false;
  return true;
}

void start_run(RunState* run) {
  run->results_pending = nullptr;
  string_set(&run->results_pending, "");
  run->results_truncate = true;
  std::string first = format_text("Veldspan job started %s\n", date_time_text(time_text));
  write_results_text(run, first.c_str());
  run->side = run->settings.baseres * run->settings.baseres;
  int32_t n = iteration_count(&run->settings);
  run->pixels = static_cast<unsigned char*>(std::malloc(size_t(run->side) * size_t(run->side) * 3));
  run->histogram = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * (size_t(n) + 1)));
  run->count_sum = static_cast<int64_t*>(std::calloc(size_t(n) + 1, sizeof(int64_t)));
  run->count_sq_sum = static_cast<SquareSum*>(std::calloc(size_t(n) + 1, sizeof(SquareSum)));
  run->samples = 0;
  run->next_checkpoint = 1;
  run->clock_presented = -HUGE_VAL;  // the first pass presents
}
