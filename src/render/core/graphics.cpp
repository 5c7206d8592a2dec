#include "render/core/graphics.h"

namespace {
// Until the device and frame driver exist, graphics start-up only records the
// layout size that the shell's mouse scaling and window aspect read.
int virtual_width = 0;
int virtual_height = 0;
}  // namespace

int gfx_init(PlatformWindow*, int, int width, int height, int, const int layout[5]) {
  virtual_width = layout && layout[0] ? layout[0] : width;
  virtual_height = layout && layout[1] ? layout[1] : height;
  return 1;
}

void run_frame(int) {}

void gfx_shutdown() {}

int get_virtual_screen_width() { return virtual_width; }
int get_virtual_screen_height() { return virtual_height; }
