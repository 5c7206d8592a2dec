// Scalars, Vec2 and Vec3: the base of the math library.
//
// Single precision throughout. Operations take their output first, return it,
// and let it be one of the inputs (every component is read before it is
// written). Squared lengths below 1e-10 count as zero.
#pragma once

#include <cmath>
#include <cstdint>

struct Vec2 {
  float x, y;
};

struct Vec3 {
  float x, y, z;
};

constexpr float kLengthSqFloor = 1e-10f;
constexpr float kPi = 3.14159274f;       // pi rounded to single precision
constexpr float kHalfPi = 1.5707964f;

// ---------------------------------------------------------------- scalars

inline float lerp(float a, float b, float t) { return (b - a) * t + a; }

// A NaN passes through unchanged.
inline float clamp(float x, float lo, float hi) {
  if (x < lo) return lo;
  if (x > hi) return hi;
  return x;
}

inline float clamp01(float x) { return clamp(x, 0.0f, 1.0f); }

// The names the view and frame module gives the same operations.
inline float view_lerp(float a, float b, float t) { return lerp(a, b, t); }
inline float view_clamp(float x, float lo, float hi) { return clamp(x, lo, hi); }
inline float view_clamp01(float x) { return clamp01(x); }

inline float inv_lerp(float x, float a, float b) {
  if (a == b) return 0.0f;
  return (x - a) / (b - a);
}

// Progress of a timed transition between wrapping 32-bit frame stamps.
inline float view_transition_factor(uint32_t now, uint32_t start, uint32_t end) {
  if (start == end) return 0.0f;
  const auto done = static_cast<int32_t>(now - start);
  const auto span = static_cast<int32_t>(end - start);
  return clamp01(static_cast<float>(done) / static_cast<float>(span));
}

// lo + r*(hi-lo)/10000 with r drawn from the program's generator: [lo, hi)
// in 10000 steps.
float view_random_range(float lo, float hi);

// Index of the first maximum and first minimum. Outputs may be null; a count
// of 0 or less leaves both outputs untouched.
void index_of_max_min_i32(const int32_t* array, int count, int* max_index, int* min_index);
void index_of_max_min_f32(const float* array, int count, int* max_index, int* min_index);

// Exact square roots: the results must not depend on the processor's
// approximation tables.
inline float fast_sqrt(float x) { return std::sqrt(x); }
inline float fast_rsqrt(float x) { return 1.0f / std::sqrt(x); }

// ---------------------------------------------------------------- Vec2

inline Vec2* vec2_set(Vec2* out, float x, float y) {
  out->x = x;
  out->y = y;
  return out;
}

inline Vec2* vec2_sub(Vec2* out, const Vec2* a, const Vec2* b) {
  return vec2_set(out, a->x - b->x, a->y - b->y);
}

inline float vec2_dot(const Vec2* a, const Vec2* b) { return a->x * b->x + a->y * b->y; }
inline float vec2_cross(const Vec2* a, const Vec2* b) { return a->x * b->y - a->y * b->x; }

inline float vec2_length_sq(const Vec2* v) {
  const float sq = v->x * v->x + v->y * v->y;
  return sq < kLengthSqFloor ? 0.0f : sq;
}

inline float vec2_length(const Vec2* v) { return std::sqrt(vec2_length_sq(v)); }

inline float vec2_distance_sq(const Vec2* a, const Vec2* b) {
  const float dx = a->x - b->x, dy = a->y - b->y;
  return dx * dx + dy * dy;
}

inline float vec2_distance(const Vec2* a, const Vec2* b) {
  const float sq = vec2_distance_sq(a, b);
  return sq < kLengthSqFloor ? 0.0f : std::sqrt(sq);
}

inline Vec2* vec2_normalize(Vec2* out, const Vec2* v) {
  const float sq = v->x * v->x + v->y * v->y;
  if (sq == 0.0f) return vec2_set(out, 0.0f, 0.0f);
  const float k = 1.0f / std::sqrt(sq);
  return vec2_set(out, v->x * k, v->y * k);
}

// ---------------------------------------------------------------- Vec3

inline Vec3* vec3_set(Vec3* out, float x, float y, float z) {
  out->x = x;
  out->y = y;
  out->z = z;
  return out;
}

inline Vec3* vec3_copy(Vec3* out, const Vec3* v) { return vec3_set(out, v->x, v->y, v->z); }

inline Vec3* vec3_add(Vec3* out, const Vec3* a, const Vec3* b) {
  return vec3_set(out, a->x + b->x, a->y + b->y, a->z + b->z);
}

inline Vec3* vec3_sub(Vec3* out, const Vec3* a, const Vec3* b) {
  return vec3_set(out, a->x - b->x, a->y - b->y, a->z - b->z);
}

inline Vec3* vec3_scale(Vec3* out, const Vec3* v, float s) {
  return vec3_set(out, v->x * s, v->y * s, v->z * s);
}

inline Vec3* vec3_mul(Vec3* out, const Vec3* a, const Vec3* b) {
  return vec3_set(out, a->x * b->x, a->y * b->y, a->z * b->z);
}

inline Vec3* vec3_madd(Vec3* out, const Vec3* a, const Vec3* d, float t) {
  return vec3_set(out, a->x + d->x * t, a->y + d->y * t, a->z + d->z * t);
}

inline Vec3* vec3_negate(Vec3* out, const Vec3* v) { return vec3_set(out, -v->x, -v->y, -v->z); }

inline float vec3_dot(const Vec3* a, const Vec3* b) {
  return a->x * b->x + a->y * b->y + a->z * b->z;
}

inline Vec3* vec3_cross(Vec3* out, const Vec3* a, const Vec3* b) {
  return vec3_set(out, a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z,
                  a->x * b->y - a->y * b->x);
}

inline float vec3_length_sq(const Vec3* v) {
  const float sq = v->x * v->x + v->y * v->y + v->z * v->z;
  return sq < kLengthSqFloor ? 0.0f : sq;
}

inline float vec3_length(const Vec3* v) { return std::sqrt(vec3_length_sq(v)); }

inline float vec3_distance_sq(const Vec3* a, const Vec3* b) {
  const float dx = a->x - b->x, dy = a->y - b->y, dz = a->z - b->z;
  return dx * dx + dy * dy + dz * dz;
}

// A tiny non-zero vector is still divided; only the exact zero vector gives
// the zero vector.
inline Vec3* vec3_normalize(Vec3* out, const Vec3* v) {
  const float sq = v->x * v->x + v->y * v->y + v->z * v->z;
  if (sq == 0.0f) return vec3_set(out, 0.0f, 0.0f, 0.0f);
  return vec3_scale(out, v, 1.0f / std::sqrt(sq));
}

// normalize(b - a); null (out untouched) when a or b is null.
inline Vec3* vec3_direction_between(Vec3* out, const Vec3* a, const Vec3* b) {
  if (a == nullptr || b == nullptr) return nullptr;
  Vec3 d;
  vec3_sub(&d, b, a);
  return vec3_normalize(out, &d);
}

// Divides by s kept at least 1e-5 away from zero (0 counts as positive).
inline Vec3* vec3_div_safe(Vec3* out, const Vec3* v, float s) {
  if (s > -1e-5f && s < 1e-5f) s = s < 0.0f ? -1e-5f : 1e-5f;
  return vec3_scale(out, v, 1.0f / s);
}

inline Vec3* vec3_lerp(Vec3* out, const Vec3* a, const Vec3* b, float t) {
  return vec3_set(out, lerp(a->x, b->x, t), lerp(a->y, b->y, t), lerp(a->z, b->z, t));
}

inline Vec3* view_vec3_set(Vec3* out, float x, float y, float z) { return vec3_set(out, x, y, z); }
inline Vec3* view_vec3_normalize(Vec3* out, const Vec3* v) { return vec3_normalize(out, v); }
inline Vec3* view_vec3_lerp(Vec3* out, const Vec3* a, const Vec3* b, float t) { return vec3_lerp(out, a, b, t); }

// Spherical blend of the directions with the lengths blended linearly.
Vec3* vec3_slerp(Vec3* out, const Vec3* a, const Vec3* b, float t);

// Cubic Hermite point with s clamped to [0, 1].
inline Vec3* vec3_hermite(Vec3* out, const Vec3* p0, const Vec3* t0, const Vec3* p1,
                          const Vec3* t1, float s) {
  s = clamp01(s);
  const float s2 = s * s, s3 = s2 * s;
  const float a = 2.0f * s3 - 3.0f * s2 + 1.0f;
  const float b = -2.0f * s3 + 3.0f * s2;
  const float c = s3 - 2.0f * s2 + s;
  const float d = s3 - s2;
  return vec3_set(out, a * p0->x + b * p1->x + c * t0->x + d * t1->x,
                  a * p0->y + b * p1->y + c * t0->y + d * t1->y,
                  a * p0->z + b * p1->z + c * t0->z + d * t1->z);
}

// ---------------------------------------------------------------- angles
// Pitch is the angle about x, yaw the angle about y; yaw 0 looks along +z.

// (pitch, yaw, 0) of a direction; positive pitch looks down.
inline Vec3* vec3_to_angles(Vec3* out, const Vec3* d) {
  const float h = std::sqrt(d->x * d->x + d->z * d->z);
  return vec3_set(out, std::atan2(-d->y, h), std::atan2(d->x, d->z), 0.0f);
}

// Angles from a to b; (0, 0, 0) when b is straight above, below or at a.
// Null (out untouched) when a or b is null.
inline Vec3* vec3_angles_between(Vec3* out, const Vec3* a, const Vec3* b) {
  if (a == nullptr || b == nullptr) return nullptr;
  const float dx = b->x - a->x, dy = b->y - a->y, dz = b->z - a->z;
  if (dx == 0.0f && dz == 0.0f) return vec3_set(out, 0.0f, 0.0f, 0.0f);
  const float h = std::sqrt(dx * dx + dz * dz);
  return vec3_set(out, -std::atan2(dy, h), std::atan2(dx, dz), 0.0f);
}

// Unit direction of (pitch, yaw); the inverse of vec3_to_angles.
inline Vec3* vec3_from_angles(Vec3* out, const Vec3* angles) {
  if (angles == nullptr) return vec3_set(out, 0.0f, 0.0f, 0.0f);
  const float cp = std::cos(angles->x), sp = std::sin(angles->x);
  return vec3_set(out, cp * std::sin(angles->y), -sp, cp * std::cos(angles->y));
}

// vec3_to_angles, turned over when the up vector points downward.
inline Vec3* vec3_to_angles_up(Vec3* out, const Vec3* d, const Vec3* up) {
  Vec3 a;
  vec3_to_angles(&a, d);
  if (up->y >= 0.0f) return vec3_copy(out, &a);
  return vec3_set(out, kPi - a.x, a.y + kPi, 0.0f);
}

// Turns direction d by pitch and yaw offsets (positive pitch looks up here)
// and scales it to dist. Returns out unchanged when d or out is null.
Vec3* vec3_orbit(Vec3* out, const Vec3* d, float dp, float dy, float dist);

// base + dist * direction(p, y) with positive pitch looking up.
Vec3* vec3_offset_by_angles(Vec3* out, const Vec3* base, float p, float y, float dist);

// Point at angle on the circle of radius around axis through centre.
Vec3* vec3_circle_point(Vec3* out, const Vec3* centre, const Vec3* axis, float angle,
                        float radius);

// (0, dist, 0) turned by ax about x, then ay about y, then carried into the
// frame whose y axis is axis.
Vec3* vec3_cone_point(Vec3* out, const Vec3* axis, float ax, float ay, float dist);
