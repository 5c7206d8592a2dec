#include <gtest/gtest.h>

#include <cmath>

#include "math/quat.h"
#include "math/transform.h"
#include "math_test_util.h"

namespace {

Mat4 rotation_of(const Quat& q) {
  Mat4 m = identity4();
  return *quat_to_rotation(&m, &q);
}

TEST(MathQuat, MatrixRoundTripThroughEveryBranch) {
  // Rotations that force the trace branch and each largest-diagonal branch.
  struct Case {
    const char* branch;
    Vec3 axis;
    float angle;
  };
  const Case cases[] = {
      {"trace", {0.3f, 0.5f, 0.1f}, 0.4f},
      {"x", {1, 0.1f, 0.2f}, 3.0f},
      {"y", {0.1f, 1, 0.2f}, 3.0f},
      {"z", {0.2f, 0.1f, 1}, 3.0f},
      {"x-half-turn", {1, 0, 0}, kPi},
  };
  for (const Case& c : cases) {
    Vec3 axis;
    vec3_normalize(&axis, &c.axis);
    Quat q, back;
    quat_from_axis_angle(&q, &axis, c.angle);
    const Mat4 m = rotation_of(q);
    quat_from_matrix(&back, &m);
    SCOPED_TRACE(c.branch);
    expect_same_rotation(back, q, 1e-5f);
  }
  const Mat4 half_x = {{1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1}};
  Quat q;
  quat_from_matrix(&q, &half_x);
  expect_same_rotation(q, Quat{1, 0, 0, 0}, 0);

  TestRng rng(21);
  for (int i = 0; i < 500; ++i) {
    const Quat r = rng.unit_quat();
    Quat back;
    const Mat4 m = rotation_of(r);
    quat_from_matrix(&back, &m);
    expect_same_rotation(back, r, 2e-5f);
  }
}

TEST(MathQuat, EulerConstructorsMatchTheirAxisOrders) {
  struct Order {
    const char* name;
    Quat* (*fn)(Quat*, const Vec3*);
    Mat4 (*build)(const Vec3&);
  };
  const Order orders[] = {
      {"zxy", quat_from_euler, [](const Vec3& a) { return then3(rot_z4(a.z), rot_x4(a.x), rot_y4(a.y)); }},
      {"zyx", quat_from_euler_zyx, [](const Vec3& a) { return then3(rot_z4(a.z), rot_y4(a.y), rot_x4(a.x)); }},
      {"xzy", quat_from_euler_xzy, [](const Vec3& a) { return then3(rot_x4(a.x), rot_z4(a.z), rot_y4(a.y)); }},
      {"yxz", quat_from_euler_yxz, [](const Vec3& a) { return then3(rot_y4(a.y), rot_x4(a.x), rot_z4(a.z)); }},
      {"xyz", quat_from_euler_xyz, [](const Vec3& a) { return then3(rot_x4(a.x), rot_y4(a.y), rot_z4(a.z)); }},
      {"yzx", quat_from_euler_yzx, [](const Vec3& a) { return then3(rot_y4(a.y), rot_z4(a.z), rot_x4(a.x)); }},
  };
  TestRng rng(9);
  for (const Order& o : orders) {
    SCOPED_TRACE(o.name);
    for (int i = 0; i < 60; ++i) {
      const Vec3 ang = rng.vec(-3.1f, 3.1f);
      Quat q;
      o.fn(&q, &ang);
      expect_mat4_near(rotation_of(q), o.build(ang), 2e-5f);
    }
  }
}

TEST(MathQuat, RotationArcTurnsAOntoB) {
  struct Case {
    Vec3 a, b;
  };
  const Case cases[] = {
      {{1, 0, 0}, {0, 0, 1}},
      {{1, 0, 0}, {-1, 0, 0}},          // opposite: a half turn
      {{0, 2, 0}, {0, -5, 0}},
      {{0, 0, 3}, {0, 0, -1}},          // each world axis, and tied ones, opposite
      {{2, 1, 1}, {-2, -1, -1}},
      {{1, 2, 1}, {-1, -2, -1}},
      {{1, 1, 2}, {-1, -1, -2}},
      {{1e-3f, 0, 0}, {0, 1e-3f, 0}},   // short vectors still turn
      {{0.3f, -0.2f, 0.9f}, {-0.1f, 0.8f, 0.2f}},
  };
  for (const Case& c : cases) {
    Quat q;
    quat_rotation_arc(&q, &c.a, &c.b);
    Vec3 an, bn, turned;
    vec3_normalize(&an, &c.a);
    vec3_normalize(&bn, &c.b);
    const Mat4 m = rotation_of(q);
    mat4_transform_direction(&turned, &m, &an);
    expect_vec3_near(turned, bn, 1e-5f);
    EXPECT_NEAR(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w, 1.0f, 1e-5f);
  }
  const Vec3 x{1, 0, 0}, z{0, 0, 1};
  Quat q;
  quat_rotation_arc(&q, &x, &z);
  expect_same_rotation(q, Quat{0, -0.70710677f, 0, 0.70710677f}, 1e-6f);
  quat_rotation_arc(&q, &x, &x);
  expect_same_rotation(q, Quat{0, 0, 0, 1}, 0);
}

TEST(MathQuat, SlerpAndAxisAngle) {
  const Vec3 y{0, 1, 0};
  Quat id, quarter, eighth, out;
  quat_identity(&id);
  quat_from_axis_angle(&quarter, &y, kHalfPi);
  quat_from_axis_angle(&eighth, &y, kHalfPi / 2);
  quat_slerp(&out, &id, &quarter, 0.5f);
  expect_same_rotation(out, eighth, 1e-6f);
  Quat sixteenth_3;  // three quarters of the way to a quarter turn
  quat_from_axis_angle(&sixteenth_3, &y, kHalfPi * 0.75f);
  quat_slerp(&out, &id, &quarter, 0.75f);
  expect_same_rotation(out, sixteenth_3, 1e-6f);

  const Quat q{0.5f, 0.5f, 0.5f, 0.5f}, neg{-0.5f, -0.5f, -0.5f, -0.5f};
  quat_slerp(&out, &q, &q, 0.3f);
  EXPECT_EQ(out.x, q.x);
  quat_slerp(&out, &q, &neg, 0.3f);
  EXPECT_EQ(out.w, -0.5f);

  Vec3 axis;
  float angle = -1;
  quat_to_axis_angle(&axis, &angle, &id);
  EXPECT_EQ(angle, 0.0f);
  expect_vec3_near(axis, Vec3{0, 0, 0}, 0);
  // |w| rounded past 1 must not turn into NaN.
  const Quat over{0, 0, 0, 1.0000001f};
  quat_to_axis_angle(nullptr, &angle, &over);
  EXPECT_EQ(angle, 0.0f);
  Quat l;
  quat_log(&l, &over);
  EXPECT_FALSE(std::isnan(l.x));
}

TEST(MathQuat, LogExpProductAndConjugate) {
  const Vec3 v{0, 0.5f, 0};
  Quat e, l;
  quat_exp(&e, &v);
  quat_log(&l, &e);
  EXPECT_NEAR(l.y, 0.5f, 1e-6f);
  EXPECT_EQ(l.w, 0.0f);
  TestRng rng(2);
  const Quat q = rng.unit_quat();
  Quat id, out;
  quat_identity(&id);
  quat_multiply(&out, &id, &q);
  expect_same_rotation(out, q, 0);
  // Products compose like the matrices: q1 (x) q2 turns by q2 first.
  const Quat q2 = rng.unit_quat();
  quat_multiply(&out, &q, &q2);
  expect_mat4_near(rotation_of(out), product(rotation_of(q2), rotation_of(q)), 1e-5f);
  // The Hamilton product written out: i (x) j = k, j (x) i = -k.
  const Quat i{1, 0, 0, 0}, j{0, 1, 0, 0}, mixed{1, 2, 3, 4}, other{-2, 0.5f, 1, 3};
  quat_multiply(&out, &i, &j);
  expect_same_rotation(out, Quat{0, 0, 1, 0}, 0);
  EXPECT_EQ(out.z, 1.0f);
  quat_multiply(&out, &j, &i);
  EXPECT_EQ(out.z, -1.0f);
  quat_multiply(&out, &mixed, &other);
  EXPECT_FLOAT_EQ(out.x, -4.5f);
  EXPECT_FLOAT_EQ(out.y, 1.0f);
  EXPECT_FLOAT_EQ(out.z, 17.5f);
  EXPECT_FLOAT_EQ(out.w, 10.0f);

  float cx[4], cy[4], cz[4];
  const Vec3 zero{0, 0, 0};
  quat_exp_jacobian(cx, cy, cz, &zero);
  EXPECT_EQ(cx[0], 1.0f);
  EXPECT_EQ(cx[3], 0.0f);
  // At (0.3, 0, 0.4), |v| = 0.5: one column per input component.
  const Vec3 v2{0.3f, 0, 0.4f};
  const float* third = quat_exp_jacobian(cx, cy, cz, &v2);
  EXPECT_EQ(third, cz);
  const float want[3][4] = {{0.9295944f, 0, -0.0390089f, -0.2876553f},
                            {0, 0.9588511f, 0, 0},
                            {-0.0390089f, 0, 0.9068392f, -0.3835404f}};
  const float* cols[3] = {cx, cy, cz};
  for (int j = 0; j < 3; ++j)
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(cols[j][k], want[j][k], 1e-6f) << "column " << j << " row " << k;

  // r with its axis turned by q: a quarter turn about x, turned by a quarter
  // turn about z, is a quarter turn about y.
  const float h = std::sqrt(0.5f);
  const Quat about_x{h, 0, 0, h}, about_z{0, 0, h, h};
  quat_conjugate_by(&out, &about_x, &about_z);
  expect_same_rotation(out, Quat{0, h, 0, h}, 1e-6f);
  quat_conjugate(&out, &about_x);
  expect_same_rotation(out, Quat{-h, 0, 0, h}, 0);
  Vec3 axis;
  float angle = 0;
  quat_to_axis_angle(&axis, &angle, &about_z);
  EXPECT_FLOAT_EQ(angle, kHalfPi);
  expect_vec3_near(axis, Vec3{0, 0, 1}, 1e-6f);

  // The rotation's derivative, element by element.
  const Quat a{1, 2, 3, 4}, b{5, 6, 7, 8};
  Mat4 d;
  quat_rotation_derivative(&d, &a, &b);
  expect_mat4_near(d, Mat4{{-132, 136, -36, 0, -72, -104, 120, 0, 124, 8, -68, 0, 0, 0, 0, 1}}, 0);
}

TEST(MathTransform, MatrixRoundTripsWithScale) {
  Transform t;
  transform_init(&t);
  t.position = Vec3{1, 2, 3};
  t.scale = Vec3{2, 2, 2};
  Mat4 m;
  transform_to_matrix(&m, &t);
  expect_mat4_near(m, Mat4{{2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1}}, 0);
  Transform back;
  transform_from_matrix(&back, &m);
  expect_vec3_near(back.position, t.position, 0);
  expect_vec3_near(back.scale, t.scale, 1e-6f);
  expect_same_rotation(back.rotation, Quat{0, 0, 0, 1}, 1e-6f);  // unit, not sqrt(7)/2

  TestRng rng(4);
  for (int i = 0; i < 100; ++i) {
    Transform a;
    a.position = rng.vec(-10, 10);
    a.scale = rng.vec(0.3f, 3);
    a.rotation = rng.unit_quat();
    Mat4 ma, mb;
    transform_to_matrix(&ma, &a);
    transform_from_matrix(&back, &ma);
    expect_same_rotation(back.rotation, a.rotation, 5e-5f);
    transform_to_matrix(&mb, &back);
    expect_mat4_near(mb, ma, 1e-4f);
  }
}

TEST(MathTransform, MultiplyAppliesSecondFirst) {
  Transform a, b, out;
  transform_init(&a);
  transform_init(&b);
  a.position = Vec3{1, 0, 0};
  const Vec3 z{0, 0, 1};
  quat_from_axis_angle(&b.rotation, &z, kHalfPi);
  transform_multiply(&out, &a, &b);
  Mat4 m;
  transform_to_matrix(&m, &out);
  const Vec3 p{1, 0, 0};
  Vec3 q;
  expect_vec3_near(*mat4_transform_point(&q, &m, &p), Vec3{1, 1, 0}, 1e-6f);

  transform_lerp(&out, &a, &b, 0.0f);
  expect_vec3_near(out.position, a.position, 0);
  b.position = Vec3{3, 2, 0};
  b.scale = Vec3{1, 3, 5};
  transform_lerp(&out, &a, &b, 0.5f);
  expect_vec3_near(out.position, Vec3{2, 1, 0}, 0);
  expect_vec3_near(out.scale, Vec3{1, 2, 3}, 0);
  Quat eighth;
  quat_from_axis_angle(&eighth, &z, kHalfPi / 2);
  expect_same_rotation(out.rotation, eighth, 1e-6f);
}

// t scaled by (2, 1, 1) and moved by (1, 0, 0); m a quarter turn about z
// moved by (0, 0, 3). Which applies first decides every field.
TEST(MathTransform, ProductsWithAMatrixKeepTheirOrder) {
  Transform t, out;
  transform_init(&t);
  t.position = Vec3{1, 0, 0};
  t.scale = Vec3{2, 1, 1};
  Mat4 m = rot_z4(kHalfPi);
  m.m[14] = 3;
  const float h = std::sqrt(0.5f);
  transform_then_matrix(&out, &m, &t);  // t, then m
  expect_vec3_near(out.position, Vec3{0, 1, 3}, 1e-6f);
  expect_vec3_near(out.scale, Vec3{2, 1, 1}, 1e-6f);
  expect_same_rotation(out.rotation, Quat{0, 0, h, h}, 1e-6f);
  matrix_then_transform(&out, &t, &m);  // m, then t
  expect_vec3_near(out.position, Vec3{1, 0, 3}, 1e-6f);
  expect_vec3_near(out.scale, Vec3{1, 2, 1}, 1e-6f);
  expect_same_rotation(out.rotation, Quat{0, 0, h, h}, 1e-6f);
}

TEST(MathTransform, LocalChangesSettersAndDecomposition) {
  const float h = std::sqrt(0.5f);
  const Vec3 z{0, 0, 1};
  Transform t, out;
  transform_init(&t);
  expect_vec3_near(t.scale, Vec3{1, 1, 1}, 0);
  expect_same_rotation(t.rotation, Quat{0, 0, 0, 1}, 0);
  quat_from_axis_angle(&t.rotation, &z, kHalfPi);
  t.scale = Vec3{2, 2, 2};
  t.position = Vec3{1, 0, 0};
  // Moves along the transform's own (turned, scaled) x axis.
  const Vec3 step{1, 0, 0};
  transform_translate_local(&out, &t, &step);
  expect_vec3_near(out.position, Vec3{1, 2, 0}, 1e-6f);
  expect_vec3_near(out.scale, t.scale, 1e-6f);
  // Turns before the transform's own rotation.
  const Vec3 pitch{0.3f, 0, 0};
  transform_rotate_euler_local(&out, &t, &pitch);
  Mat4 got, tm = rot_z4(kHalfPi);
  for (int k = 0; k < 12; ++k) tm.m[k] *= 2;
  tm.m[12] = 1;
  transform_to_matrix(&got, &out);
  expect_mat4_near(got, product(rot_x4(0.3f), tm), 1e-5f);

  const Quat about_x{h, 0, 0, h};
  transform_turn_rotation(&out, &t, &about_x);  // the rotation's axis turned by about_x
  expect_same_rotation(out.rotation, Quat{0, -h, 0, h}, 1e-6f);
  expect_vec3_near(out.position, t.position, 0);
  const Vec3 s{1, 0.5f, 3};
  transform_scale(&out, &t, &s);
  expect_vec3_near(out.scale, Vec3{2, 1, 6}, 0);
  expect_same_rotation(out.rotation, t.rotation, 0);

  const Vec3 pos{4, 5, 6}, ang{0.2f, -0.3f, 0.4f};
  transform_set_position_euler(&t, &pos, &ang);
  expect_vec3_near(t.scale, Vec3{2, 2, 2}, 0);
  Vec3 p, a, sc;
  transform_decompose(&p, &a, &sc, &t);
  expect_vec3_near(p, pos, 0);
  expect_vec3_near(a, ang, 1e-5f);
  expect_vec3_near(sc, Vec3{2, 2, 2}, 0);
  transform_get_position_euler(nullptr, &a, &t);
  expect_vec3_near(a, ang, 1e-5f);
  transform_set_rotation_euler(&t, &pitch);
  transform_get_position_euler(&p, &a, &t);
  expect_vec3_near(a, pitch, 1e-6f);
  transform_set_rotation(&t, &about_x);
  transform_set_scale(&t, &s);
  expect_same_rotation(t.rotation, about_x, 0);
  expect_vec3_near(t.scale, s, 0);

  // The derivative of the rotations' logarithms: log of a quarter turn about
  // z is (0, 0, pi/4), about x (pi/4, 0, 0).
  Transform tz, tx;
  transform_init(&tz);
  transform_init(&tx);
  quat_from_axis_angle(&tz.rotation, &z, kHalfPi);
  tx.rotation = about_x;
  Mat4 d;
  transform_rotation_log_derivative(&d, &tz, &tx);
  const float k = kPi * kPi / 8;
  expect_mat4_near(d, Mat4{{0, 0, k, 0, 0, 0, 0, 0, k, 0, 0, 0, 0, 0, 0, 1}}, 1e-5f);

  // A null position leaves the matrix at the origin.
  Mat4 qm;
  for (float& e : qm.m) e = 9;
  mat4_from_quat_position(&qm, &about_x, nullptr);
  expect_mat4_near(qm, rot_x4(kHalfPi), 1e-6f);
}

}  // namespace
