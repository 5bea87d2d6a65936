// Program entry on Windows: a GUI program without a console. The job is
// input.txt in the working directory; the command line is handed on but not
// read. The exit status is run_job's (0, or 2 when results could not be
// written), or 1 from a fatal error, which ends the process before this
// returns.
#include <windows.h>

#include "app/run.h"
#include "gfx/graphics_state.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous: always null*/, LPSTR command_line, int /*show*/) {
  graphics.instance = instance;
  return run_job(command_line ? command_line : "");
}
