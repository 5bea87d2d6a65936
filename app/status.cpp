#include "app/run.h"

// The status text comes with the font system; until then the strip beside
// the square stays black.
void setup_status_font() {}

void draw_status(RunState*) {}
