#include "assets/textures.h"
#include "platform/gpu/gpu.h"
#include "render/core/gfx_device.h"
#include "render/core/gfx_resources.h"
#include "render/core/render_states.h"
#include "render/overlay2d/text2d.h"

namespace {

// Glyphs of one text that one quad batch holds.
constexpr int kGlyphsPerDraw = GFX_QUAD_CAPACITY;

void state(GpuRenderState s, uint32_t value) { gpu_set_render_state(gfx_device(), s, value); }

void stage(uint32_t index, GpuStageState s, uint32_t value) { gpu_set_stage_state(gfx_device(), index, s, value); }

// Shaded 2D text comes with the shader module's 2D binding; every selector
// draws through the fixed-function stages with pre-transformed vertices.
void begin_shader(int, const void*) {
  GpuDevice* device = gfx_device();
  gpu_set_vertex_shader(device, nullptr);
  gpu_set_pixel_shader(device, nullptr);
  gpu_set_fvf(device, kScreenVertexFvf);
}

// The sprite draw's states with one texture stage: the glyph texture
// modulates the vertex colour.
void begin_states() {
  begin_shader(0, nullptr);
  state(GPU_RS_ALPHATESTENABLE, 0);
  state(GPU_RS_ALPHABLENDENABLE, 1);
  state(GPU_RS_SRCBLEND, GPU_BLEND_SRCALPHA);
  state(GPU_RS_DESTBLEND, GPU_BLEND_INVSRCALPHA);
  state(GPU_RS_ZWRITEENABLE, 0);
  state(GPU_RS_ZFUNC, GPU_CMP_ALWAYS);
  state(GPU_RS_CULLMODE, GPU_CULL_NONE);
  state(GPU_RS_FILLMODE, GPU_FILL_SOLID);
  state(GPU_RS_FOGENABLE, 0);
  state(GPU_RS_LIGHTING, 0);
  stage(0, GPU_TSS_COLOROP, GPU_TOP_MODULATE);
  stage(0, GPU_TSS_COLORARG1, GPU_TA_TEXTURE);
  stage(0, GPU_TSS_COLORARG2, GPU_TA_DIFFUSE);
  stage(0, GPU_TSS_ALPHAOP, GPU_TOP_MODULATE);
  stage(0, GPU_TSS_ALPHAARG1, GPU_TA_TEXTURE);
  stage(0, GPU_TSS_ALPHAARG2, GPU_TA_DIFFUSE);
  stage(1, GPU_TSS_COLOROP, GPU_TOP_DISABLE);
  stage(1, GPU_TSS_ALPHAOP, GPU_TOP_DISABLE);
}

void draw_pass(Task* task, float dx, float dy, const uint32_t* shadow_colour) {
  const int glyphs = text_place_glyphs(task, gfx_vertex_scratch(), kGlyphsPerDraw, dx, dy, shadow_colour);
  if (glyphs <= 0) return;
  const uint32_t n = static_cast<uint32_t>(glyphs);
  gpu_draw_indexed_primitive_up(gfx_device(), GPU_PT_TRIANGLELIST, 0, 4 * n, 2 * n, gfx_index_scratch(),
                                GPU_FMT_INDEX16, gfx_vertex_scratch(), sizeof(ScreenVertex));
}

}  // namespace

void text_draw_batch(Task* const* entries, int count) {
  GpuDevice* device = gfx_device();
  begin_states();
  uint32_t last_blend = 1;
  uint16_t selector_in_force = 0;
  for (int i = 0; i < count; ++i) {
    Task* task = entries[i];
    const TextData* t = task_data<TextData>(task);
    if (t->first_crop == 0) continue;
    if (t->blend != last_blend) {
      const GfxBlendPair pair = gfx_blend_pair_by_index(t->blend);
      state(GPU_RS_SRCBLEND, pair.source);
      state(GPU_RS_DESTBLEND, pair.destination);
      last_blend = t->blend;
    }
    if (t->shader_selector == selector_in_force) {
      begin_shader(-1, t->shader_params);
    } else {
      begin_shader(t->shader_selector, t->shader_params);
      selector_in_force = t->shader_selector;
    }
    const TextureObject* texture = get_texture_object(t->texture);
    gfx_bind_texture(device, 0, texture != nullptr && texture->texture != nullptr ? texture : nullptr, 1);
    if (t->flags & kTextShadow) draw_pass(task, t->shadow_x, t->shadow_y, &t->shadow_colour);
    draw_pass(task, 0.0f, 0.0f, nullptr);
  }
  begin_shader(0, nullptr);
  for (int s = 0; s < GFX_STAGE_COUNT; ++s) gfx_bind_texture(device, s, nullptr, 1);
}
