#include "gfx/display_loss.h"

namespace {

DisplayLossHook display_loss_hook = nullptr;

}  // namespace

void set_display_loss_hook(DisplayLossHook hook) { display_loss_hook = hook; }

void run_display_loss_hook() {
  DisplayLossHook hook = display_loss_hook;
  display_loss_hook = nullptr;
  if (hook) hook();
}
