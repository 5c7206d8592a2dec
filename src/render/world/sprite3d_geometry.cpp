// Geometry of world-space sprites outside the draw: the view's matrices,
// screen rectangles turned into texture coordinates (to sample an image of
// the screen behind a sprite), beam vertices, and free-quad corners.
#include <cmath>

#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "render/world/part_state.h"
#include "render/world/sprite3d_internal.h"

void sprite3d_get_view_projection(Mat4* view_projection, Mat4* camera) {
  const int view = get_current_view();
  const bool mirror = part_render_get_override_6() == 1;
  if (view_projection != nullptr)
    *view_projection = *get_view_matrix_slot(view, mirror ? kSlotMirrorViewProj : kSlotViewProj);
  if (camera != nullptr) *camera = *get_view_matrix_slot(view, mirror ? kSlotMirrorViewInverse : kSlotCamera);
}

void sprite3d_quad_matrix(Mat4* out, const Sprite3dQuad& quad) {
  mat4_from_position_euler(out, &quad.position, &quad.angles);
  if (quad.scale.x != 1.0f || quad.scale.y != 1.0f || quad.scale.z != 1.0f) {
    const Mat4 m = *out;
    mat4_scale_rows(out, &m, &quad.scale);
  }
}

void sprite3d_beam_vertices(const Sprite3dBeam& beam, const Mat4* view_projection, const Mat4* camera,
                            float min_length_sq, Vec3 out[4]) {
  Vec3 a, b;
  mat4_project_point(&a, view_projection, &beam.start);
  mat4_project_point(&b, view_projection, &beam.end);
  float dx = b.x - a.x, dy = b.y - a.y;
  const float sq = dx * dx + dy * dy;
  // A point on the camera plane projects to no finite place; the beam then
  // has no screen direction either.
  if (!(sq > min_length_sq) || !std::isfinite(sq)) {
    dx = 1.0f;
    dy = 0.0f;
  } else {
    const float k = 1.0f / std::sqrt(sq);
    dx *= k;
    dy *= k;
  }
  const float nx = -dy, ny = dx;
  const float ea = beam.end_width * 0.25f, sb = beam.side_width * 0.25f;
  const Vec3 offsets[4] = {{-ea * dx + sb * nx, -ea * dy + sb * ny, 0},
                           {ea * dx + sb * nx, ea * dy + sb * ny, 0},
                           {-ea * dx - sb * nx, -ea * dy - sb * ny, 0},
                           {ea * dx - sb * nx, ea * dy - sb * ny, 0}};
  for (int i = 0; i < 4; ++i) {
    Vec3 w;
    mat4_transform_direction(&w, camera, &offsets[i]);
    vec3_add(&out[i], (i & 1) ? &beam.end : &beam.start, &w);
  }
}

void sprite3d_screen_rect(Task* task, float offset_x, float offset_y, float scale, int flip_x, int flip_y,
                          float* ul, float* vt, float* ur, float* vb) {
  const Sprite3dBillboard& s = sprite3d_of(task)->billboard;
  Mat4 vp, cam;
  sprite3d_get_view_projection(&vp, &cam);
  const Vec3 corners[2] = {
      {-s.width * s.pivot_x * s.scale_x, (1.0f - s.pivot_y) * s.height * s.scale_y, s.depth_offset},
      {(1.0f - s.pivot_x) * s.width * s.scale_x, -(s.pivot_y * s.height * s.scale_y), s.depth_offset}};
  Vec3 projected[2];
  for (int i = 0; i < 2; ++i) {
    Vec3 w;
    mat4_transform_direction(&w, &cam, &corners[i]);
    vec3_add(&w, &w, &s.position);
    mat4_project_point(&projected[i], &vp, &w);
  }
  float hx = (projected[1].x - projected[0].x) * scale * 0.5f;
  float hy = (projected[1].y - projected[0].y) * scale * 0.5f;
  if (flip_x) hx = -hx;
  if (flip_y) hy = -hy;
  const float cx = (projected[0].x + projected[1].x) * 0.5f + offset_x;
  const float cy = (projected[0].y + projected[1].y) * 0.5f + offset_y;
  *ul = (cx - hx) * 0.5f + 0.5f;
  *ur = (cx + hx) * 0.5f + 0.5f;
  *vt = (cy - hy) * -0.5f + 0.5f;
  *vb = (cy + hy) * -0.5f + 0.5f;
}

void sprite3d_uv0_from_screen_rect(Task* task, float offset_x, float offset_y, float scale, int flip_x,
                                   int flip_y) {
  float* uv = sprite3d_of(task)->billboard.uv0;
  sprite3d_screen_rect(task, offset_x, offset_y, scale, flip_x, flip_y, &uv[0], &uv[1], &uv[2], &uv[3]);
}

void sprite3d_uv1_from_screen_rect(Task* task, float offset_x, float offset_y, float scale, int flip_x,
                                   int flip_y) {
  float* uv = sprite3d_of(task)->billboard.uv1;
  sprite3d_screen_rect(task, offset_x, offset_y, scale, flip_x, flip_y, &uv[0], &uv[1], &uv[2], &uv[3]);
}

void sprite3d_build_beam_quad(Task* task, Vec3 out[4], float offset_x, float offset_y, float scale) {
  Mat4 vp, cam;
  sprite3d_get_view_projection(&vp, &cam);
  Vec3 world[4];
  sprite3d_beam_vertices(sprite3d_of(task)->beam, &vp, &cam, 1e-8f, world);
  for (int i = 0; i < 4; ++i) {
    Vec3 p;
    mat4_project_point(&p, &vp, &world[i]);
    out[i] = Vec3{p.x * 0.5f + 0.5f + offset_x, -p.y * 0.5f + 0.5f + offset_y, p.z};
  }
  if (scale == 1.0f) return;
  Vec3 m03, m12, m;
  vec3_lerp(&m03, &out[0], &out[3], 0.5f);
  vec3_lerp(&m12, &out[1], &out[2], 0.5f);
  vec3_lerp(&m, &m03, &m12, 0.5f);
  for (int i = 0; i < 4; ++i) {
    Vec3 d;
    vec3_sub(&d, &out[i], &m);
    vec3_madd(&out[i], &m, &d, scale);
  }
}

namespace {

void beam_uv_from_screen(Task* task, float (*uv)[2], float offset_x, float offset_y, float scale) {
  Vec3 points[4];
  sprite3d_build_beam_quad(task, points, offset_x, offset_y, scale);
  for (int i = 0; i < 4; ++i) {
    uv[i][0] = points[i].x;
    uv[i][1] = points[i].y;
  }
}

void set_corners(Task* task, const Vec3& c0, const Vec3& c1, const Vec3& c2, const Vec3& c3) {
  Vec3* c = sprite3d_of(task)->quad.corners;
  c[0] = c0;
  c[1] = c1;
  c[2] = c2;
  c[3] = c3;
}

// p + a x ka + b x kb.
Vec3 offset(const Vec3* p, const Vec3& a, float ka, const Vec3& b, float kb) {
  return Vec3{p->x + a.x * ka + b.x * kb, p->y + a.y * ka + b.y * kb, p->z + a.z * ka + b.z * kb};
}

}  // namespace

void sprite3d_beam_uv0_from_screen(Task* task, float offset_x, float offset_y, float scale) {
  beam_uv_from_screen(task, sprite3d_of(task)->beam.uv0, offset_x, offset_y, scale);
}

void sprite3d_beam_uv1_from_screen(Task* task, float offset_x, float offset_y, float scale) {
  beam_uv_from_screen(task, sprite3d_of(task)->beam.uv1, offset_x, offset_y, scale);
}

void sprite3d_corners_from_segment(Task* task, const Vec3* p0, const Vec3* up0, float width0, float extension0,
                                   float lift0, const Vec3* p1, const Vec3* up1, float width1, float extension1,
                                   float lift1, int flag) {
  Vec3 d, s0, s1;
  vec3_sub(&d, p1, p0);
  vec3_normalize(&d, &d);
  vec3_cross(&s0, up0, &d);
  vec3_scale(&s0, &s0, width0);
  vec3_cross(&s1, up1, &d);
  vec3_scale(&s1, &s1, width1);
  // Each end: its point, lifted along its up vector, pushed out along d.
  const Vec3 base0 = offset(p0, *up0, lift0, d, -extension0);
  const Vec3 base1 = offset(p1, *up1, lift1, d, extension1);
  Vec3 a, b, c, e;
  vec3_sub(&a, &base0, &s0);
  vec3_add(&b, &base0, &s0);
  vec3_sub(&c, &base1, &s1);
  vec3_add(&e, &base1, &s1);
  if (flag == 0)
    set_corners(task, a, c, b, e);
  else
    set_corners(task, a, b, c, e);
}

void sprite3d_corners_from_segment_flat(Task* task, const Vec3* p0, const Vec3* side0, float length0,
                                        float extension0, const Vec3* p1, const Vec3* side1, float length1,
                                        float extension1, int flag) {
  Vec3 d;
  vec3_sub(&d, p1, p0);
  vec3_normalize(&d, &d);
  const Vec3 a = offset(p0, *side0, length0, d, -extension0);
  const Vec3 b = offset(p0, *side0, 0.0f, d, -extension0);
  const Vec3 c = offset(p1, *side1, length1, d, extension1);
  const Vec3 e = offset(p1, *side1, 0.0f, d, extension1);
  if (flag == 0)
    set_corners(task, a, c, b, e);
  else
    set_corners(task, a, b, c, e);
}

void sprite3d_corners_from_rect(Task* task, const Vec3* position, const Vec3* angles, float width, float height) {
  Mat4 m;
  if (angles != nullptr)
    mat4_from_position_euler(&m, position, angles);
  else
    mat4_translation(&m, position);
  const float hw = width * 0.5f, hh = height * 0.5f;
  const Vec3 local[4] = {{-hw, 0, hh}, {-hw, 0, -hh}, {hw, 0, hh}, {hw, 0, -hh}};
  Vec3* c = sprite3d_of(task)->quad.corners;
  mat4_transform_points4(&c[0], &c[1], &c[2], &c[3], &m, &local[0], &local[1], &local[2], &local[3]);
}

void sprite3d_bake_transform(Task* task) {
  Sprite3dQuad& q = sprite3d_of(task)->quad;
  Mat4 m;
  sprite3d_quad_matrix(&m, q);
  const Vec3 c[4] = {q.corners[0], q.corners[1], q.corners[2], q.corners[3]};
  mat4_transform_points4(&q.corners[0], &q.corners[1], &q.corners[2], &q.corners[3], &m, &c[0], &c[1], &c[2],
                         &c[3]);
  q.transform = 0;
}

// ---------------------------------------------------------------- helpers

float clamp_sprite3d(float x, float lo, float hi) { return x < lo ? lo : (x > hi ? hi : x); }
float clamp01_sprite3d(float x) { return clamp_sprite3d(x, 0.0f, 1.0f); }
float lerp_sprite3d(float a, float b, float t) { return a + (b - a) * t; }
uint32_t sprite3d_argb_alpha(uint32_t argb) { return argb >> 24; }
uint32_t sprite3d_argb_red(uint32_t argb) { return (argb >> 16) & 0xFFu; }
uint32_t sprite3d_argb_green(uint32_t argb) { return (argb >> 8) & 0xFFu; }
uint32_t sprite3d_argb_blue(uint32_t argb) { return argb & 0xFFu; }
float sprite3d_argb_alpha_unit(uint32_t argb) { return static_cast<float>(sprite3d_argb_alpha(argb)) / 255.0f; }
float sprite3d_argb_red_unit(uint32_t argb) { return static_cast<float>(sprite3d_argb_red(argb)) / 255.0f; }
float sprite3d_argb_green_unit(uint32_t argb) { return static_cast<float>(sprite3d_argb_green(argb)) / 255.0f; }
float sprite3d_argb_blue_unit(uint32_t argb) { return static_cast<float>(sprite3d_argb_blue(argb)) / 255.0f; }

uint32_t sprite3d_argb_pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a & 0xFFu) << 24 | (r & 0xFFu) << 16 | (g & 0xFFu) << 8 | (b & 0xFFu);
}

uint32_t sprite3d_argb_from_units(float a, float r, float g, float b) {
  auto byte = [](float x) { return static_cast<uint32_t>(clamp01_sprite3d(x) * 255.0f); };
  return sprite3d_argb_pack(byte(a), byte(r), byte(g), byte(b));
}

uint32_t sprite3d_argb_lerp(uint32_t from, uint32_t to, float t) {
  t = clamp01_sprite3d(t);
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const float a = static_cast<float>((from >> shift) & 0xFFu);
    const float b = static_cast<float>((to >> shift) & 0xFFu);
    out |= static_cast<uint32_t>(lerp_sprite3d(a, b, t)) << shift;
  }
  return out;
}

uint32_t sprite3d_argb_shift(uint32_t argb, int n) {
  n = n < 0 ? 0 : (n > 8 ? 8 : n);
  const uint32_t r = sprite3d_argb_red(argb) >> n, g = sprite3d_argb_green(argb) >> n,
                 b = sprite3d_argb_blue(argb) >> n;
  return sprite3d_argb_pack(sprite3d_argb_alpha(argb), r, g, b);
}
