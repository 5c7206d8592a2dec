// The program's single drawing device: creation with a fixed order of
// fallbacks, the present parameters, presenting with recovery from a lost
// device through two replaceable callbacks, capability words and shutdown.
#pragma once

#include <cstdint>

#include "platform/gpu/gpu.h"

struct PlatformWindow;
struct SharedSemaphore;

using GfxDeviceCallback = void (*)();

// What graphics start-up passes to the device start-up.
struct GfxDeviceParams {
  PlatformWindow* window;
  int32_t width, height;
  int32_t colour_bits;
  int32_t reserved;
  int32_t orientation;
  GfxDeviceCallback on_lost;   // null: the installed hooks' lost callback
  GfxDeviceCallback on_reset;  // null: the installed hooks' reset callback
};

struct GfxDevice {
  PlatformWindow* window;
  bool adapter;  // the adapter answered (stands for the device factory)
  GpuDevice* device;
  GpuPresentParams present_params;
  GpuCaps caps;
  GfxDeviceCallback on_lost;
  GfxDeviceCallback on_reset;
  int32_t requested_width, requested_height;
  int32_t colour_bits;
  int32_t back_buffer_width, back_buffer_height;
  bool vs_above_11;
  bool ps_20;
  bool full_screen;
  bool has_stencil;
  bool lockable_back_buffer;
  int32_t device_type;  // 0 hardware pure, 1 hardware with software vertex processing, 2 reference
  int32_t render_targets;
  bool lost;
  bool reset_request;
  SharedSemaphore* disp;
  int32_t handoff_flag, frames_requested, frames_done;
  int32_t render_cache[11];
  GpuViewport viewport;
};

// 1 on success; 0 when the adapter, its capabilities or every creation
// attempt failed.
int gfx_device_init(const GfxDeviceParams& params);
void gfx_device_shutdown();
GpuDevice* gfx_device();
GfxDevice* gfx_device_ptr();

bool gfx_supports_vs2();
bool gfx_supports_ps2();
int gfx_max_render_targets();
bool gfx_requested_mode();

void gfx_fill_present_params(int width, int height, bool full_screen);
int gfx_create_device(int width, int height, bool full_screen);
// Presents the frame; recovers a lost device through the callbacks.
void gfx_present();
// Ignored while the device is lost. Width and height above 0 and a
// full-screen flag of 0 or more are taken.
void gfx_request_resize(int width, int height, int full_screen);

// kind 0 texture, 1 render-target texture, 2 depth-stencil surface. By
// texture handle: assets/device_bindings.h.
bool gfx_check_texture_format(GpuFormat format, int kind);

// What the layers above the device do around its life, installed by graphics
// start-up (gfx_install_device_hooks): started runs at the end of a
// successful gfx_device_init (the asset store starts on the device's
// resources), stopping at the start of gfx_device_shutdown, and lost and reset
// are the default callbacks of a lost device (what lives in the default pool
// is released and made again). Any of them may be null.
struct GfxDeviceHooks {
  GfxDeviceCallback started;
  GfxDeviceCallback stopping;
  GfxDeviceCallback lost;
  GfxDeviceCallback reset;
};
void gfx_device_set_hooks(const GfxDeviceHooks& hooks);
// Puts the main window back in its windowed style after a successful reset,
// once the on-reset callback has run. The application registers it at
// start-up (the window belongs to it); null runs nothing.
void gfx_device_set_restyle_hook(GfxDeviceCallback restyle);
