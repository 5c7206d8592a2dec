#include "render/overlay2d/screen_quads.h"

#include "assets/textures.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"
#include "render/device/shaders.h"
#include "render/view/view_state.h"

namespace {

enum { kAlphaRefNone = 5, kZAlways = 7, kCullNone = 2, kFillSolid = 0 };

struct Rect {
  float x, y, width, height;
};

Rect current_viewport() {
  const GpuViewport v = gfx_current_viewport();
  return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.width),
          static_cast<float>(v.height)};
}

void state(GpuRenderState s, uint32_t value) { gpu_set_render_state(gfx_device(), s, value); }

const TextureObject* texture_object(AssetHandle id) {
  const TextureObject* object = id != 0 ? get_texture_object(id) : nullptr;
  return object != nullptr && object->texture != nullptr ? object : nullptr;
}

void stage(GpuStageState s, uint32_t value) { gpu_set_stage_state(gfx_device(), 0, s, value); }

// Stage 0 colours and alpha by the vertex colour, so a translucent colour
// blends (the device's default takes the alpha from the texture alone).
void modulate_stage0() {
  stage(GPU_TSS_COLOROP, GPU_TOP_MODULATE);
  stage(GPU_TSS_COLORARG1, GPU_TA_TEXTURE);
  stage(GPU_TSS_COLORARG2, GPU_TA_DIFFUSE);
  stage(GPU_TSS_ALPHAOP, GPU_TOP_MODULATE);
  stage(GPU_TSS_ALPHAARG1, GPU_TA_TEXTURE);
  stage(GPU_TSS_ALPHAARG2, GPU_TA_DIFFUSE);
}

void bind_textures(const QuadStates& s) {
  modulate_stage0();
  if (const TextureObject* t = texture_object(s.texture0)) gfx_bind_texture(gfx_device(), 0, t, s.filter_index);
  if (const TextureObject* t = texture_object(s.texture1)) gfx_bind_texture(gfx_device(), 1, t, s.filter_index);
}

void draw_quads(uint32_t quads, const void* vertices, uint32_t stride) {
  gpu_draw_indexed_primitive_up(gfx_device(), GPU_PT_TRIANGLELIST, 0, 4 * quads, 2 * quads, gfx_index_scratch(),
                                GPU_FMT_INDEX16, vertices, stride);
}

// Corners in the order of the quad index list: top left, top right, bottom
// left, bottom right; half a pixel up and left so texels meet pixels.
void write_corners(ScreenVertex* v, const Rect& r, uint32_t colour) {
  const float left = r.x - 0.5f, top = r.y - 0.5f;
  const float xs[4] = {left, left + r.width, left, left + r.width};
  const float ys[4] = {top, top, top + r.height, top + r.height};
  for (int i = 0; i < 4; ++i) {
    v[i].x = xs[i];
    v[i].y = ys[i];
    v[i].z = 0.0f;
    v[i].rhw = 1.0f;
    v[i].diffuse = colour;
  }
}

// The shared body of every textured ScreenVertex quad; uv0 and uv1 hold the
// two coordinate pairs of the four corners.
bool draw_textured(const Rect& r, const float uv0[8], const float uv1[8], const QuadStates& s) {
  gfx_invalidate_render_cache();
  if (!sprite_begin_mesh_draw(s.shading_mode, s.draw_param, 0, find_fvf_index(kScreenVertexFvf), nullptr)) {
    gfx_invalidate_render_cache();
    return false;
  }
  const bool alpha_test = s.alpha_ref_index != kAlphaRefNone;
  state(GPU_RS_ALPHABLENDENABLE, 1);
  if (alpha_test) state(GPU_RS_ALPHATESTENABLE, 1);
  gfx_set_render_preset(0, s.zwrite, s.zfunc_index, 0, s.blend_index, kCullNone, kFillSolid, s.alpha_ref_index,
                        s.shading_mode);
  bind_textures(s);
  ScreenVertex* v = gfx_vertex_scratch();
  write_corners(v, r, s.colour);
  for (int i = 0; i < 4; ++i) {
    v[i].tu0 = uv0[2 * i];
    v[i].tv0 = uv0[2 * i + 1];
    v[i].tu1 = uv1[2 * i];
    v[i].tv1 = uv1[2 * i + 1];
  }
  draw_quads(1, v, sizeof(ScreenVertex));
  quad_unbind_stages(gfx_device());
  if (alpha_test) state(GPU_RS_ALPHATESTENABLE, 0);
  gfx_invalidate_render_cache();
  return true;
}

bool draw_rect_quad(const Rect& r, const QuadStates& s, bool full_texture) {
  float u0 = 0.0f, v0 = 0.0f, u1 = 1.0f, v1 = 1.0f;
  // The back buffer's record carries no size; its size is the view state's.
  int tw = gfx_target_width(), th = gfx_target_height();
  if (tw <= 0 || th <= 0) {
    tw = get_back_buffer_width();
    th = get_back_buffer_height();
  }
  if (!full_texture && tw > 0 && th > 0) {
    u0 = r.x / static_cast<float>(tw);
    v0 = r.y / static_cast<float>(th);
    u1 = (r.x + r.width) / static_cast<float>(tw);
    v1 = (r.y + r.height) / static_cast<float>(th);
  }
  const float uv0[8] = {u0, v0, u1, v0, u0, v1, u1, v1};
  const float uv1[8] = {-1, -1, 1, -1, -1, 1, 1, 1};
  return draw_textured(r, uv0, uv1, s);
}

bool draw_uv_quad(const Rect& r, const float uv[8], const QuadStates& s) {
  const float uv1[8] = {0, 0, 1, 0, 0, 1, 1, 1};
  return draw_textured(r, uv, uv1, s);
}

bool draw_8tap(Rect r, const float taps[16], const QuadStates& s, bool half_pixel) {
  gfx_invalidate_render_cache();
  if (!sprite_begin_mesh_draw(s.shading_mode, s.draw_param, 0, find_fvf_index(kQuadVertex8Fvf), nullptr)) {
    gfx_invalidate_render_cache();
    return false;
  }
  state(GPU_RS_ALPHABLENDENABLE, 1);
  state(GPU_RS_ALPHATESTENABLE, 0);
  gfx_set_render_preset(0, 0, kZAlways, 0, s.blend_index, kCullNone, kFillSolid, kAlphaRefNone, s.shading_mode);
  bind_textures(s);
  if (half_pixel) {
    r.x -= 0.5f;
    r.y -= 0.5f;
  }
  QuadVertex8 v[4];
  for (int corner = 0; corner < 4; ++corner) {
    const int cx = corner & 1, cy = corner >> 1;
    QuadVertex8& q = v[corner];
    q.x = r.x + static_cast<float>(cx) * r.width;
    q.y = r.y + static_cast<float>(cy) * r.height;
    q.z = 0.0f;
    q.rhw = 1.0f;
    q.diffuse = s.colour;
    for (int i = 0; i < 8; ++i) {
      q.uv[i][0] = taps[2 * i] + static_cast<float>(cx);
      q.uv[i][1] = taps[2 * i + 1] + static_cast<float>(cy);
    }
  }
  draw_quads(1, v, sizeof(QuadVertex8));
  quad_unbind_stages(gfx_device());
  gfx_invalidate_render_cache();
  return true;
}

}  // namespace

void quad_unbind_stages(GpuDevice* device) {
  for (int stage = 0; stage < GFX_STAGE_COUNT; ++stage) gfx_bind_texture(device, stage, nullptr, 1);
}

int sprite_begin_mesh_draw(int mode, const void* param, int kind, int format, const Mat4* world) {
  return begin_mesh_draw(mode, param, kind, format, world, nullptr, nullptr, nullptr, 1.0f, nullptr, 0);
}

bool gfx_draw_quad(float x, float y, float width, float height, const QuadStates& states, bool full_texture) {
  return draw_rect_quad({x, y, width, height}, states, full_texture);
}

bool gfx_draw_viewport_quad(int view, const QuadStates& states, bool full_texture, bool shake) {
  Rect r = current_viewport();
  if (shake) {
    r.x += get_shake_offset_x(view);
    r.y += get_shake_offset_y(view);
  }
  return draw_rect_quad(r, states, full_texture);
}

bool gfx_draw_quad_in_viewport(const QuadStates& states, bool full_texture) {
  return draw_rect_quad(current_viewport(), states, full_texture);
}

bool gfx_draw_quad_uv(float x, float y, float width, float height, const float uv[8], const QuadStates& states) {
  return draw_uv_quad({x, y, width, height}, uv, states);
}

bool gfx_draw_quad_uv_in_viewport(const float uv[8], const QuadStates& states) {
  return draw_uv_quad(current_viewport(), uv, states);
}

bool gfx_draw_quad_8tap(float x, float y, float width, float height, const float taps[16], const QuadStates& states,
                        bool half_pixel) {
  return draw_8tap({x, y, width, height}, taps, states, half_pixel);
}

bool gfx_draw_quad_8tap_in_viewport(const float taps[16], const QuadStates& states, bool half_pixel) {
  return draw_8tap(current_viewport(), taps, states, half_pixel);
}

void gfx_draw_frame_rect(float x, float y, float width, float height, float thickness, uint32_t colour) {
  gfx_invalidate_render_cache();
  sprite_begin_mesh_draw(0, nullptr, 0, find_fvf_index(kScreenVertexFvf), nullptr);
  state(GPU_RS_ALPHABLENDENABLE, 1);
  state(GPU_RS_ALPHATESTENABLE, 0);
  const int blend = gfx_argb_alpha(colour) != 0xFF ? 1 : 0;
  gfx_set_render_preset(0, 0, kZAlways, 0, blend, kCullNone, kFillSolid, kAlphaRefNone, 0);
  // Untextured: stage 0 shows white, whatever an earlier draw left bound.
  quad_unbind_stages(gfx_device());
  modulate_stage0();
  const float t = thickness, inner = height - 2.0f * thickness;
  const Rect bars[4] = {
      {x, y, width, t},                  // top
      {x, y + height - t, width, t},     // bottom
      {x, y + t, t, inner},              // left
      {x + width - t, y + t, t, inner},  // right
  };
  ScreenVertex* v = gfx_vertex_scratch();
  for (int b = 0; b < 4; ++b) {
    write_corners(v + 4 * b, bars[b], colour);
    for (int i = 0; i < 4; ++i) v[4 * b + i].tu0 = v[4 * b + i].tv0 = v[4 * b + i].tu1 = v[4 * b + i].tv1 = 0.0f;
  }
  draw_quads(4, v, sizeof(ScreenVertex));
  quad_unbind_stages(gfx_device());
  gfx_invalidate_render_cache();
}
