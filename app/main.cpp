// Program entry: veldspan [options] [JOBDIR]. With no arguments the job is
// input.txt in the working directory, run in a window.
#include "app/options.h"
#include "app/run.h"
#include "gfx/graphics_state.h"

int main(int argc, char** argv) {
  graphics.instance = nullptr;
  RunOptions options = default_options();
  int status = read_command_line(argc, argv, &options);
  return status >= 0 ? status : run_job(&options);
}
