#include "render/device/gfx_device.h"

#include <cstdlib>

#include "platform/sys/sys.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"
#include "render/device/shaders.h"
#include "render/view/view_state.h"
#include "shell/services/shared_semaphore.h"

namespace {

GfxDevice dev;
GfxDeviceHooks hooks;
GfxDeviceCallback restyle_hook = nullptr;

struct Attempt {
  int device_type;
  GpuDeviceType type;
  uint32_t behaviour;
};

void draw_black_frame() {
  GpuDevice* d = dev.device;
  gpu_begin_scene(d);
  gfx_set_scissor_rect(0, 0, dev.requested_width, dev.requested_height);
  gfx_set_viewport_rect(0, 0, dev.requested_width, dev.requested_height);
  gfx_clear(5, 0);
  gpu_end_scene(d);
  gfx_present();
}

}  // namespace

GpuDevice* gfx_device() { return dev.device; }
GfxDevice* gfx_device_ptr() { return &dev; }

bool gfx_supports_vs2() { return dev.vs_above_11; }
bool gfx_supports_ps2() { return dev.ps_20; }
int gfx_max_render_targets() { return dev.render_targets; }
bool gfx_requested_mode() { return dev.full_screen; }

int gfx_device_init(const GfxDeviceParams& params) {
  dev = GfxDevice{};
  dev.disp = create_shared_semaphore(1, 1, "disp");
  dev.window = params.window;
  dev.adapter = gpu_adapter_caps(GPU_DEVICE_HAL, &dev.caps) == GPU_OK;
  dev.on_lost = params.on_lost ? params.on_lost : hooks.lost;
  dev.on_reset = params.on_reset ? params.on_reset : hooks.reset;
  dev.requested_width = std::abs(params.width);
  dev.requested_height = std::abs(params.height);
  dev.colour_bits = params.colour_bits;
  dev.full_screen = false;
  dev.lockable_back_buffer = false;
  if (!dev.adapter || !gfx_create_device(dev.requested_width, dev.requested_height, dev.full_screen)) {
    close_shared_semaphore(dev.disp);
    dev.disp = nullptr;
    return 0;
  }

  dev.has_stencil =
      dev.present_params.auto_depth_stencil && gpu_format_has_stencil(dev.present_params.auto_depth_stencil_format);
  gpu_device_caps(dev.device, &dev.caps);
  dev.vs_above_11 = dev.caps.vertex_shader_version > 0xFFFE0101u;
  dev.ps_20 = dev.caps.pixel_shader_version >= 0xFFFF0200u;
  dev.render_targets = int32_t(dev.caps.max_simultaneous_rts);
  dev.back_buffer_width = int32_t(dev.present_params.back_buffer_width);
  dev.back_buffer_height = int32_t(dev.present_params.back_buffer_height);

  draw_black_frame();
  draw_black_frame();

  gfx_set_viewport_rect(0, 0, get_virtual_screen_width(), get_virtual_screen_height());
  gfx_invalidate_render_cache();
  gfx_resources_init();
  if (get_back_buffer_width() > 0 && get_back_buffer_height() > 0) {
    dev.back_buffer_width = get_back_buffer_width();
    dev.back_buffer_height = get_back_buffer_height();
  }
  if (hooks.started) hooks.started();
  return 1;
}

void gfx_fill_present_params(int width, int height, bool full_screen) {
  GpuDisplayMode mode;
  gpu_adapter_display_mode(&mode);
  GpuPresentParams& p = dev.present_params;
  p = GpuPresentParams{};
  if (!full_screen) {
    p.windowed = true;
    p.back_buffer_width = 0;  // the window's client size
    p.back_buffer_height = 0;
    p.swap_effect = GPU_SWAP_COPY;
    p.presentation_interval = GPU_PRESENT_INTERVAL_IMMEDIATE;
  } else {
    p.windowed = false;
    p.back_buffer_width = uint32_t(width);
    p.back_buffer_height = uint32_t(height);
    p.swap_effect = GPU_SWAP_FLIP;
    p.refresh_rate = 60;
    p.presentation_interval = GPU_PRESENT_INTERVAL_ONE;
  }
  p.back_buffer_format = mode.format;
  p.back_buffer_count = 1;
  p.multisample = 0;
  p.window = dev.window;
  p.auto_depth_stencil = false;
  p.flags = dev.lockable_back_buffer ? uint32_t(GPU_PRESENTFLAG_LOCKABLE_BACKBUFFER) : 0u;
}

int gfx_create_device(int width, int height, bool full_screen) {
  gfx_fill_present_params(width, height, full_screen);
  static const Attempt kWithoutPs2[] = {{1, GPU_DEVICE_HAL, GPU_CREATE_SOFTWARE_VP},
                                        {2, GPU_DEVICE_REF, GPU_CREATE_SOFTWARE_VP}};
  static const Attempt kWithPs2[] = {{0, GPU_DEVICE_HAL, GPU_CREATE_HARDWARE_VP | GPU_CREATE_PURE},
                                     {1, GPU_DEVICE_HAL, GPU_CREATE_SOFTWARE_VP},
                                     {2, GPU_DEVICE_REF, GPU_CREATE_SOFTWARE_VP}};
  bool ps2 = dev.caps.pixel_shader_version >= 0xFFFF0200u;
  const Attempt* list = ps2 ? kWithPs2 : kWithoutPs2;
  int count = ps2 ? 3 : 2;
  for (int i = 0; i < count; ++i) {
    GpuPresentParams p = dev.present_params;
    if (gpu_device_create(list[i].type, dev.window, list[i].behaviour, &p, &dev.device) == GPU_OK) {
      dev.present_params = p;
      dev.device_type = list[i].device_type;
      return 1;
    }
  }
  dev.adapter = false;
  return 0;
}

void gfx_present() {
  if (!dev.device) return;
  bool reset = dev.reset_request;
  dev.reset_request = false;
  bool lost = gpu_present(dev.device) == GPU_DEVICE_LOST;
  if (reset) {
    gfx_fill_present_params(dev.requested_width, dev.requested_height, dev.full_screen);
    lost = true;
  }
  if (!lost) {
    dev.lost = false;
    return;
  }
  sys_sleep_ms(100);
  if (!reset) {
    GpuResult r = gpu_test_cooperative_level(dev.device);
    if (r == GPU_OK) {
      dev.lost = true;  // this frame was not shown; skip the next one
      return;
    }
    if (r != GPU_DEVICE_NOT_RESET) return;
  }
  if (dev.on_lost) dev.on_lost();
  if (gpu_reset(dev.device, &dev.present_params) != GPU_OK) return;  // the next frame tries again
  // A reset returns every device state to its default: what the caches
  // remember no longer holds.
  gfx_invalidate_render_cache();
  gfx_invalidate_stage_cache();
  dev.viewport = gpu_get_viewport(dev.device);
  if (dev.on_reset) dev.on_reset();
  if (restyle_hook) restyle_hook();
}

void gfx_request_resize(int width, int height, int full_screen) {
  if (dev.lost) return;
  dev.reset_request = true;
  if (width > 0) dev.requested_width = width;
  if (height > 0) dev.requested_height = height;
  if (full_screen >= 0) dev.full_screen = full_screen != 0;
}

bool gfx_check_texture_format(GpuFormat format, int kind) {
  GpuDeviceType type = dev.device_type == 2 ? GPU_DEVICE_REF : GPU_DEVICE_HAL;
  GpuFormat adapter = dev.present_params.back_buffer_format;
  switch (kind) {
    case 0:
      return gpu_check_format(type, adapter, GPU_USAGE_AUTOGENMIPMAP, GPU_RTYPE_TEXTURE, format) == GPU_OK &&
             gpu_check_format(type, adapter, GPU_USAGE_QUERY_FILTER, GPU_RTYPE_TEXTURE, format) == GPU_OK &&
             gpu_check_format(type, adapter, GPU_USAGE_QUERY_POSTPIXELSHADER_BLENDING, GPU_RTYPE_TEXTURE, format) ==
                 GPU_OK;
    case 1:
      return gpu_check_format(type, adapter, GPU_USAGE_RENDERTARGET, GPU_RTYPE_TEXTURE, format) == GPU_OK &&
             gpu_check_format(type, adapter, GPU_USAGE_QUERY_FILTER, GPU_RTYPE_TEXTURE, format) == GPU_OK &&
             gpu_check_format(type, adapter, GPU_USAGE_QUERY_POSTPIXELSHADER_BLENDING, GPU_RTYPE_TEXTURE, format) ==
                 GPU_OK;
    case 2: return gpu_check_format(type, adapter, GPU_USAGE_DEPTHSTENCIL, GPU_RTYPE_SURFACE, format) == GPU_OK;
    default: return false;
  }
}

void gfx_device_shutdown() {
  if (hooks.stopping) hooks.stopping();
  gfx_resources_release();
  gpu_device_release(dev.device);
  dev.device = nullptr;
  dev.adapter = false;
  if (dev.disp) close_shared_semaphore(dev.disp);
  dev.disp = nullptr;
}

void gfx_device_set_hooks(const GfxDeviceHooks& h) { hooks = h; }
void gfx_device_set_restyle_hook(GfxDeviceCallback restyle) { restyle_hook = restyle; }
