#include "app/job.h"

#include <cstdio>

#include "gfx/frame.h"
#include "map/shader_source.h"
#include "util/files.h"

void read_run_job(RunState* run, const RunOptions* options) {
  read_job_source("input.txt", &run->source);
  run->settings = parse_job(&run->source);
  if (options->precision >= 0) run->settings.precision = static_cast<Precision>(options->precision);
  std::string refusal = job_refusal(&run->settings);
  if (!refusal.empty()) fatal_error(refusal.c_str());
}

char* prepare_job(RunState* run) {
  run->map = lower_map(&run->settings);
  char* source = generate_shader(&run->map);
  if (!write_whole_file("shadercode.txt", "wt", source))
    std::fprintf(stderr, "shadercode.txt could not be written; the run goes on without it\n");
  return source;
}
