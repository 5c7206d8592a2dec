#include "render/graphics/graphics.h"

#include <cstring>

#include "assets/asset_registry.h"
#include "assets/device_bindings.h"
#include "assets/link_pool.h"
#include "assets/package_loader.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/shaders.h"
#include "render/movie/movie_textures.h"
#include "render/overlay2d/overlay2d.h"
#include "render/overlay2d/prim2d.h"
#include "render/tasks/task.h"
#include "render/text/fonts.h"
#include "render/text/text_queue.h"
#include "render/views/render_views.h"
#include "render/world/prim3d.h"
#include "render/world/sprite3d.h"
#include "scene3d/animation.h"
#include "scene3d/collision_world.h"
#include "scene3d/light_spheres.h"
#include "scene3d/part_records.h"
#include "scene3d/part_render.h"
#include "scene3d/ray_collision.h"
#include "scene3d/sphere_world.h"
#include "shell/services/fatal_exit.h"
#include "shell/services/startup_trace.h"

namespace {

GraphicsState graphics;

// Fatal-error origin of a machine that cannot draw at all.
constexpr uint16_t kFatalOriginGraphics = 2;

}  // namespace

const GraphicsState* gfx_state() { return &graphics; }
int gfx_text_buffer_d3dx() { return graphics.d3dx_text_queue; }
int gfx_text_buffer_main() { return graphics.main_text_queue; }
void gfx_set_render_enabled(int enabled) { graphics.render_enabled = enabled; }

// Default-pool textures, depth surfaces and the saved surfaces give up their
// device objects before the reset and make them again after it.
void gfx_on_device_lost() {
  d3dx_font_release();
  shaders_release();
  release_device_textures();
}

void gfx_on_device_reset() {
  d3dx_font_create();
  shaders_init();
  restore_device_textures();
}

void gfx_install_device_hooks() {
  gfx_device_set_hooks({asset_store_device_started, asset_store_device_stopping, gfx_on_device_lost,
                        gfx_on_device_reset});
}

int gfx_init(PlatformWindow* window, uint32_t reserved, int width, int height, int colour_bits,
             const GfxInitLayout layout) {
  startup_trace_mark(STARTUP_GRAPHICS_BEGIN);
  std::memset(&graphics, 0, sizeof graphics);
  graphics.window = window;
  graphics.reserved = reserved;
  graphics.colour_bits = colour_bits;
  view_set_screen(width, height, layout);
  graphics.d3dx_text_queue = text_queue_create(GFX_D3DX_TEXT_BYTES);
  graphics.main_text_queue = text_queue_create(GFX_MAIN_TEXT_BYTES);
  graphics.render_enabled = 1;

  gfx_install_device_hooks();
  GfxDeviceParams params{window, width, height, colour_bits, 0, layout ? layout[4] : 0, nullptr, nullptr};
  if (!gfx_device_init(params)) {
    // Every later component draws through the device: without one there is
    // nothing to show, so say so and end instead of running blind.
    const char* text = "The graphics device cannot be created: OpenGL 3.3 is not available.";
    window_message_box(text, "Tamberlune");
    fatal_error_exit(kFatalOriginGraphics, 0, 0, text);
  }

  init_package_loader();
  startup_trace_mark(STARTUP_SHADERS_BEGIN);
  shaders_init();
  startup_trace_mark(STARTUP_SHADERS_END);
  fonts_init();
  render_views_init();
  movie_tex_init();
  // Light spheres follow the task pool's resets and owner kills.
  lightsphere_init();
  tasks_init();
  line2d_register_type();
  tri2d_register_type();
  overlay2d_register_types();
  line3d_register_type();
  tri3d_register_type();
  sprite3d_register_type();
  register_part_classes();
  sphereworld_init();
  collworld_init();
  anim_init();
  raycol_init();
  init_view_defaults();
  gfx_reset_components();
  return 1;
}

void gfx_shutdown() {
  text_queue_destroy(graphics.d3dx_text_queue);
  text_queue_destroy(graphics.main_text_queue);
  raycol_release();
  anim_release();
  collworld_shutdown();
  sphereworld_shutdown();
  scenepass_release();
  sprite3d_shutdown();
  tri3d_shutdown();
  line3d_shutdown();
  overlay2d_shutdown();
  tri2d_shutdown();
  line2d_shutdown();
  tasks_shutdown();
  movie_tex_shutdown();
  render_views_shutdown();
  fonts_shutdown();
  shaders_release();
  shutdown_package_loader();
  gfx_device_shutdown();
}

void gfx_reset_views() {
  gfx_resources_noop();
  init_view_defaults();
}

void gfx_reset_components() {
  handles_reset();
  tasks_reset();
  link_pool_reset();
  anim_init();
  sphereworld_reset();
  raycol_reset_pools();
  gfx_reset_views();
  collworld_clear();
  part_slot_pool_reset();
  render_views_on_device_lost();
  movie_tex_reset();
}

void gfx_clear_components() {
  reset_package_loader();
  movie_tex_stop_all();
  render_views_clear();
  part_slot_pool_clear();
  gfx_resources_noop();
  raycol_clear();
  collworld_reset();
  sphereworld_release_all();
  anim_release();
  link_pool_reset();
  tasks_reset();
  handles_reset();
  gfx_reset_views();
}

void view_request_resize(int width, int height, int full_screen) { gfx_request_resize(width, height, full_screen); }
bool view_requested_mode() { return gfx_requested_mode(); }
