// Program entry: veldspan [options] [JOBDIR], or veldspan merge ... With no
// arguments the job is input.txt in the working directory, run in a window.
#include "app/program.h"
#include "gfx/graphics_state.h"

int main(int argc, char** argv) {
  graphics.instance = nullptr;
  return program_main(argc, argv);
}
