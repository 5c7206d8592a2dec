// The vocabulary through which drawing code sets device states: the cached
// drawing preset, the index tables that turn compact indices into device
// values (an index outside a table takes its default), clear, viewport and
// scissor helpers, a few single states and ARGB byte helpers.
#pragma once

#include <cstdint>

#include "platform/gpu/gpu.h"

// Cache words of the preset, in order.
enum GfxPresetWord {
  GFX_PRESET_LIGHTING_ASKED,
  GFX_PRESET_FOG_ASKED,
  GFX_PRESET_LIGHTING,
  GFX_PRESET_ZWRITE,
  GFX_PRESET_ZFUNC,
  GFX_PRESET_FOG,
  GFX_PRESET_BLEND,
  GFX_PRESET_CULL,
  GFX_PRESET_FILL,
  GFX_PRESET_ALPHA_REF,
  GFX_PRESET_SHADER_DRAW,
  GFX_PRESET_WORDS
};

// Sets the states that differ from the cache; 1 when the effective
// lighting, the fog or the shader-draw flag changed.
int gfx_set_render_preset(int lighting, int zwrite, int zfunc_index, int fog, int blend_index, int cull_index,
                          int fill_index, int alpha_ref_index, int shader_draw);
void gfx_invalidate_render_cache();
int gfx_preset_lighting();
int gfx_preset_fog();
int gfx_preset_effective_lighting();
int gfx_preset_zwrite();
int gfx_preset_zfunc();
int gfx_preset_fog_state();
int gfx_preset_blend();
int gfx_preset_cull();
int gfx_preset_fill();
int gfx_preset_alpha_ref();

// Tables.
uint32_t gfx_clear_flags_by_index(int index);  // 0 for an index outside 0..5
GpuFormat gfx_format_by_index(int index);
uint32_t gfx_format_bits(GpuFormat format);
GpuFormat gfx_depth_format_by_index(int index);
struct GfxBlendPair {
  uint32_t source, destination;
};
GfxBlendPair gfx_blend_pair_by_index(int index);
uint32_t gfx_cull_mode_by_index(int index);
uint32_t gfx_fill_mode_by_index(int index);
uint32_t gfx_filter_by_index(int index);
uint32_t gfx_alpha_ref_by_index(int index);
uint32_t gfx_zfunc_by_index(int index);
uint32_t gfx_stencil_op_by_index(int index);
uint32_t gfx_address_by_index(int index);

// Clears with the flags of the clear-flag table (0 target; 1 depth;
// 2 stencil; 3 depth and stencil; 4 target and depth; 5 all), depth 1 and
// stencil 0. With a depth surface bound an index outside 0..5 clears nothing
// and stencil is cleared only where the surface or the device has one.
// Without one any index clears the target only, but 1 to 3 clear nothing.
void gfx_clear(int index, uint32_t argb);

// Viewports (depth 0..1): a view's rectangle (0 or 1), or the whole back
// buffer for a negative view. A texture's size or a fraction of it:
// assets/device_bindings.h.
void gfx_set_viewport(int view);
void gfx_set_viewport_rect(int x, int y, int width, int height);
GpuViewport gfx_current_viewport();

void gfx_set_scissor(int view);
void gfx_set_scissor_rect(int x, int y, int width, int height);
void gfx_get_scissor(int* x, int* y, int* width, int* height);

void gfx_set_colour_write(int red, int green, int blue, int alpha);
void gfx_set_clip_plane(int index, const float* plane, int enable);
void gfx_set_stencil_enable(int enable);
void gfx_set_stencil_test(uint32_t reference, uint32_t mask, uint32_t write_mask, uint32_t compare_function);
void gfx_set_stencil_ops(int fail_index, int zfail_index, int pass_index);

// The render-target id of the back buffer.
constexpr uint32_t gfx_back_buffer_target() { return 0; }

inline uint32_t gfx_argb_red(uint32_t c) { return (c >> 16) & 0xFF; }
inline uint32_t gfx_argb_green(uint32_t c) { return (c >> 8) & 0xFF; }
inline uint32_t gfx_argb_blue(uint32_t c) { return c & 0xFF; }
inline uint32_t gfx_argb_alpha(uint32_t c) { return c >> 24; }
inline uint32_t gfx_argb_with_alpha(uint32_t c, uint32_t a) { return (c & 0x00FFFFFFu) | (a << 24); }
// Shifts red, green and blue right by n inside their bytes; alpha stays.
inline uint32_t gfx_argb_shift(uint32_t c, int n) {
  uint32_t r = (gfx_argb_red(c) >> n) & 0xFF, g = (gfx_argb_green(c) >> n) & 0xFF, b = (gfx_argb_blue(c) >> n) & 0xFF;
  return (c & 0xFF000000u) | r << 16 | g << 8 | b;
}
