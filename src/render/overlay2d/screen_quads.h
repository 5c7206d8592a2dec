// Immediate draws of one textured quad (or a rectangle outline) in
// pre-transformed screen coordinates, for full-target effects: copying or
// blending one or two textures over a rectangle or the current viewport, an
// eight-tap quad for filter passes, and a frame of four bars. Each draw sets
// its own states, draws at once over the shared quad index list and leaves
// the render-state cache invalidated. Main thread, inside a scene.
#pragma once

#include <cstdint>

#include "assets/asset_handle.h"
#include "math/mat4.h"
#include "platform/gpu/gpu.h"

// The states of one textured quad. A texture id without a texture object
// leaves its stage as it was.
struct QuadStates {
  AssetHandle texture0, texture1;
  uint32_t colour;  // ARGB of every vertex
  int zwrite;
  int zfunc_index;
  int blend_index;
  int alpha_ref_index;  // 5: no alpha test
  int filter_index;
  int shading_mode;
  const void* draw_param;
};

// The eight-tap vertex: position, colour, eight coordinate pairs (84 bytes).
struct QuadVertex8 {
  float x, y, z, rhw;
  uint32_t diffuse;
  float uv[8][2];
};
static_assert(sizeof(QuadVertex8) == 84);
constexpr uint32_t kQuadVertex8Fvf = GPU_FVF_XYZRHW | GPU_FVF_DIFFUSE | gpu_fvf_tex(8);

// Each returns false and draws nothing when the shader start refuses the
// shading mode.

// Coordinates: the rectangle over the current render target's size, or 0..1
// with full_texture; the second pair runs -1..1.
bool gfx_draw_quad(float x, float y, float width, float height, const QuadStates& states, bool full_texture);
// The current viewport, moved by the view's shake offset with shake.
bool gfx_draw_viewport_quad(int view, const QuadStates& states, bool full_texture, bool shake);
bool gfx_draw_quad_in_viewport(const QuadStates& states, bool full_texture);
// uv: the first coordinate pair of the top-left, top-right, bottom-left and
// bottom-right corners; the second pair runs 0..1.
bool gfx_draw_quad_uv(float x, float y, float width, float height, const float uv[8], const QuadStates& states);
bool gfx_draw_quad_uv_in_viewport(const float uv[8], const QuadStates& states);
// taps: eight (u, v) origins; set i at corner (cx, cy) is (u + cx, v + cy).
// Depth, alpha test and the alpha reference of states are not used. The
// rectangle moves by half a pixel up and left only with half_pixel.
bool gfx_draw_quad_8tap(float x, float y, float width, float height, const float taps[16], const QuadStates& states,
                        bool half_pixel);
bool gfx_draw_quad_8tap_in_viewport(const float taps[16], const QuadStates& states, bool half_pixel);
// Four bars of the given thickness along the inside of the rectangle,
// untextured; blended only when the colour is not opaque.
void gfx_draw_frame_rect(float x, float y, float width, float height, float thickness, uint32_t colour);

// Unbinds stages 0 to 7 (stage 0 then shows the white texture).
void quad_unbind_stages(GpuDevice* device);
// begin_mesh_draw without material, skeleton or point lights, at alpha 1.
int sprite_begin_mesh_draw(int mode, const void* param, int kind, int format, const Mat4* world);
