// Program entry: the job is input.txt in the working directory; the
// command line is not read.
#include <string>

#include "app/run.h"
#include "gfx/graphics_state.h"

int main(int argc, char** argv) {
  graphics.instance = nullptr;
  std::string command_line;
  for (int i = 1; i < argc; i++) command_line += std::string(i > 1 ? " " : "") + argv[i];
  return run_job(command_line.c_str());
}
