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

  // At either pole of each order the angle applied last is 0 and the matrix
  // is still rebuilt.
  for (const Order& o : orders) {
    for (float sign : {1.0f, -1.0f}) {
      SCOPED_TRACE(testing::Message() << o.name << " pole " << sign);
      Vec3 ang{0.4f, -0.7f, 1.1f};
      // The middle angle of each order at +-90 degrees.
      const char mid = o.name[1];
      (mid == 'x' ? ang.x : mid == 'y' ? ang.y : ang.z) = sign * kHalfPi;
      Mat4 pm = o.build(ang);
      for (float& e : pm.m)
        if (std::fabs(std::fabs(e) - 1.0f) < 1e-6f) e = e > 0 ? 1.0f : -1.0f;
      Vec3 back;
      o.fn(&back, &pm);
      const char last = o.name[2];
      EXPECT_EQ(last == 'x' ? back.x : last == 'y' ? back.y : back.z, 0.0f);
      expect_mat4_near(o.build(back), pm, 1e-5f);
    }
  }

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
  // Flipped, forward points away from the target and right turns with it.
  const Vec3 back_eye{0, 0, -5}, origin{0, 0, 0};
  Mat4 flipped;
  mat4_look_at(&flipped, &back_eye, &origin, nullptr, 1);
  expect_mat4_near(flipped, Mat4{{-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, -5, 1}}, 1e-6f);

  // Looking up and forward: the plain look-at tilts its up row, the keep-up
  // variant keeps it exact and levels forward instead.
  const float h = std::sqrt(0.5f);
  struct DirCase {
    const char* what;
    Mat4* (*fn)(Mat4*, const Vec3*, const Vec3*, const Vec3*, int);
    Vec3 dir, up;
    int flip;
    Mat4 expected;
  };
  const Vec3 at{1, 2, 3};
  const DirCase dir_cases[] = {
      {"plain", mat4_look_at_dir, {0, 1, 1}, {0, 1, 0}, 0, {{1, 0, 0, 0, 0, h, -h, 0, 0, h, h, 0, 1, 2, 3, 1}}},
      {"keep up", mat4_look_at_dir_keep_up, {0, 1, 1}, {0, 1, 0}, 0,
       {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}}},
      {"keep up, flipped", mat4_look_at_dir_keep_up, {0, 1, 1}, {0, 1, 0}, 1,
       {{-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 1, 2, 3, 1}}},
      {"keep up, tilted up", mat4_look_at_dir_keep_up, {0, 0, 1}, {1, 1, 0}, 0,
       {{h, -h, 0, 0, h, h, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}}},
      {"keep up, zero up is +y", mat4_look_at_dir_keep_up, {0, 1, 1}, {0, 0, 0}, 0,
       {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}}},
      {"keep up along the view", mat4_look_at_dir_keep_up, {0, 3, 0}, {0, 2, 0}, 0,
       {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}}},
  };
  for (const DirCase& c : dir_cases) {
    SCOPED_TRACE(c.what);
    Mat4 m;
    c.fn(&m, &at, &c.dir, &c.up, c.flip);
    expect_mat4_near(m, c.expected, 1e-6f);
  }
  // The target forms take the target less the eye, a null eye as the origin.
  const Vec3 ahead{1, 3, 4};
  Mat4 from_target, from_dir;
  mat4_look_at_keep_up(&from_target, &at, &ahead, nullptr, 0);
  expect_mat4_near(from_target, dir_cases[1].expected, 1e-6f);
  mat4_look_at(&from_target, nullptr, &ahead, nullptr, 0);
  mat4_look_at_dir(&from_dir, nullptr, &ahead, nullptr, 0);
  expect_mat4_near(from_target, from_dir, 0);
  EXPECT_EQ(from_target.m[12], 0.0f);
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

  // The off-centre window maps its edges to -1 and +1.
  ASSERT_NE(mat4_ortho_off_center(&p, -1, 3, -2, 6, 1, 11), nullptr);
  const Vec3 lo{-1, -2, 1}, hi{3, 6, 11};
  expect_vec3_near(*mat4_transform_point(&q, &p, &lo), Vec3{-1, -1, 0}, 1e-6f);
  expect_vec3_near(*mat4_transform_point(&q, &p, &hi), Vec3{1, 1, 1}, 1e-6f);
  ASSERT_NE(mat4_perspective_off_center(&p, -1, 3, -2, 6, 2, 10), nullptr);
  const Vec4 corner{-1, 6, 2, 1}, far_corner{15, -10, 10, 1};
  vec4_transform(&out, &p, &corner);
  EXPECT_NEAR(out.x / out.w, -1.0f, 1e-6f);
  EXPECT_NEAR(out.y / out.w, 1.0f, 1e-6f);
  EXPECT_NEAR(out.z / out.w, 0.0f, 1e-6f);
  vec4_transform(&out, &p, &far_corner);
  EXPECT_NEAR(out.x / out.w, 1.0f, 1e-6f);
  EXPECT_NEAR(out.y / out.w, -1.0f, 1e-6f);
  EXPECT_NEAR(out.z / out.w, 1.0f, 1e-6f);

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

  // Each row's scale, the turn and the translation blend apart.
  const Mat4 scale135{{1, 0, 0, 0, 0, 3, 0, 0, 0, 0, 5, 0, 0, 0, 0, 1}};
  Mat4 b2 = product(scale135, rot_z4(kHalfPi));
  b2.m[12] = 4;
  b2.m[13] = -2;
  b2.m[14] = 8;
  Mat4 a2 = identity4();
  a2.m[12] = 0;
  mat4_interpolate(&out, &a2, &b2, 0.5f);
  const Mat4 scale123{{1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 1}};
  Mat4 want = product(scale123, rot_z4(kHalfPi / 2));
  want.m[12] = 2;
  want.m[13] = -1;
  want.m[14] = 4;
  expect_mat4_near(out, want, 1e-5f);
  mat4_interpolate(&out, &a2, &b2, 1.0f);
  expect_mat4_near(out, b2, 0);
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

TEST(MathMat4, UpVectorFrameRows) {
  // Row 1 is up; row 0 is up x (up.z, up.x, up.y); row 2 is row 0 x row 1.
  const Vec3 z{0, 0, 3}, pos{1, 2, 3};
  Mat4 m;
  mat4_from_up_vector(&m, &pos, &z);
  expect_mat4_near(m, Mat4{{0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1, 2, 3, 1}}, 1e-6f);
  mat4_from_up_vector(&m, nullptr, nullptr);
  expect_mat4_near(m, identity4(), 1e-6f);
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

  // A turned, moved camera: the plane is taken through view, then projection.
  const Vec3 eye{2, 1, -8}, target{0, 0, 5};
  Mat4 cam, turned;
  mat4_look_at(&cam, &eye, &target, nullptr, 0);
  ASSERT_NE(mat4_invert(&turned, &cam), nullptr);
  const Plane wall{0, 0, 2, -4};  // z = 2, keep z > 2; normalised first
  mat4_oblique_clip_projection(&out, &proj, &turned, &wall);
  const Mat4 world_to_clip = product(turned, out);
  const struct {
    Vec4 p;
    int side;  // 0 on the plane, 1 kept, -1 clipped
  } probes[] = {{{0.3f, -0.2f, 2, 1}, 0}, {{-0.5f, 0.4f, 2, 1}, 0}, {{0, 0, 4, 1}, 1}, {{0.2f, 0.1f, 1, 1}, -1}};
  // A view without an inverse leaves the projection as it is.
  Mat4 flat_view = identity4();
  flat_view.m[5] = 0;
  mat4_oblique_clip_projection(&view, &proj, &flat_view, &wall);
  expect_mat4_near(view, proj, 0);
  for (const auto& pr : probes) {
    vec4_transform(&clip_out, &world_to_clip, &pr.p);
    ASSERT_GT(clip_out.w, 0.0f);
    if (pr.side == 0)
      EXPECT_NEAR(clip_out.z / clip_out.w, 0.0f, 1e-4f) << pr.p.x << "," << pr.p.y << "," << pr.p.z;
    else
      EXPECT_EQ(clip_out.z > 0.0f, pr.side > 0) << pr.p.x << "," << pr.p.y << "," << pr.p.z;
  }
}

TEST(MathMat4, SmallOperations) {
  Mat4 m = identity4();
  m.m[12] = 2e-5f;
  EXPECT_EQ(mat4_differs_from_identity(&m, 1e-5f), 1);
  EXPECT_EQ(mat4_differs_from_identity(&m, 2e-5f), 0);  // equal to the tolerance is not more
  Mat4 r = rot_y4(0.7f), back;
  r.m[13] = 4.0f;
  mat4_remap_axes(&back, &r);
  // Rows (row 2, -row 0, -row 1, row 3).
  const Mat4 l = lopsided4();
  mat4_remap_axes(&back, &l);
  expect_mat4_near(back, Mat4{{0.25f, -2, 1.5f, 0, -1, -2, -0.5f, 0, 1, -3, -2, 0, 4, -5, 6, 1}}, 0);
  mat4_unremap_axes(&back, &back);
  expect_mat4_near(back, l, 0);
  EXPECT_FLOAT_EQ(mat4_max_axis_scale(&r), 1.0f);
  mat4_transpose(&back, &l);
  expect_mat4_near(back, Mat4{{1, -1, 0.25f, 4, 2, 3, -2, -5, 0.5f, 2, 1.5f, 6, 0, 0, 0, 1}}, 0);
}

// Each local change applies before the matrix it changes: out = X x m, on a
// matrix whose rows all differ so that a change applied after it, or to its
// columns, shows.
TEST(MathMat4, LocalChangesApplyBeforeTheMatrix) {
  const Mat4 m = lopsided4();
  const Vec3 v{2, -1, 0.5f}, pos{1, 2, 3}, ang{0.3f, -0.6f, 0.9f}, s{2, 3, 0.5f}, axis{0, 0, 2};
  Mat4 t, ypr = identity4(), scale = identity4(), axis_rot = rot_z4(0.8f);
  mat4_translation(&t, &v);
  mat4_rotation_from_euler(&ypr, &ang);
  scale.m[0] = s.x;
  scale.m[5] = s.y;
  scale.m[10] = s.z;
  axis_rot.m[12] = pos.x;
  axis_rot.m[13] = pos.y;
  axis_rot.m[14] = pos.z;
  Mat4 tp;
  mat4_translation(&tp, &pos);
  struct Case {
    const char* what;
    Mat4 got;
    Mat4 expected;
  };
  Case cases[] = {
      {"translate", {}, product(t, m)},
      {"rotate x", {}, product(rot_x4(0.4f), m)},
      {"rotate y", {}, product(rot_y4(0.4f), m)},
      {"rotate z", {}, product(rot_z4(0.4f), m)},
      {"rotate euler", {}, product(ypr, m)},
      {"rotate about an axis through a point", {}, product(axis_rot, m)},
      {"scale rows", {}, product(scale, m)},
      {"position and euler", {}, then3(ypr, tp, m)},
  };
  mat4_translate_local(&cases[0].got, &m, &v);
  mat4_rotate_x_local(&cases[1].got, &m, 0.4f);
  mat4_rotate_y_local(&cases[2].got, &m, 0.4f);
  mat4_rotate_z_local(&cases[3].got, &m, 0.4f);
  mat4_rotate_euler_local(&cases[4].got, &m, &ang);
  mat4_rotate_axis_local(&cases[5].got, &m, &pos, &axis, 0.8f);
  mat4_scale_rows(&cases[6].got, &m, &s);
  cases[7].got = m;
  mat4_apply_position_euler(&cases[7].got, nullptr, &pos, &ang);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    expect_mat4_near(c.got, c.expected, 1e-5f);
  }
  // Each also works in place.
  Mat4 in_place = m;
  mat4_rotate_euler_local(&in_place, &in_place, &ang);
  expect_mat4_near(in_place, cases[4].expected, 1e-5f);

  // An axis is normalised; a null position leaves the origin in place.
  Mat4 rot;
  mat4_rotation_axis_angle(&rot, nullptr, &axis, 0.8f);
  expect_mat4_near(rot, rot_z4(0.8f), 1e-6f);

  // Rotation rows, copies and resets touch only what they name.
  Mat4 n;
  mat4_normalize_rows(&n, &m);
  const float l0 = std::sqrt(1 + 4 + 0.25f);
  EXPECT_FLOAT_EQ(n.m[0], 1 / l0);
  EXPECT_FLOAT_EQ(n.m[1], 2 / l0);
  EXPECT_FLOAT_EQ(n.m[6], 2 / std::sqrt(14.0f));
  EXPECT_EQ(n.m[12], 4.0f);
  Mat4 reset = m;
  mat4_reset_rotation(&reset);
  expect_mat4_near(reset, Mat4{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 4, -5, 6, 1}}, 0);
  Mat4 copy = reset;
  copy.m[3] = 9;
  mat4_copy_rotation(&copy, &m);
  expect_mat4_near(copy, Mat4{{1, 2, 0.5f, 9, -1, 3, 2, 0, 0.25f, -2, 1.5f, 0, 4, -5, 6, 1}}, 0);

  // Scales are the rows' lengths, not the columns'.
  Mat4 scaled = rot_x4(0.5f);
  mat4_scale_rows(&scaled, &scaled, &s);
  Vec3 sc;
  expect_vec3_near(*mat4_axis_scales(&sc, &scaled), s, 1e-6f);
  EXPECT_FLOAT_EQ(mat4_max_axis_scale(&scaled), 3.0f);
  Vec3 p, a;
  mat4_to_position_euler(&p, &a, &m);
  expect_vec3_near(p, Vec3{4, -5, 6}, 0);
}

TEST(MathMat4, EulerAfterMatrixAppliesTheMatrixFirst) {
  const Vec3 first{0.4f, 0.3f, -0.2f}, then{-0.3f, 1.0f, 0.5f};
  Mat4 m;
  mat4_from_position_euler(&m, nullptr, &first);
  Vec3 a;
  euler_after_matrix(&a, &m, &then);
  Mat4 got;
  mat4_from_position_euler(&got, nullptr, &a);
  expect_mat4_near(got, product(then3(rot_z4(first.z), rot_x4(first.x), rot_y4(first.y)),
                                then3(rot_z4(then.z), rot_x4(then.x), rot_y4(then.y))),
                   1e-5f);
}

TEST(MathMat4, TransformsOfPointsDirectionsAndVec4) {
  const Mat4 m = lopsided4();
  const Vec3 p[4] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}};
  // (p, 1) x m by hand.
  const Vec3 points[4] = {{5, -3, 6.5f}, {3, -2, 8}, {4.25f, -7, 7.5f}, {3.75f, -3, 15}};
  const Vec3 dirs[4] = {{1, 2, 0.5f}, {-1, 3, 2}, {0.25f, -2, 1.5f}, {-0.25f, 2, 9}};
  Vec3 o[4];
  mat4_transform_points4(&o[0], &o[1], &o[2], &o[3], &m, &p[0], &p[1], &p[2], &p[3]);
  for (int i = 0; i < 4; ++i) expect_vec3_near(o[i], points[i], 1e-6f);
  mat4_transform_directions4(&o[0], &o[1], &o[2], &o[3], &m, &p[0], &p[1], &p[2], &p[3]);
  for (int i = 0; i < 4; ++i) expect_vec3_near(o[i], dirs[i], 1e-6f);
  const Vec2 q[4] = {{1, 0}, {0, 1}, {0, 0}, {1, 2}};
  mat4_transform_vec2s4(&o[0], &o[1], &o[2], &o[3], &m, &q[0], &q[1], &q[2], &q[3]);
  expect_vec3_near(o[0], dirs[0], 1e-6f);
  expect_vec3_near(o[1], dirs[1], 1e-6f);
  expect_vec3_near(o[2], Vec3{0, 0, 0}, 0);
  expect_vec3_near(o[3], Vec3{-1, 8, 4.5f}, 1e-6f);
  // Outputs may be the inputs.
  Vec3 same[4] = {p[0], p[1], p[2], p[3]};
  mat4_transform_points4(&same[1], &same[0], &same[3], &same[2], &m, &same[0], &same[1], &same[2], &same[3]);
  expect_vec3_near(same[1], points[0], 1e-6f);
  expect_vec3_near(same[0], points[1], 1e-6f);
  const Vec4 v{1, 2, 3, 2};
  Vec4 w;
  vec4_transform(&w, &m, &v);
  EXPECT_FLOAT_EQ(w.x, 7.75f);
  EXPECT_FLOAT_EQ(w.y, -8);
  EXPECT_FLOAT_EQ(w.z, 21);
  EXPECT_FLOAT_EQ(w.w, 2);
  // w exactly 0 divides nothing.
  Mat4 flat = identity4();
  flat.m[15] = 0;
  const Vec3 pt{4, 6, 8};
  Vec3 pr;
  expect_vec3_near(*mat4_project_point(&pr, &flat, &pt), pt, 0);
}

TEST(MathMat4, ShadowsFlattenOntoThePlaneAlongTheLight) {
  struct Case {
    const char* what;
    Vec3 light;
    int directional;
    Vec3 point, expected;
  };
  const Plane floor{0, 2, 0, -2};  // y = 1
  const Case cases[] = {
      {"directional", {1, -1, 0}, 1, {0, 3, 0}, {2, 1, 0}},
      {"directional, slanted", {3, -4, 0}, 1, {1, 5, 2}, {4, 1, 2}},
      {"from a point", {0, 6, 0}, 0, {1, 3, 0}, {5.0f / 3.0f, 1, 0}},
      {"from a point, off axis", {2, 5, -1}, 0, {3, 3, 1}, {4, 1, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Mat4 m;
    mat4_shadow(&m, &c.light, &floor, c.directional);
    const Vec4 in{c.point.x, c.point.y, c.point.z, 1}, none{0, 0, 0, 0};
    Vec4 out = none;
    vec4_transform(&out, &m, &in);
    ASSERT_NE(out.w, 0.0f);
    expect_vec3_near(Vec3{out.x / out.w, out.y / out.w, out.z / out.w}, c.expected, 1e-5f);
  }
}

}  // namespace
