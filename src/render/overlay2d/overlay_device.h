// What the 2D overlay types take from the render core and the asset store:
// the shared 2D scratch buffers, the blend-pair table, texture binding per
// stage, the scissor rectangle and the states every 2D draw starts from.
// Internal to the overlay module.
#pragma once

#include <cstdint>

#include "assets/asset_handle.h"
#include "platform/gpu/gpu.h"
#include "render/device/gfx_resources.h"

// A crop as the sprites use it: fractions of its texture, and that texture.
struct OverlayCrop {
  AssetHandle texture;
  float u, v, width, height;
  int texture_width, texture_height;
};

// False when the texture (or its device object) does not exist.
bool overlay_texture_size(AssetHandle texture, int* width, int* height);
// False when the crop or its texture does not exist.
bool overlay_crop(AssetHandle crop, OverlayCrop* out);

ScreenVertex* overlay_vertex_scratch();
// One unindexed list of count primitives from the scratch vertices.
void overlay_draw_list(GpuPrimitive primitive, int count, const ScreenVertex* vertices);
// count quads from the scratch vertices through the shared quad index list.
void overlay_draw_quads(int quads);

// Source and destination blend from the pair table (out-of-range: pair 0).
void overlay_set_blend(uint32_t index);
// Binds the texture's device object on the stage with filter 0 point or
// 1 linear; handle 0, or one naming no texture, binds none (stage 0 then
// samples white).
void overlay_bind_texture(int stage, AssetHandle texture, int filter);
void overlay_unbind_all_textures();
GpuRect overlay_get_scissor();
void overlay_set_scissor(const GpuRect& rect);
// Starts a 2D draw through the shader module: shading mode = the selector
// (-1 keeps the mode in force), its parameter block, the ScreenVertex format.
void overlay_begin_shader(int selector, const void* params);

// The common states of the line and triangle draws: identity world, shading
// mode 0, blending SRCALPHA / INVSRCALPHA, no depth, no culling, solid fill,
// no texture, no lighting, no fog.
void overlay_begin_untextured();
// The states of the sprite draw (two modulating texture stages).
void overlay_begin_sprites();
// The states of the text draw: the sprite draw's with one texture stage,
// the glyphs modulating the vertex colour.
void overlay_begin_text();
// What the sprite draw leaves behind: blend pair 1, stage 1 disabled with
// linear filters (the sprite draw then unbinds the textures).
void overlay_end_sprites();
