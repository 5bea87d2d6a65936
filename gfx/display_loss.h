// What the process does before it ends because the connection to the
// display was lost. Nothing can be drawn or read any more, but the run may
// still hold text that never reached its files: the run registers a
// function that writes it out, and the platform layer calls it on its way
// out of the process.
#pragma once

typedef void (*DisplayLossHook)();

// Registers the hook; null for none. The last one registered counts.
void set_display_loss_hook(DisplayLossHook hook);
// Calls the hook, once: a loss met while it runs calls nothing more.
void run_display_loss_hook();
