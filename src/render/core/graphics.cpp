#include "render/core/graphics.h"

// Until the device and frame driver exist, graphics start-up only records the
// screen sizes that the shell's mouse scaling and window aspect read.
int gfx_init(PlatformWindow*, int, int width, int height, int, const int layout[5]) {
  view_set_screen(width, height, layout);
  return 1;
}

void run_frame(int) {}

void gfx_shutdown() {}
