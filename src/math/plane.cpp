#include "math/plane.h"

namespace {

constexpr float kMinAngle = 1.7453294e-5f;     // 0.001 degrees
constexpr float kMaxFov = 3.139847f;           // 179.9 degrees
// A half-angle must stay below a right angle: at or past it the tangent
// changes sign and the window turns inside out.
constexpr float kMaxHalfAngle = kHalfPi - kMinAngle;

float clamp_half_angle(float a) { return clamp(a, -kMaxHalfAngle, kMaxHalfAngle); }

float near_or(float v, float fallback) { return (v >= -1e-5f && v <= 1e-5f) ? fallback : v; }

}  // namespace

Plane* plane_from_point_normal(Plane* out, const Vec3* p, const Vec3* n) {
  Vec3 u;
  vec3_normalize(&u, n);
  *out = Plane{u.x, u.y, u.z, -vec3_dot(&u, p)};
  return out;
}

Vec3* triangle_normal(Vec3* out, const Vec3* a, const Vec3* b, const Vec3* c) {
  Vec3 e0, e1;
  vec3_sub(&e0, b, a);
  vec3_sub(&e1, c, b);
  return vec3_cross(out, &e0, &e1);
}

Plane* plane_from_points(Plane* out, const Vec3* a, const Vec3* b, const Vec3* c) {
  Vec3 n;
  triangle_normal(&n, a, b, c);
  vec3_normalize(&n, &n);
  return plane_from_point_normal(out, a, &n);
}

void plane_project_point(Vec3* offset, Vec3* point, const Vec3* p, const Plane* plane) {
  Plane q;
  plane_normalize(&q, plane);
  const Vec3 n{q.a, q.b, q.c};
  const float k = vec3_dot(&n, p) + q.d;
  const Vec3 src = *p;
  if (offset) vec3_scale(offset, &n, k);
  if (point) vec3_madd(point, &src, &n, -k);
}

Plane* plane_transform(Plane* out, const Mat4* m, const Plane* p) {
  Vec4 v{p->a, p->b, p->c, p->d};
  vec4_transform(&v, m, &v);
  *out = Plane{v.x, v.y, v.z, v.w};
  return out;
}

Frustum* frustum_from_fov(Frustum* out, float fov, float aspect, float cx, float cy, float near,
                          float far) {
  if (out == nullptr) return nullptr;
  const float f = clamp(fov, kMinAngle, kMaxFov);
  out->top = std::tan(clamp_half_angle(f * cy)) * near;
  out->bottom = -std::tan(clamp_half_angle((1.0f - cy) * f)) * near;
  out->left = -std::tan(clamp_half_angle(f * cx)) * near * aspect;
  out->right = std::tan(clamp_half_angle((1.0f - cx) * f)) * near * aspect;
  out->near = near;
  out->far = far;
  return out;
}

Frustum* frustum_from_angles(Frustum* out, float top_angle, float bottom_angle, float left_angle,
                             float right_angle, float aspect, float near, float far) {
  if (out == nullptr) return nullptr;
  out->top = std::tan(clamp(top_angle, kMinAngle, kMaxHalfAngle)) * near;
  out->bottom = -std::tan(clamp(bottom_angle, kMinAngle, kMaxHalfAngle)) * near;
  out->left = -std::tan(clamp(left_angle, kMinAngle, kMaxHalfAngle)) * near * aspect;
  out->right = std::tan(clamp(right_angle, kMinAngle, kMaxHalfAngle)) * near * aspect;
  out->near = near;
  out->far = far;
  return out;
}

void frustum_to_fov(float* fov, float* aspect, float* cx, float* cy, float* near, float* far,
                    const Frustum* f) {
  const float n = f->near;
  const float height = f->top - f->bottom;
  const float a = height == 0.0f ? 1.0f : (f->right - f->left) / height;
  float angle = 0.0f, fx = 0.5f, fy = 0.5f;
  if (n != 0.0f) {
    const float up = std::atan(f->top / n);
    angle = up + std::atan(-f->bottom / n);
    if (angle != 0.0f) {
      fy = up / angle;
      if (a != 0.0f) fx = std::atan(-f->left / (n * a)) / angle;
    }
  }
  if (fov) *fov = angle;
  if (aspect) *aspect = a;
  if (cx) *cx = fx;
  if (cy) *cy = fy;
  if (near) *near = f->near;
  if (far) *far = f->far;
}

Frustum* frustum_rescale(Frustum* out, const Frustum* in, float fov_factor, float aspect_factor,
                         float near, float far) {
  float fov, aspect, cx, cy;
  frustum_to_fov(&fov, &aspect, &cx, &cy, nullptr, nullptr, in);
  return frustum_from_fov(out, fov * fov_factor, aspect * aspect_factor, cx, cy,
                          near_or(near, in->near), near_or(far, in->far));
}

Frustum* frustum_rescale_angles(Frustum* out, const Frustum* in, float top_factor,
                                float bottom_factor, float left_factor, float right_factor,
                                float near, float far) {
  float fov, aspect, cx, cy;
  frustum_to_fov(&fov, &aspect, &cx, &cy, nullptr, nullptr, in);
  return frustum_from_angles(out, fov * cy * top_factor, (1.0f - cy) * fov * bottom_factor,
                             fov * cx * left_factor, (1.0f - cx) * fov * right_factor, aspect,
                             near_or(near, in->near), near_or(far, in->far));
}

Mat4* mat4_perspective_from_frustum(Mat4* out, const Frustum* f) {
  if (out == nullptr || f == nullptr) return nullptr;
  return mat4_perspective_off_center(out, f->left, f->right, f->bottom, f->top, f->near, f->far);
}

Plane* frustum_planes_from_matrix(Plane* out, const Mat4* m) {
  const float* e = m->m;
  const Vec4 c0{e[0], e[4], e[8], e[12]};
  const Vec4 c1{e[1], e[5], e[9], e[13]};
  const Vec4 c2{e[2], e[6], e[10], e[14]};
  const Vec4 c3{e[3], e[7], e[11], e[15]};
  // The near plane is z >= -w. With depth 0..1 it lies in front of the camera
  // at view depth n*f/(2f - n) (about half the near distance when far is much
  // larger), so culling keeps what lies just in front of the near distance.
  const Plane raw[kFrustumPlaneCount] = {
      {c3.x + c2.x, c3.y + c2.y, c3.z + c2.z, c3.w + c2.w},
      {c3.x - c2.x, c3.y - c2.y, c3.z - c2.z, c3.w - c2.w},
      {c3.x - c0.x, c3.y - c0.y, c3.z - c0.z, c3.w - c0.w},
      {c3.x + c0.x, c3.y + c0.y, c3.z + c0.z, c3.w + c0.w},
      {c3.x + c1.x, c3.y + c1.y, c3.z + c1.z, c3.w + c1.w},
      {c3.x - c1.x, c3.y - c1.y, c3.z - c1.z, c3.w - c1.w},
  };
  for (int i = 0; i < kFrustumPlaneCount; ++i) {
    const Vec3 n{raw[i].a, raw[i].b, raw[i].c};
    const float sq = geom_vec3_length_sq(&n);
    if (sq == 0.0f) {
      out[i] = Plane{0.0f, 0.0f, 0.0f, 1.0f};
      continue;
    }
    const float k = inv_sqrt_f(sq);
    out[i] = Plane{raw[i].a * k, raw[i].b * k, raw[i].c * k, raw[i].d * k};
  }
  return out;
}

namespace {

float view_width_at(const Frustum* f, float z) {
  return (std::fabs(f->left) + std::fabs(f->right)) * z / f->near;
}

}  // namespace

float lod_pixel_size(const Frustum* f, float z, float size, float screen_width) {
  return std::fabs(size * screen_width / view_width_at(f, z));
}

float lod_size_for_pixels(const Frustum* f, float z, float screen_width, float pixels) {
  return std::fabs(view_width_at(f, z) * (pixels / screen_width));
}

float lod_world_size(const Frustum* f, float z, float size, float screen_width,
                     float min_pixels) {
  if (min_pixels <= lod_pixel_size(f, z, size, screen_width)) return size;
  return lod_size_for_pixels(f, z, screen_width, min_pixels);
}

float projected_size_at_point(const Frustum* f, const Mat4* view, const Vec3* p, float size,
                              float screen_width, float min_pixels) {
  Vec3 v;
  mat4_transform_point(&v, view, p);
  return lod_world_size(f, v.z, size, screen_width, min_pixels);
}
