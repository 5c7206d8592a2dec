#include "platform/gpu/gpu.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/world/sprite3d.h"
#include "scene3d/part_render.h"

void part_render_unbind_textures() {
  GpuDevice* device = gfx_device();
  for (int stage = 0; stage < GFX_STAGE_COUNT; ++stage) gfx_bind_texture(device, stage, nullptr, 1);
}

void part_render_reset_state() {
  part_render_clear_overrides();
  GpuDevice* device = gfx_device();
  gpu_set_render_state(device, GPU_RS_FOGENABLE, 0);
  gpu_set_render_state(device, GPU_RS_LIGHTING, 0);
  part_render_unbind_textures();
}

void part_render_reset_counters() {
  part_render_zero_counters();
  sprite3d_reset_frame_counters();
}
