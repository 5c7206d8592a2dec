#include <gtest/gtest.h>

#include "math/mat4.h"
#include "math/plane.h"
#include "math_test_util.h"

namespace {

TEST(MathMat4, MultiplyAppliesSecondArgumentFirstAndAllowsAliasing) {
  const Vec3 t{1, 0, 0}, p{1, 0, 0};
  Mat4 a, b = rot_z4(kHalfPi), out;
  mat4_translation(&a, &t);
  mat4_multiply(&out, &a, &b);  // b x a: rotate, then move
  Vec3 q;
  expect_vec3_near(*mat4_transform_point(&q, &out, &p), Vec3{1, 1, 0}, 1e-6f);

  Mat4 a2 = a, b2 = b;
  mat4_multiply(&a2, &a2, &b);
  mat4_multiply(&b2, &a, &b2);
  expect_mat4_near(a2, out, 0);
  expect_mat4_near(b2, out, 0);
}

TEST(MathMat4, EulerIsRollThenPitchThenYawWithYawZeroAlongZ) {
  TestRng rng(11);
  for (int i = 0; i < 50; ++i) {
    const Vec3 ang = rng.vec(-3, 3);
    Mat4 m = identity4();
    mat4_rotation_from_euler(&m, &ang);
    expect_mat4_near(m, then3(rot_z4(ang.z), rot_x4(ang.x), rot_y4(ang.y)), 1e-5f);
  }
  // Yaw 0 looks along +z; a positive yaw turns forward toward +x.
  Mat4 m;
  const Vec3 fwd{0, 0, 1}, yaw{0, 0.5f, 0};
  mat4_from_position_euler(&m, nullptr, &yaw);
  Vec3 d;
  mat4_transform_direction(&d, &m, &fwd);
  EXPECT_NEAR(d.x, std::sin(0.5f), 1e-6f);
  EXPECT_NEAR(d.z, std::cos(0.5f), 1e-6f);
}

TEST(MathMat4, ToEulerInvertsEveryOrderAndHandlesThePoles) {
  using Extract = Vec3* (*)(Vec3*, const Mat4*);
  struct Order {
    const char* name;
    Extract fn;
    Mat4 (*build)(const Vec3&);
  };
  const Order orders[] = {
      {"zxy", mat4_to_euler, [](const Vec3& a) { return then3(rot_z4(a.z), rot_x4(a.x), rot_y4(a.y)); }},
      {"zyx", mat4_to_euler_zyx, [](const Vec3& a) { return then3(rot_z4(a.z), rot_y4(a.y), rot_x4(a.x)); }},
      {"xzy", mat4_to_euler_xzy, [](const Vec3& a) { return then3(rot_x4(a.x), rot_z4(a.z), rot_y4(a.y)); }},
      {"yxz", mat4_to_euler_yxz, [](const Vec3& a) { return then3(rot_y4(a.y), rot_x4(a.x), rot_z4(a.z)); }},
      {"xyz", mat4_to_euler_xyz, [](const Vec3& a) { return then3(rot_x4(a.x), rot_y4(a.y), rot_z4(a.z)); }},
  };
  TestRng rng(5);
  for (const Order& o : orders) {
    for (int i = 0; i < 40; ++i) {
      const Vec3 ang{rng.uniform(-1.4f, 1.4f), rng.uniform(-1.4f, 1.4f), rng.uniform(-1.4f, 1.4f)};
      const Mat4 m = o.build(ang);
      Vec3 back;
      o.fn(&back, &m);
      expect_mat4_near(o.build(back), m, 2e-5f);
    }
  }
  Mat4 m;
  mat4_from_position_euler_values(&m, 0, 0, 0, 0.3f, 0.7f, 1.1f);
  Vec3 a;
  expect_vec3_near(*mat4_to_euler(&a, &m), Vec3{0.3f, 0.7f, 1.1f}, 1e-5f);

  // Pitch exactly +90 degrees: m9 = -1, the remaining turn goes into roll.
  mat4_from_position_euler_values(&m, 0, 0, 0, kHalfPi, 0.4f, 1.0f);
  m.m[9] = -1.0f;
  mat4_to_euler(&a, &m);
  EXPECT_FLOAT_EQ(a.x, kHalfPi);
  EXPECT_EQ(a.y, 0.0f);
  Mat4 rebuilt;
  mat4_from_position_euler(&rebuilt, nullptr, &a);
  expect_mat4_near(rebuilt, m, 1e-5f);
}

TEST(MathMat4, LookAtRows) {
  struct Case {
    Vec3 eye, target;
    Mat4 expected;
  };
  const Case cases[] = {
      {{0, 0, -5}, {0, 0, 0}, {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -5, 1}}},
      // Straight up with the default up: right is nudged to +x.
      {{0, 0, 0}, {0, 1, 0}, {{1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1}}},
  };
  for (const Case& c : cases) {
    Mat4 m;
    mat4_look_at(&m, &c.eye, &c.target, nullptr, 0);
    expect_mat4_near(m, c.expected, 1e-6f);
  }
  // The view matrix (the inverse) brings the target onto +z in front.
  const Vec3 eye{3, 2, -4}, target{1, 1, 1};
  Mat4 cam, view;
  mat4_look_at(&cam, &eye, &target, nullptr, 0);
  ASSERT_NE(mat4_invert(&view, &cam), nullptr);
  Vec3 v;
  mat4_transform_point(&v, &view, &target);
  EXPECT_NEAR(v.x, 0, 1e-5f);
  EXPECT_NEAR(v.y, 0, 1e-5f);
  EXPECT_GT(v.z, 0);
}

TEST(MathMat4, ProjectionsMapNearToZeroAndFarToOne) {
  Mat4 p;
  ASSERT_NE(mat4_perspective_off_center(&p, -1, 1, -1, 1, 1, 100), nullptr);
  Vec4 in{0, 0, 1, 1}, out;
  vec4_transform(&out, &p, &in);
  EXPECT_NEAR(out.z / out.w, 0.0f, 1e-6f);
  in = Vec4{0, 0, 100, 1};
  vec4_transform(&out, &p, &in);
  EXPECT_NEAR(out.z / out.w, 1.0f, 1e-6f);

  ASSERT_NE(mat4_ortho_off_center(&p, -1, 1, -1, 1, 1, 11), nullptr);
  Vec3 q;
  const Vec3 n{0, 0, 1}, f{0, 0, 11};
  EXPECT_NEAR(mat4_transform_point(&q, &p, &n)->z, 0.0f, 1e-6f);
  EXPECT_NEAR(mat4_transform_point(&q, &p, &f)->z, 1.0f, 1e-6f);

  // A degenerate volume is refused instead of dividing by zero.
  EXPECT_EQ(mat4_perspective_off_center(&p, -1, 1, -1, 1, 5, 5), nullptr);
  EXPECT_EQ(mat4_differs_from_identity(&p, 0), 0);
  EXPECT_EQ(mat4_ortho_off_center(&p, 1, 1, -1, 1, 1, 2), nullptr);
}

TEST(MathMat4, ProjectPointDividesXYByAbsoluteW) {
  Mat4 m = identity4();
  m.m[15] = -2.0f;
  const Vec3 p{4, 6, 8};
  Vec3 q;
  expect_vec3_near(*mat4_project_point(&q, &m, &p), Vec3{2, 3, 8}, 0);
}

TEST(MathMat4, InverseRoundTripsAndRefusesSingularMatrices) {
  TestRng rng(3);
  for (int i = 0; i < 100; ++i) {
    const Vec3 ang = rng.vec(-3, 3), pos = rng.vec(-50, 50), scale = rng.vec(0.2f, 4);
    Mat4 m, inv, prod;
    mat4_from_position_euler(&m, &pos, &ang);
    mat4_scale_rows(&m, &m, &scale);
    ASSERT_NE(mat4_invert(&inv, &m), nullptr);
    mat4_multiply(&prod, &m, &inv);
    expect_mat4_near(prod, identity4(), 2e-4f);
  }
  Mat4 singular = identity4();
  singular.m[10] = 0.0f;
  Mat4 out;
  for (float& v : out.m) v = 7.0f;
  EXPECT_EQ(mat4_invert(&out, &singular), nullptr);
  expect_mat4_near(out, identity4(), 0);
  // A camera whose eye sits on its target.
  const Vec3 eye{1, 2, 3};
  Mat4 cam;
  mat4_look_at(&cam, &eye, &eye, nullptr, 0);
  EXPECT_EQ(mat4_invert(&out, &cam), nullptr);
}

// The singularity test looks at the 3x3 part relative to its own scale, so a
// camera far from the origin still has a view matrix, and a tiny but regular
// scale is still invertible, while a flattened axis is refused at any distance.
TEST(MathMat4, InverseOfFarAndSmallMatrices) {
  struct Case {
    const char* what;
    Vec3 pos, scale;
    bool invertible;
  } cases[] = {
      {"translation 1e5", {1e5f, 0, 0}, {1, 1, 1}, true},
      {"translation 1e6", {1e6f, 0, 0}, {1, 1, 1}, true},
      {"translation 1e7 on every axis", {1e7f, -1e7f, 1e7f}, {1, 1, 1}, true},
      {"scale 1e-3 far away", {1e6f, 0, 0}, {1e-3f, 1e-3f, 1e-3f}, true},
      {"one axis flattened, near", {1, 2, 3}, {1, 0, 1}, false},
      {"one axis flattened, far", {1e6f, 0, 0}, {1, 0, 1}, false},
      {"one axis tiny but whole, far", {1e6f, 0, 0}, {1, 1e-9f, 1}, true},
  };
  for (const Case& c : cases) {
    const Vec3 ang{0.3f, -1.1f, 0.2f};
    Mat4 m, inv;
    mat4_from_position_euler(&m, &c.pos, &ang);
    mat4_scale_rows(&m, &m, &c.scale);
    Mat4* r = mat4_invert(&inv, &m);
    EXPECT_EQ(r != nullptr, c.invertible) << c.what;
    if (!r) continue;
    // The inverse takes the far point back to the origin.
    Vec3 back;
    mat4_transform_point(&back, &inv, &c.pos);
    EXPECT_LT(vec3_length(&back), 1e-6f * vec3_length(&c.pos) / c.scale.x + 1e-4f) << c.what;
  }
  // A camera a million units out, looking along +z: its view matrix moves
  // the eye to the origin instead of becoming the identity.
  const Vec3 eye{1e6f, 0, 0}, target{1e6f, 0, 10};
  Mat4 cam, view;
  mat4_look_at(&cam, &eye, &target, nullptr, 0);
  ASSERT_NE(mat4_invert(&view, &cam), nullptr);
  EXPECT_NEAR(view.m[12], -1e6f, 1.0f);
}

TEST(MathMat4, InterpolateBlendsScaleAndKeepsScaledRotations) {
  Mat4 a = identity4(), b = identity4(), out;
  const Vec3 three{3, 3, 3};
  mat4_scale_rows(&b, &b, &three);
  mat4_interpolate(&out, &a, &b, 0.5f);
  Mat4 two = identity4();
  const Vec3 s2{2, 2, 2};
  mat4_scale_rows(&two, &two, &s2);
  expect_mat4_near(out, two, 1e-5f);

  // A scaled, turned matrix blended with itself is itself at every t.
  Mat4 m = rot_z4(kHalfPi);
  mat4_scale_rows(&m, &m, &s2);
  m.m[12] = 5.0f;
  for (float t : {0.25f, 0.5f, 0.75f}) {
    mat4_interpolate(&out, &m, &m, t);
    expect_mat4_near(out, m, 1e-5f);
  }
}

TEST(MathMat4, DecomposeReadsAnglesFromScaledRows) {
  Mat4 m;
  const Vec3 ang{0.3f, -0.4f, 0.2f}, pos{1, 2, 3}, s{2, 2, 2};
  mat4_from_position_euler(&m, &pos, &ang);
  mat4_scale_rows(&m, &m, &s);
  Vec3 p, a, sc;
  mat4_decompose_euler(&p, &a, &sc, &m);
  expect_vec3_near(a, ang, 1e-5f);
  expect_vec3_near(sc, s, 1e-5f);
  expect_vec3_near(p, pos, 0);
}

TEST(MathMat4, UpVectorFrameIsOrthonormalEvenWithEqualComponents) {
  const Vec3 ups[] = {{0, 1, 0}, {1, 1, 1}, {-2, -2, -2}, {0.3f, -0.5f, 0.8f}};
  for (const Vec3& up : ups) {
    Mat4 m, mt, prod;
    mat4_from_up_vector(&m, nullptr, &up);
    Vec3 n;
    vec3_normalize(&n, &up);
    expect_vec3_near(Vec3{m.m[4], m.m[5], m.m[6]}, n, 1e-6f);
    mat4_transpose(&mt, &m);
    mat4_multiply(&prod, &m, &mt);
    expect_mat4_near(prod, identity4(), 1e-5f);
  }
}

TEST(MathMat4, ReflectionMirrorsPointsAcrossThePlane) {
  const Plane pl{0, 2, 0, -4};  // y = 2
  Mat4 r;
  mat4_reflection(&r, &pl);
  const Vec3 p{1, 5, -3};
  Vec3 q;
  expect_vec3_near(*mat4_transform_point(&q, &r, &p), Vec3{1, -1, -3}, 1e-5f);
}

TEST(MathMat4, ObliqueClipMakesThePlaneTheNearPlane) {
  Mat4 proj, view = identity4(), out;
  mat4_perspective_off_center(&proj, -1, 1, -1, 1, 1, 100);
  const Plane clip{0, 0, 1, -10};  // keep z > 10
  mat4_oblique_clip_projection(&out, &proj, &view, &clip);
  Vec4 on{0.5f, 0.5f, 10, 1}, clip_out;
  vec4_transform(&clip_out, &out, &on);
  EXPECT_NEAR(clip_out.z / clip_out.w, 0.0f, 1e-4f);
  Vec4 behind{0, 0, 5, 1};
  vec4_transform(&clip_out, &out, &behind);
  EXPECT_LT(clip_out.z, 0.0f);
}

TEST(MathMat4, SmallOperations) {
  Mat4 m = identity4();
  m.m[12] = 2e-5f;
  EXPECT_EQ(mat4_differs_from_identity(&m, 1e-5f), 1);
  Mat4 r = rot_y4(0.7f), back;
  r.m[13] = 4.0f;
  mat4_remap_axes(&back, &r);
  mat4_unremap_axes(&back, &back);
  expect_mat4_near(back, r, 0);
  const Vec3 v{1, 0, 0};
  mat4_translate_local(&m, &r, &v);  // moves along the matrix's own x axis
  EXPECT_NEAR(m.m[12], r.m[12] + r.m[0], 1e-6f);
  Mat4 a = rot_x4(0.4f);
  const Vec3 pos{1, 2, 3}, ang{0.1f, 0.2f, 0.3f};
  Mat4 applied = a, expect;
  mat4_apply_position_euler(&applied, nullptr, &pos, &ang);
  Mat4 t, ypr = identity4();
  mat4_translation(&t, &pos);
  mat4_rotation_from_euler(&ypr, &ang);
  expect = then3(ypr, t, a);
  expect_mat4_near(applied, expect, 1e-5f);
  EXPECT_FLOAT_EQ(mat4_max_axis_scale(&r), 1.0f);
}

}  // namespace
