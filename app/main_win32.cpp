// Program entry on Windows: a GUI program without a console, taking the
// same command line as on Linux. The exit status is run_job's, or 1 from a
// fatal error, which ends the process before this returns.
#include <windows.h>

#include <cstdlib>

#include "app/program.h"
#include "gfx/graphics_state.h"

// NOTE: the C runtime splits the command line into __argc and __argv for a
// GUI program as it does for main.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous: always null*/, LPSTR /*command line*/, int /*show*/) {
  graphics.instance = instance;
  return program_main(__argc, __argv);
}
