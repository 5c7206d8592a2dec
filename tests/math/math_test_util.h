// Shared helpers of the math tests: fixed-seed random values and tolerant
// comparisons.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
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

// The elementary rotations written out element by element, so that tests of
// the library's rotations do not lean on the library itself.
inline Mat4 rot_x4(float a) {
  const float c = std::cos(a), s = std::sin(a);
  return Mat4{{1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1}};
}
inline Mat4 rot_y4(float a) {
  const float c = std::cos(a), s = std::sin(a);
  return Mat4{{c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1}};
}
inline Mat4 rot_z4(float a) {
  const float c = std::cos(a), s = std::sin(a);
  return Mat4{{c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
}

// The plain row-by-column product a x b: with row vectors, a applies first.
inline Mat4 product(const Mat4& a, const Mat4& b) {
  Mat4 r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k) r.m[i * 4 + j] += a.m[i * 4 + k] * b.m[k * 4 + j];
  return r;
}

// first x second x third in order of application.
inline Mat4 then3(const Mat4& first, const Mat4& second, const Mat4& third) {
  return product(product(first, second), third);
}

// An affine matrix that is neither symmetric nor a pure translation: every
// element of its 3x3 part differs, and it moves the origin.
inline Mat4 lopsided4() { return Mat4{{1, 2, 0.5f, 0, -1, 3, 2, 0, 0.25f, -2, 1.5f, 0, 4, -5, 6, 1}}; }
