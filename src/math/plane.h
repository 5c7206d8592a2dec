// Planes, perspective frustums, frustum planes and level-of-detail sizing.
#pragma once

#include "math/mat4.h"
#include "math/vec.h"

// a*x + b*y + c*z + d = 0; (a, b, c) is the normal, the positive side is
// where the expression is greater than 0.
struct Plane {
  float a, b, c, d;
};

// A perspective view volume: the view-space window at the near distance
// (left and bottom negative for a centred view) and the two plane distances.
struct Frustum {
  float left, right, bottom, top, near, far;
};

// Order of the six planes of frustum_planes_from_matrix; normals point in.
enum FrustumPlaneIndex {
  kFrustumNear,
  kFrustumFar,
  kFrustumRight,
  kFrustumLeft,
  kFrustumBottom,
  kFrustumTop,
  kFrustumPlaneCount
};

// ---------------------------------------------------------------- planes

Plane* plane_from_point_normal(Plane* out, const Vec3* p, const Vec3* n);
Plane* plane_from_points(Plane* out, const Vec3* a, const Vec3* b, const Vec3* c);
// (b - a) x (c - b), not normalised.
Vec3* triangle_normal(Vec3* out, const Vec3* a, const Vec3* b, const Vec3* c);

// All four values over the normal's length; (0, 0, 0, 0) for a zero normal.
inline Plane* plane_normalize(Plane* out, const Plane* p) {
  const float sq = p->a * p->a + p->b * p->b + p->c * p->c;
  if (sq == 0.0f) {
    *out = Plane{0.0f, 0.0f, 0.0f, 0.0f};
    return out;
  }
  const float k = 1.0f / std::sqrt(sq);
  *out = Plane{p->a * k, p->b * k, p->c * k, p->d * k};
  return out;
}

inline float plane_dot_point(const Plane* p, const Vec3* v) {
  return p->a * v->x + p->b * v->y + p->c * v->z + p->d;
}

inline float plane_dot_normal(const Plane* p, const Vec3* v) {
  return p->a * v->x + p->b * v->y + p->c * v->z;
}

inline Plane* vec4_negate(Plane* out, const Plane* p) {
  *out = Plane{-p->a, -p->b, -p->c, -p->d};
  return out;
}

// offset = the signed distance along the normal as a vector; point = the foot
// on the plane. Either output may be null.
void plane_project_point(Vec3* offset, Vec3* point, const Vec3* p, const Plane* plane);

// The plane as a 4-vector through m (planes go through the inverse transpose).
Plane* plane_transform(Plane* out, const Mat4* m, const Plane* p);

inline float inv_sqrt_f(float x) { return 1.0f / std::sqrt(x); }

inline float geom_vec3_length_sq(const Vec3* v) { return vec3_length_sq(v); }

// ---------------------------------------------------------------- frustums

// fov is the full vertical angle; cx, cy the fractions of it left of and above
// the centre line (0.5 for a centred view). Nothing happens when out is null.
Frustum* frustum_from_fov(Frustum* out, float fov, float aspect, float cx, float cy, float near,
                          float far);
// The four half-angles measured from the view axis.
Frustum* frustum_from_angles(Frustum* out, float top_angle, float bottom_angle, float left_angle,
                             float right_angle, float aspect, float near, float far);
// The field of view, aspect and centre fractions that frustum_from_fov would
// take to build f (exact for the aspect when cx == cy). Outputs may be null.
void frustum_to_fov(float* fov, float* aspect, float* cx, float* cy, float* near, float* far,
                    const Frustum* f);
// A near or far within 1e-5 of 0 keeps the input's distance.
Frustum* frustum_rescale(Frustum* out, const Frustum* in, float fov_factor, float aspect_factor,
                         float near, float far);
Frustum* frustum_rescale_angles(Frustum* out, const Frustum* in, float top_factor,
                                float bottom_factor, float left_factor, float right_factor,
                                float near, float far);
Mat4* mat4_perspective_from_frustum(Mat4* out, const Frustum* f);

// The six planes (near, far, right, left, bottom, top) of a view x projection,
// normals pointing in. The near plane is z >= -w: for depth 0..1 it lies at
// view depth n*f/(2f - n), nearer the camera than the near distance n. A plane
// without a normal becomes (0, 0, 0, 1), which holds every point.
Plane* frustum_planes_from_matrix(Plane* out, const Mat4* m);

// ---------------------------------------------------------------- level of detail

// Pixels an object of size covers at view depth z.
float lod_pixel_size(const Frustum* f, float z, float size, float screen_width);
// Size that covers pixels at view depth z.
float lod_size_for_pixels(const Frustum* f, float z, float screen_width, float pixels);
// size, grown so that it covers at least min_pixels.
float lod_world_size(const Frustum* f, float z, float size, float screen_width,
                     float min_pixels);
float projected_size_at_point(const Frustum* f, const Mat4* view, const Vec3* p, float size,
                              float screen_width, float min_pixels);
