#include "render/core/graphics.h"

#include "platform/gpu/gpu.h"
#include "platform/window/window.h"
#include "render/core/gfx_device.h"
#include "render/core/render_states.h"
#include "shell/scene_runner.h"

namespace {

constexpr uint16_t kFatalOriginGraphics = 2;

}  // namespace

// Graphics start-up records the screen sizes and creates the device; each
// frame clears the back buffer and presents it.
int gfx_init(PlatformWindow* window, int, int width, int height, int depth, const int layout[5]) {
  view_set_screen(width, height, layout);
  GfxDeviceParams params{window, width, height, depth, 0, layout ? layout[4] : 0, nullptr, nullptr};
  if (!gfx_device_init(params)) {
    // Without a device nothing can be shown: say so and end.
    const char* text = "The graphics device cannot be created: OpenGL 3.3 is not available.";
    window_message_box(text, "Tamberlune");
    fatal_error_exit(kFatalOriginGraphics, 0, 0, text);
  }
  return 1;
}

void run_frame(int) {
  GfxDevice* g = gfx_device_ptr();
  if (!g->lost && gpu_begin_scene(g->device) == GPU_OK) {
    gfx_set_scissor(-1);
    gfx_set_viewport(-1);
    gfx_clear(5, 0);
    gpu_end_scene(g->device);
  }
  gfx_present();
}

void gfx_shutdown() { gfx_device_shutdown(); }
