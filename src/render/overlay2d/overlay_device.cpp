#include "render/overlay2d/overlay_device.h"

#include "assets/crops.h"
#include "assets/textures.h"
#include "math/mat4.h"
#include "render/device/gfx_device.h"
#include "render/device/render_states.h"
#include "render/device/shaders.h"

namespace {

const TextureObject* texture_object(AssetHandle texture) {
  const TextureObject* object = texture != 0 ? get_texture_object(texture) : nullptr;
  return object != nullptr && object->texture != nullptr ? object : nullptr;
}

void state(GpuRenderState s, uint32_t value) { gpu_set_render_state(gfx_device(), s, value); }

void stage(uint32_t index, GpuStageState s, uint32_t value) {
  gpu_set_stage_state(gfx_device(), index, s, value);
}

void modulate(uint32_t index, uint32_t arg1, uint32_t arg2) {
  stage(index, GPU_TSS_COLOROP, GPU_TOP_MODULATE);
  stage(index, GPU_TSS_COLORARG1, arg1);
  stage(index, GPU_TSS_COLORARG2, arg2);
  stage(index, GPU_TSS_ALPHAOP, GPU_TOP_MODULATE);
  stage(index, GPU_TSS_ALPHAARG1, arg1);
  stage(index, GPU_TSS_ALPHAARG2, arg2);
}

// Blending on, no depth, no culling, solid fill, no lighting, no fog.
void common_2d_states() {
  state(GPU_RS_ALPHABLENDENABLE, 1);
  state(GPU_RS_SRCBLEND, GPU_BLEND_SRCALPHA);
  state(GPU_RS_DESTBLEND, GPU_BLEND_INVSRCALPHA);
  state(GPU_RS_ZWRITEENABLE, 0);
  state(GPU_RS_ZFUNC, GPU_CMP_ALWAYS);
  state(GPU_RS_CULLMODE, GPU_CULL_NONE);
  state(GPU_RS_FILLMODE, GPU_FILL_SOLID);
  state(GPU_RS_FOGENABLE, 0);
  state(GPU_RS_LIGHTING, 0);
}

}  // namespace

bool overlay_texture_size(AssetHandle texture, int* width, int* height) {
  const TextureObject* object = texture_object(texture);
  if (object == nullptr) return false;
  *width = object->width;
  *height = object->height;
  return true;
}

bool overlay_crop(AssetHandle crop, OverlayCrop* out) {
  const CropRecord* record = crop != 0 ? get_crop_record(crop) : nullptr;
  if (record == nullptr) return false;
  int width = 0, height = 0;
  if (!overlay_texture_size(record->texture, &width, &height)) return false;
  *out = OverlayCrop{record->texture, record->u, record->v, record->width, record->height, width, height};
  return true;
}

ScreenVertex* overlay_vertex_scratch() { return gfx_vertex_scratch(); }

void overlay_draw_list(GpuPrimitive primitive, int count, const ScreenVertex* vertices) {
  gpu_draw_primitive_up(gfx_device(), primitive, static_cast<uint32_t>(count), vertices,
                        sizeof(ScreenVertex));
}

void overlay_draw_quads(int quads) {
  const uint32_t n = static_cast<uint32_t>(quads);
  gpu_draw_indexed_primitive_up(gfx_device(), GPU_PT_TRIANGLELIST, 0, 4 * n, 2 * n,
                                gfx_index_scratch(), GPU_FMT_INDEX16, gfx_vertex_scratch(),
                                sizeof(ScreenVertex));
}

void overlay_set_blend(uint32_t index) {
  const GfxBlendPair pair = gfx_blend_pair_by_index(static_cast<int>(index));
  state(GPU_RS_SRCBLEND, pair.source);
  state(GPU_RS_DESTBLEND, pair.destination);
}

void overlay_bind_texture(int stage_index, AssetHandle texture, int filter) {
  gfx_bind_texture(gfx_device(), stage_index, texture_object(texture), filter);
}

void overlay_unbind_all_textures() {
  for (int s = 0; s < GFX_STAGE_COUNT; ++s) gfx_bind_texture(gfx_device(), s, nullptr, 1);
}

GpuRect overlay_get_scissor() { return gpu_get_scissor_rect(gfx_device()); }

void overlay_set_scissor(const GpuRect& rect) { gpu_set_scissor_rect(gfx_device(), rect); }

// A selector the shader module does not know leaves the mode in force.
void overlay_begin_shader(int selector, const void* params) {
  begin_mesh_draw(selector, params, 0, find_fvf_index(kScreenVertexFvf), nullptr, nullptr, nullptr,
                  nullptr, 1.0f, nullptr, 0);
}

void overlay_begin_untextured() {
  Mat4 identity;
  mat4_identity(&identity);
  gpu_set_transform(gfx_device(), GPU_TS_WORLD, identity.m);
  overlay_begin_shader(0, nullptr);
  common_2d_states();
  gfx_bind_texture(gfx_device(), 0, nullptr, 1);
}

void overlay_begin_sprites() {
  overlay_begin_shader(0, nullptr);
  state(GPU_RS_ALPHATESTENABLE, 0);
  common_2d_states();
  modulate(0, GPU_TA_TEXTURE, GPU_TA_DIFFUSE);
  modulate(1, GPU_TA_CURRENT, GPU_TA_TEXTURE);
}

void overlay_begin_text() {
  overlay_begin_shader(0, nullptr);
  state(GPU_RS_ALPHATESTENABLE, 0);
  common_2d_states();
  modulate(0, GPU_TA_TEXTURE, GPU_TA_DIFFUSE);
  stage(1, GPU_TSS_COLOROP, GPU_TOP_DISABLE);
  stage(1, GPU_TSS_ALPHAOP, GPU_TOP_DISABLE);
}

void overlay_end_sprites() {
  overlay_set_blend(1);
  stage(1, GPU_TSS_COLOROP, GPU_TOP_DISABLE);
  stage(1, GPU_TSS_COLORARG1, GPU_TA_TEXTURE);
  stage(1, GPU_TSS_COLORARG2, GPU_TA_DIFFUSE);
  stage(1, GPU_TSS_ALPHAOP, GPU_TOP_DISABLE);
  stage(1, GPU_TSS_ALPHAARG1, GPU_TA_TEXTURE);
  stage(1, GPU_TSS_ALPHAARG2, GPU_TA_DIFFUSE);
  gpu_set_sampler_state(gfx_device(), 1, GPU_SAMP_MAGFILTER, GPU_FILTER_LINEAR);
  gpu_set_sampler_state(gfx_device(), 1, GPU_SAMP_MINFILTER, GPU_FILTER_LINEAR);
}
