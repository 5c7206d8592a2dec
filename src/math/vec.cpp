#include "math/vec.h"

#include "math/mat4.h"
#include "platform/sys/sys.h"

namespace {

// A unit vector perpendicular to the unit vector n, through the world axis
// least aligned with n.
Vec3 any_perpendicular(const Vec3* n) {
  const float ax = std::fabs(n->x), ay = std::fabs(n->y), az = std::fabs(n->z);
  Vec3 e{0.0f, 0.0f, 1.0f};
  if (ax <= ay && ax <= az)
    e = Vec3{1.0f, 0.0f, 0.0f};
  else if (ay <= az)
    e = Vec3{0.0f, 1.0f, 0.0f};
  Vec3 p;
  vec3_cross(&p, n, &e);
  return *vec3_normalize(&p, &p);
}

template <typename T>
void index_of_max_min(const T* array, int count, int* max_index, int* min_index) {
  if (array == nullptr || count <= 0) return;
  int imax = 0, imin = 0;
  for (int i = 1; i < count; ++i) {
    if (array[i] > array[imax]) imax = i;
    if (array[i] < array[imin]) imin = i;
  }
  if (max_index) *max_index = imax;
  if (min_index) *min_index = imin;
}

}  // namespace

float view_random_range(float lo, float hi) {
  const int r = sys_rand() % 10000;
  return lo + (static_cast<float>(r) * (hi - lo)) / 10000.0f;
}

void index_of_max_min_i32(const int32_t* array, int count, int* max_index, int* min_index) {
  index_of_max_min(array, count, max_index, min_index);
}

void index_of_max_min_f32(const float* array, int count, int* max_index, int* min_index) {
  index_of_max_min(array, count, max_index, min_index);
}

Vec3* vec3_slerp(Vec3* out, const Vec3* a, const Vec3* b, float t) {
  const float la = std::sqrt(a->x * a->x + a->y * a->y + a->z * a->z);
  const float lb = std::sqrt(b->x * b->x + b->y * b->y + b->z * b->z);
  if (la == 0.0f) return vec3_scale(out, b, t);
  if (lb == 0.0f) return vec3_scale(out, a, 1.0f - t);
  Vec3 an, bn;
  vec3_scale(&an, a, 1.0f / la);
  vec3_scale(&bn, b, 1.0f / lb);
  // The dot product of unit vectors can round past +-1.
  const float d = clamp(vec3_dot(&an, &bn), -1.0f, 1.0f);
  const float theta = std::acos(d);
  const float s = std::sin(theta);
  Vec3 blend;
  if (s > 1e-6f) {
    vec3_scale(&blend, &an, std::sin((1.0f - t) * theta));
    vec3_madd(&blend, &blend, &bn, std::sin(t * theta));
    vec3_scale(&blend, &blend, 1.0f / s);
    vec3_normalize(&blend, &blend);
  } else if (d > 0.0f) {
    blend = an;  // same direction
  } else {
    // Opposite directions: turn through any perpendicular.
    const Vec3 p = any_perpendicular(&an);
    vec3_scale(&blend, &an, std::cos(t * kPi));
    vec3_madd(&blend, &blend, &p, std::sin(t * kPi));
  }
  return vec3_scale(out, &blend, lerp(la, lb, t));
}

Vec3* vec3_orbit(Vec3* out, const Vec3* d, float dp, float dy, float dist) {
  if (d == nullptr || out == nullptr) return out;
  const float hsq = d->x * d->x + d->z * d->z;
  const float h = hsq == 0.0f ? 0.0f : std::sqrt(hsq);
  const float p = std::atan2(d->y, h) + dp;
  const float y = std::atan2(d->x, d->z) + dy;
  const float cp = std::cos(p);
  return vec3_set(out, cp * std::sin(y) * dist, std::sin(p) * dist, cp * std::cos(y) * dist);
}

Vec3* vec3_offset_by_angles(Vec3* out, const Vec3* base, float p, float y, float dist) {
  if (base == nullptr || out == nullptr) return out;
  const float cp = std::cos(p);
  return vec3_set(out, base->x + cp * std::sin(y) * dist, base->y + std::sin(p) * dist,
                  base->z + cp * std::cos(y) * dist);
}

Vec3* vec3_circle_point(Vec3* out, const Vec3* centre, const Vec3* axis, float angle,
                        float radius) {
  if (out == nullptr || centre == nullptr || axis == nullptr) return out;
  const float c = std::cos(angle) * radius;
  const float s = std::sin(angle) * radius;
  if (std::fabs(axis->x) < 1e-4f && std::fabs(axis->z) < 1e-4f) {
    return vec3_set(out, centre->x + s, centre->y, centre->z + c);
  }
  const float hsq = axis->x * axis->x + axis->z * axis->z;
  const float h = hsq == 0.0f ? 0.0f : std::sqrt(hsq);
  const float p = -std::atan2(axis->y, h);
  const float y = std::atan2(axis->x, axis->z);
  const float sy = std::sin(y), cy = std::cos(y), sp = std::sin(p), cp = std::cos(p);
  return vec3_set(out, centre->x + cy * c + sy * sp * s, centre->y + cp * s,
                  centre->z - sy * c + cy * sp * s);
}

Vec3* vec3_cone_point(Vec3* out, const Vec3* axis, float ax, float ay, float dist) {
  Mat4 m, r;
  mat4_identity(&r);
  mat4_rotate_x_local(&r, &r, ax);  // Rx
  Mat4 ry;
  mat4_identity(&ry);
  mat4_rotate_y_local(&ry, &ry, ay);
  mat4_multiply(&r, &ry, &r);  // Rx x Ry
  mat4_from_up_vector(&m, nullptr, axis);
  mat4_multiply(&r, &m, &r);  // Rx x Ry x F
  const Vec3 p{0.0f, dist, 0.0f};
  return mat4_transform_point(out, &r, &p);
}
