// The world-space sprite draw: culls a run of sprites against the current
// view, sorts the survivors far to near and sends them in batches of up to
// 4096 quads that share blend, depth function, shading and textures.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "math/mat4.h"
#include "platform/gpu/gpu.h"
#include "render/device/gfx_device.h"
#include "render/device/gfx_resources.h"
#include "render/device/render_states.h"
#include "render/device/shaders.h"
#include "render/overlay2d/overlay_device.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "render/world/part_state.h"
#include "render/world/sprite3d_internal.h"

namespace {

static_assert(kSprite3dBatchQuads * 4 * sizeof(Sprite3dVertex) <= GFX_SCRATCH_ARRAY_BYTES);
static_assert(kSprite3dBatchQuads <= GFX_QUAD_CAPACITY);

struct SortEntry {
  float key;
  Task* task;
};

// Static so that drawing allocates nothing; a run never exceeds the pool.
SortEntry sorted[kTaskPoolSize];

struct Frame {
  Mat4 vp, cam;
  Vec3 eye;
  Vec3 light;
  int fvf;
  int pass_index;
  bool force_blend;  // override 3: every sprite with blend pair 7
};

struct Batch {
  int blend, zfunc;
  int32_t shading_mode;
  int64_t texture0, texture1;
  int quads;
};

Sprite3dVertex* vertices() { return reinterpret_cast<Sprite3dVertex*>(gfx_scratch_array()); }

void state(GpuRenderState s, uint32_t value) { gpu_set_render_state(gfx_device(), s, value); }

void stage(uint32_t index, GpuStageState s, uint32_t value) { gpu_set_stage_state(gfx_device(), index, s, value); }

void modulate(uint32_t index, uint32_t arg1, uint32_t arg2) {
  stage(index, GPU_TSS_COLOROP, GPU_TOP_MODULATE);
  stage(index, GPU_TSS_COLORARG1, arg1);
  stage(index, GPU_TSS_COLORARG2, arg2);
  stage(index, GPU_TSS_ALPHAOP, GPU_TOP_MODULATE);
  stage(index, GPU_TSS_ALPHAARG1, arg1);
  stage(index, GPU_TSS_ALPHAARG2, arg2);
}

void sprite3d_begin_draw_unlit(int mode, const void* data, const Frame& f) {
  begin_mesh_draw(mode, data, f.pass_index, f.fvf, nullptr, nullptr, nullptr, nullptr, 1.0f, nullptr, 0);
}

void sprite3d_unbind_textures() { overlay_unbind_all_textures(); }

void begin_states(bool alpha_test) {
  Mat4 identity;
  mat4_identity(&identity);
  gpu_set_transform(gfx_device(), GPU_TS_WORLD, identity.m);
  if (alpha_test) {
    state(GPU_RS_ALPHATESTENABLE, 1);
    state(GPU_RS_ALPHAREF, 254);
    state(GPU_RS_ALPHAFUNC, GPU_CMP_GREATER);
    state(GPU_RS_ZWRITEENABLE, 1);
    state(GPU_RS_ZFUNC, GPU_CMP_LESS);
  } else {
    state(GPU_RS_ALPHATESTENABLE, 0);
    state(GPU_RS_ALPHAREF, 0);
    state(GPU_RS_ALPHAFUNC, GPU_CMP_GREATER);
    state(GPU_RS_ZWRITEENABLE, 0);
    state(GPU_RS_ZFUNC, GPU_CMP_LESSEQUAL);
  }
  state(GPU_RS_CULLMODE, GPU_CULL_NONE);
  state(GPU_RS_FILLMODE, GPU_FILL_SOLID);
  state(GPU_RS_ALPHABLENDENABLE, 1);
  state(GPU_RS_SRCBLEND, GPU_BLEND_SRCALPHA);
  state(GPU_RS_DESTBLEND, GPU_BLEND_INVSRCALPHA);
  modulate(0, GPU_TA_TEXTURE, GPU_TA_DIFFUSE);
  gpu_set_sampler_state(gfx_device(), 0, GPU_SAMP_MAGFILTER, GPU_FILTER_LINEAR);
  gpu_set_sampler_state(gfx_device(), 0, GPU_SAMP_MINFILTER, GPU_FILTER_LINEAR);
  modulate(1, GPU_TA_CURRENT, GPU_TA_TEXTURE);
  overlay_bind_texture(0, 0, 1);
  state(GPU_RS_LIGHTING, 0);
}

// The bounding sphere and the key's extra term of a sprite.
void bounds(const Sprite3d& s, Vec3* centre, float* radius, float* extra) {
  *extra = 0.0f;
  if (s.head.mode == 0) {
    const Sprite3dBillboard& b = s.billboard;
    // The farthest corner from the pivot, whatever the pivot and the turn,
    // and the depth offset's move along the view ray: a sphere of half the
    // larger side would cull corners and off-centre quads still in view.
    const float across = std::max(b.pivot_x, 1.0f - b.pivot_x) * b.width * b.scale_x;
    const float up = std::max(b.pivot_y, 1.0f - b.pivot_y) * b.height * b.scale_y;
    *centre = b.position;
    *radius = std::sqrt(across * across + up * up) + std::fabs(b.depth_offset);
    *extra = b.depth_offset_sq;
  } else if (s.head.mode == 1) {
    vec3_lerp(centre, &s.beam.start, &s.beam.end, 0.5f);
    *radius = std::sqrt(vec3_distance_sq(&s.beam.start, &s.beam.end)) * 0.5f + s.beam.side_width;
  } else {
    const Sprite3dQuad& q = s.quad;
    Vec3 c{0, 0, 0};
    for (const Vec3& p : q.corners) vec3_add(&c, &c, &p);
    vec3_scale(&c, &c, 0.25f);
    float r2 = 0.0f;
    for (const Vec3& p : q.corners) r2 = std::max(r2, vec3_distance_sq(&c, &p));
    *radius = std::sqrt(r2);
    *centre = c;
    if (q.transform) {
      // The whole transform moves the centre, so that a rotated quad whose
      // corners are not centred on its origin is still found where it is.
      Mat4 m;
      sprite3d_quad_matrix(&m, q);
      mat4_transform_point(centre, &m, &c);
      *radius *= std::max({std::fabs(q.scale.x), std::fabs(q.scale.y), std::fabs(q.scale.z)});
    }
  }
}

bool culled(const Plane* planes, const Vec3& c, float radius) {
  for (int i = 0; i < kFrustumPlaneCount; ++i) {
    const Plane& p = planes[i];
    if (p.a * c.x + p.b * c.y + p.c * c.z + p.d < -radius) return true;
  }
  return false;
}

void flush(Batch* b) {
  if (b->quads == 0) return;
  const uint32_t n = static_cast<uint32_t>(b->quads);
  gpu_draw_indexed_primitive_up(gfx_device(), GPU_PT_TRIANGLELIST, 0, 4 * n, 2 * n, gfx_index_scratch(),
                                GPU_FMT_INDEX16, vertices(), sizeof(Sprite3dVertex));
  ++sprite3d_type_record()->batches_drawn;
  b->quads = 0;
}

// Starts a new batch when a state differs or the batch is full, and sends
// the states that changed.
void prepare(Batch* b, const Sprite3d& s, const Frame& f) {
  const int blend = f.force_blend ? 7 : s.head.blend;
  const int zfunc = s.head.zfunc;
  const int32_t mode = s.head.shading_mode;
  const int64_t t0 = s.head.texture0, t1 = s.head.texture1;
  if (blend == b->blend && zfunc == b->zfunc && mode == b->shading_mode && t0 == b->texture0 &&
      t1 == b->texture1 && b->quads < kSprite3dBatchQuads) {
    return;
  }
  flush(b);
  if (blend != b->blend) {
    overlay_set_blend(static_cast<uint32_t>(blend));
    state(GPU_RS_FOGENABLE, blend < 2 ? 1 : 0);
    b->blend = blend;
  }
  if (zfunc != b->zfunc) {
    state(GPU_RS_ZFUNC, gfx_zfunc_by_index(zfunc));
    b->zfunc = zfunc;
  }
  sprite3d_begin_draw_unlit(mode == b->shading_mode ? -1 : mode, s.head.shader_data, f);
  b->shading_mode = mode;
  if (t0 != b->texture0) {
    overlay_bind_texture(0, s.head.texture0, 1);
    b->texture0 = t0;
  }
  if (t1 != b->texture1) {
    overlay_bind_texture(1, s.head.texture1, 1);
    b->texture1 = t1;
  }
}

void put(Sprite3dVertex* v, const Vec3& p, uint32_t colour, const float* uv0, const float* uv1,
         const Sprite3dHead& h) {
  *v = Sprite3dVertex{p.x, p.y, p.z, colour, uv0[0], uv0[1], uv1[0], uv1[1], h.param_a, h.param_b};
}

// Shades a colour by the light falling on a corner normal: darker the more
// the corner faces along the light's direction.
uint32_t shade(uint32_t colour, const Vec3& camera_normal, const Frame& f) {
  Vec3 n;
  mat4_transform_direction(&n, &f.cam, &camera_normal);
  const float t = std::min(std::max(0.25f, vec3_dot(&f.light, &n)), 1.0f);
  uint32_t out = colour & 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const float c = static_cast<float>((colour >> shift) & 0xFFu) / 255.0f;
    out |= static_cast<uint32_t>((c + (0.0f - c) * t) * 255.0f) << shift;
  }
  return out;
}

void billboard_vertices(const Sprite3d& s, const Frame& f, Sprite3dVertex* v) {
  const Sprite3dBillboard& b = s.billboard;
  Vec3 p = b.position;
  if (std::fabs(b.depth_offset) > 1e-5f) {
    Vec3 d;
    vec3_sub(&d, &p, &f.eye);
    vec3_normalize(&d, &d);
    vec3_madd(&p, &p, &d, b.depth_offset);
  }
  const float left = b.width * b.pivot_x * b.scale_x, right = b.width * (1.0f - b.pivot_x) * b.scale_x;
  const float down = b.height * b.pivot_y * b.scale_y, up = b.height * (1.0f - b.pivot_y) * b.scale_y;
  float offsets[4][2] = {{-left, -down}, {right, -down}, {-left, up}, {right, up}};
  const bool turned = std::fabs(b.angle) > 1e-5f;
  const float sa = std::sin(b.angle), ca = std::cos(b.angle);
  if (turned) {
    for (auto& o : offsets) {
      const float x = o[0], y = o[1];
      o[0] = x * ca + y * sa;
      o[1] = -x * sa + y * ca;
    }
  }
  const float uv0[4][2] = {{b.uv0[0], b.uv0[3]}, {b.uv0[2], b.uv0[3]}, {b.uv0[0], b.uv0[1]}, {b.uv0[2], b.uv0[1]}};
  const float uv1[4][2] = {{b.uv1[0], b.uv1[3]}, {b.uv1[2], b.uv1[3]}, {b.uv1[0], b.uv1[1]}, {b.uv1[2], b.uv1[1]}};
  constexpr float k = 0.57735026f;
  Vec3 normals[4] = {{k, k, k}, {-k, k, k}, {k, -k, k}, {-k, -k, k}};
  if (b.angle != 0.0f) {
    const float ks = k * sa, kc = k * ca;
    normals[0] = Vec3{kc + ks, kc - ks, k};
    normals[1] = Vec3{ks - kc, ks + kc, k};
    normals[2] = Vec3{kc - ks, -ks - kc, k};
    normals[3] = Vec3{-kc - ks, ks - kc, k};
  }
  for (int i = 0; i < 4; ++i) {
    const Vec3 local{offsets[i][0], offsets[i][1], 0.0f};
    Vec3 w;
    mat4_transform_direction(&w, &f.cam, &local);
    vec3_add(&w, &w, &p);
    const uint32_t colour = b.lit ? shade(b.colour, normals[i], f) : b.colour;
    put(&v[i], w, colour, uv0[i], uv1[i], s.head);
  }
}

void beam_vertices(const Sprite3d& s, const Frame& f, Sprite3dVertex* v) {
  const Sprite3dBeam& b = s.beam;
  Vec3 p[4];
  sprite3d_beam_vertices(b, &f.vp, &f.cam, 0.0f, p);
  for (int i = 0; i < 4; ++i) put(&v[i], p[i], (i & 1) ? b.end_colour : b.start_colour, b.uv0[i], b.uv1[i], s.head);
}

void quad_vertices(const Sprite3d& s, Sprite3dVertex* v) {
  const Sprite3dQuad& q = s.quad;
  Vec3 p[4] = {q.corners[0], q.corners[1], q.corners[2], q.corners[3]};
  if (q.transform) {
    Mat4 m;
    sprite3d_quad_matrix(&m, q);
    mat4_transform_points4(&p[0], &p[1], &p[2], &p[3], &m, &q.corners[0], &q.corners[1], &q.corners[2],
                           &q.corners[3]);
  }
  for (int i = 0; i < 4; ++i) put(&v[i], p[i], q.colours[i], q.uv0[i], q.uv1[i], s.head);
}

}  // namespace

void sprite3d_draw_batch(Task* const* entries, int count) {
  Frame f;
  sprite3d_get_view_projection(&f.vp, &f.cam);
  f.eye = Vec3{f.cam.m[12], f.cam.m[13], f.cam.m[14]};
  f.fvf = find_fvf_index(kSprite3dFvf);
  const int view = get_current_view();
  const bool alpha_test = part_render_get_override_2() == 1;
  f.force_blend = part_render_get_override_3() == 1;
  const bool mirror_pass = part_render_get_override_6() == 1;
  f.pass_index = part_render_get_pass_index();
  const Plane* frustum = get_view_frustum_1(view);
  vec3_normalize(&f.light, &get_light_record(view)->direction);

  sprite3d_begin_draw_unlit(0, nullptr, f);
  begin_states(alpha_test);

  int kept = 0;
  count = std::min(count, kTaskPoolSize);
  for (int i = 0; i < count; ++i) {
    Task* task = entries[i];
    const Sprite3d& s = *sprite3d_of(task);
    if (mirror_pass && s.head.mirror == 0) continue;
    Vec3 centre;
    float radius, extra;
    bounds(s, &centre, &radius, &extra);
    if (culled(frustum, centre, radius)) continue;
    const float key = vec3_distance_sq(&centre, &f.eye) + extra;
    std::memcpy(&task->user, &key, sizeof key);
    sorted[kept++] = SortEntry{key, task};
  }
  // Farthest first; equal keys keep no particular order.
  std::sort(sorted, sorted + kept, [](const SortEntry& a, const SortEntry& b) { return a.key > b.key; });

  Batch b{-1, -1, 0, -1, -1, 0};
  for (int i = 0; i < kept; ++i) {
    const Sprite3d& s = *sprite3d_of(sorted[i].task);
    prepare(&b, s, f);
    Sprite3dVertex* v = vertices() + 4 * b.quads;
    if (s.head.mode == 0)
      billboard_vertices(s, f, v);
    else if (s.head.mode == 1)
      beam_vertices(s, f, v);
    else
      quad_vertices(s, v);
    ++b.quads;
    ++sprite3d_type_record()->sprites_drawn;
  }
  flush(&b);

  sprite3d_begin_draw_unlit(0, nullptr, f);
  if (b.blend != 1) overlay_set_blend(1);
  sprite3d_unbind_textures();
  state(GPU_RS_ALPHATESTENABLE, 0);
}
