// Shared helpers of the math tests: fixed-seed random values and tolerant
// comparisons.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "math/mat4.h"
#include "math/quat.h"

// Small deterministic generator so property tests repeat exactly.
class TestRng {
 public:
  explicit TestRng(uint32_t seed) : state_(seed) {}
  float uniform(float lo, float hi) {
    state_ = state_ * 1664525u + 1013904223u;
    return lo + (hi - lo) * static_cast<float>(state_ >> 8) / 16777216.0f;
  }
  Vec3 vec(float lo, float hi) { return Vec3{uniform(lo, hi), uniform(lo, hi), uniform(lo, hi)}; }
  Quat unit_quat() {
    Quat q{uniform(-1, 1), uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
    return *quat_normalize(&q, &q);
  }

 private:
  uint32_t state_;
};

inline void expect_vec3_near(const Vec3& a, const Vec3& b, float tol) {
  EXPECT_NEAR(a.x, b.x, tol);
  EXPECT_NEAR(a.y, b.y, tol);
  EXPECT_NEAR(a.z, b.z, tol);
}

inline void expect_mat4_near(const Mat4& a, const Mat4& b, float tol) {
  for (int k = 0; k < 16; ++k) EXPECT_NEAR(a.m[k], b.m[k], tol) << "element " << k;
}

// q and -q are the same rotation.
inline void expect_same_rotation(const Quat& a, const Quat& b, float tol) {
  const float s = (a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w) < 0.0f ? -1.0f : 1.0f;
  EXPECT_NEAR(a.x, s * b.x, tol);
  EXPECT_NEAR(a.y, s * b.y, tol);
  EXPECT_NEAR(a.z, s * b.z, tol);
  EXPECT_NEAR(a.w, s * b.w, tol);
}

inline Mat4 identity4() {
  Mat4 m;
  return *mat4_identity(&m);
}

inline Mat4 rot_x4(float a) {
  Mat4 m = identity4();
  return *mat4_rotate_x_local(&m, &m, a);
}
inline Mat4 rot_y4(float a) {
  Mat4 m = identity4();
  return *mat4_rotate_y_local(&m, &m, a);
}
inline Mat4 rot_z4(float a) {
  Mat4 m = identity4();
  return *mat4_rotate_z_local(&m, &m, a);
}

// first x second x third in order of application.
inline Mat4 then3(const Mat4& first, const Mat4& second, const Mat4& third) {
  Mat4 r;
  mat4_multiply(&r, &second, &first);
  mat4_multiply(&r, &third, &r);
  return r;
}
