#include <gtest/gtest.h>

#include "math/plane.h"
#include "math_test_util.h"

namespace {

void expect_frustum(const Frustum& f, const Frustum& e, float tol) {
  EXPECT_NEAR(f.left, e.left, tol);
  EXPECT_NEAR(f.right, e.right, tol);
  EXPECT_NEAR(f.bottom, e.bottom, tol);
  EXPECT_NEAR(f.top, e.top, tol);
  EXPECT_EQ(f.near, e.near);
  EXPECT_EQ(f.far, e.far);
}

TEST(MathPlane, ConstructionAndProjection) {
  Plane p;
  const Vec3 pt{0, 5, 0}, n{0, 2, 0};
  plane_from_point_normal(&p, &pt, &n);
  EXPECT_EQ(p.b, 1.0f);
  EXPECT_EQ(p.d, -5.0f);
  const Vec3 a{0, 0, 0}, b{1, 0, 0}, c{1, 0, 1};
  plane_from_points(&p, &a, &b, &c);
  EXPECT_EQ(p.b, -1.0f);
  EXPECT_EQ(p.d, 0.0f);
  const Plane q{0, 2, 0, -10};
  const Vec3 x{3, 7, 3};
  Vec3 off, foot;
  plane_project_point(&off, &foot, &x, &q);
  expect_vec3_near(off, Vec3{0, 2, 0}, 1e-6f);
  expect_vec3_near(foot, Vec3{3, 5, 3}, 1e-6f);
  const Plane zero{0, 0, 0, 3};
  plane_normalize(&p, &zero);
  EXPECT_EQ(p.d, 0.0f);
  plane_project_point(nullptr, &foot, &x, &q);
  expect_vec3_near(foot, Vec3{3, 5, 3}, 1e-6f);

  // (b - a) x (c - b), not normalised, and the plane through it.
  const Vec3 ta{1, 1, 1}, tb{3, 1, 1}, tc{3, 4, 1};
  Vec3 tn;
  expect_vec3_near(*triangle_normal(&tn, &ta, &tb, &tc), Vec3{0, 0, 6}, 0);
  plane_from_points(&p, &ta, &tb, &tc);
  EXPECT_EQ(p.c, 1.0f);
  EXPECT_EQ(p.d, -1.0f);
  const Plane r{1, -2, 3, 4};
  const Vec3 v{2, 1, -1};
  EXPECT_EQ(plane_dot_point(&r, &v), 1.0f);
  EXPECT_EQ(plane_dot_normal(&r, &v), -3.0f);
  vec4_negate(&p, &r);
  EXPECT_EQ(p.a, -1.0f);
  EXPECT_EQ(p.b, 2.0f);
  EXPECT_EQ(p.c, -3.0f);
  EXPECT_EQ(p.d, -4.0f);
}

TEST(MathFrustum, FromFovClampsTheAngles) {
  Frustum f;
  frustum_from_fov(&f, kHalfPi, 2, 0.5f, 0.5f, 1, 100);
  expect_frustum(f, Frustum{-2, 2, -1, 1, 1, 100}, 1e-6f);
  frustum_from_fov(&f, 4.0f, 1, 0.5f, 0.5f, 1, 100);  // held at 179.9 degrees
  EXPECT_NEAR(f.top, std::tan(3.139847f / 2), 1e-2f);
  frustum_from_fov(&f, 0.0f, 1, 0.5f, 0.5f, 1, 100);
  EXPECT_GT(f.top, 0.0f);
  frustum_from_fov(&f, 1.0f, 1, 0.5f, 1.0f, 1, 100);
  EXPECT_EQ(f.bottom, 0.0f);
  EXPECT_EQ(frustum_from_fov(nullptr, 1, 1, 0.5f, 0.5f, 1, 2), nullptr);

  // A wide off-centre view would put a half-angle past 90 degrees, where the
  // tangent flips sign; the window must stay the right way round.
  frustum_from_fov(&f, 3.0f, 1, 0.9f, 0.8f, 1, 100);
  EXPECT_LT(f.left, 0.0f);
  EXPECT_GT(f.right, 0.0f);
  EXPECT_GT(f.top, 0.0f);
  EXPECT_LT(f.bottom, 0.0f);
  frustum_from_angles(&f, 2.0f, 2.0f, 3.0f, 0.5f, 1, 1, 10);
  EXPECT_GT(f.top, 0.0f);
  EXPECT_LT(f.left, 0.0f);
}

TEST(MathFrustum, OffCentreWindowsKeepEachSideApart) {
  // Every side differs, so a swapped side, fraction or aspect shows.
  struct Case {
    const char* what;
    Frustum got;
    Frustum expect;
  };
  Frustum a, b, c, d;
  frustum_from_fov(&a, 1.0f, 1.5f, 0.3f, 0.7f, 2, 80);
  frustum_from_angles(&b, 0.2f, 0.4f, 0.6f, 0.1f, 1.5f, 2, 80);
  Frustum base;
  frustum_from_fov(&base, 1.0f, 1.0f, 0.3f, 0.3f, 2, 80);
  frustum_rescale_angles(&c, &base, 1.5f, 1.0f, 1.0f, 0.5f, 0.0f, 0.0f);
  frustum_rescale(&d, &base, 1.0f, 1.0f, 5.0f, 90.0f);
  const Case cases[] = {
      {"fov, cx 0.3, cy 0.7", a,
       {-std::tan(0.3f) * 3, std::tan(0.7f) * 3, -std::tan(0.3f) * 2, std::tan(0.7f) * 2, 2, 80}},
      {"four angles", b,
       {-std::tan(0.6f) * 3, std::tan(0.1f) * 3, -std::tan(0.4f) * 2, std::tan(0.2f) * 2, 2, 80}},
      {"angles rescaled one by one", c,
       {-std::tan(0.3f) * 2, std::tan(0.35f) * 2, -std::tan(0.7f) * 2, std::tan(0.45f) * 2, 2, 80}},
      {"new near and far keep the angles", d,
       {-std::tan(0.3f) * 5, std::tan(0.7f) * 5, -std::tan(0.7f) * 5, std::tan(0.3f) * 5, 5, 90}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    expect_frustum(k.got, k.expect, 1e-4f);
  }
  // The fraction above the centre line comes back from an off-centre window.
  float fov, cy;
  frustum_to_fov(&fov, nullptr, nullptr, &cy, nullptr, nullptr, &a);
  EXPECT_NEAR(fov, 1.0f, 1e-5f);
  EXPECT_NEAR(cy, 0.7f, 1e-5f);
  // Near and far within 1e-5 of 0 keep the input's; just outside they are taken.
  frustum_rescale(&d, &base, 1.0f, 1.0f, 1e-5f, -1e-5f);
  EXPECT_EQ(d.near, 2.0f);
  EXPECT_EQ(d.far, 80.0f);
  frustum_rescale(&d, &base, 1.0f, 1.0f, 2e-5f, -2e-5f);
  EXPECT_EQ(d.near, 2e-5f);
  EXPECT_EQ(d.far, -2e-5f);
}

TEST(MathFrustum, PlanesOfAnOffCentreProjection) {
  // At view depth 10 the window spans x -10..30 and y -5..20.
  const Frustum f{-1, 3, -0.5f, 2, 1, 100};
  Mat4 proj;
  mat4_perspective_from_frustum(&proj, &f);
  Plane planes[kFrustumPlaneCount];
  frustum_planes_from_matrix(planes, &proj);
  struct Probe {
    Vec3 p;
    int outside;  // the one plane it lies behind, or -1
  };
  const Probe probes[] = {
      {{29.5f, 0, 10}, -1}, {{30.5f, 0, 10}, kFrustumRight}, {{-9.5f, 0, 10}, -1},
      {{-10.5f, 0, 10}, kFrustumLeft}, {{0, 19.5f, 10}, -1}, {{0, 20.5f, 10}, kFrustumTop},
      {{0, -4.5f, 10}, -1}, {{0, -5.5f, 10}, kFrustumBottom}, {{0.1f, 0.1f, 0.45f}, kFrustumNear},
      {{0.1f, 0.1f, 0.55f}, -1}, {{0.5f, 0.5f, 0.9f}, -1}, {{0, 0, 99}, -1}, {{0, 0, 101}, kFrustumFar},
  };
  for (const Probe& pr : probes) {
    for (int i = 0; i < kFrustumPlaneCount; ++i) {
      const float d = plane_dot_point(&planes[i], &pr.p);
      if (i == pr.outside)
        EXPECT_LT(d, 0.0f) << pr.p.x << "," << pr.p.y << "," << pr.p.z << " plane " << i;
      else
        EXPECT_GT(d, 0.0f) << pr.p.x << "," << pr.p.y << "," << pr.p.z << " plane " << i;
    }
  }
  // Sizes follow the whole window width, 4 at the near distance.
  EXPECT_FLOAT_EQ(lod_pixel_size(&f, 10, 1, 640), 16.0f);
  EXPECT_FLOAT_EQ(lod_size_for_pixels(&f, 10, 640, 32), 2.0f);
}

TEST(MathFrustum, ToFovInvertsFromFov) {
  Frustum f, g;
  frustum_from_fov(&f, 1.2f, 1.5f, 0.3f, 0.3f, 2, 50);
  float fov, aspect, cx, cy, n, fr;
  frustum_to_fov(&fov, &aspect, &cx, &cy, &n, &fr, &f);
  EXPECT_NEAR(fov, 1.2f, 1e-5f);
  EXPECT_NEAR(cy, 0.3f, 1e-5f);
  EXPECT_NEAR(cx, 0.3f, 1e-5f);
  EXPECT_NEAR(aspect, 1.5f, 1e-5f);
  frustum_rescale(&g, &f, 1.0f, 1.0f, 0.0f, 0.0f);
  expect_frustum(g, f, 1e-5f);
}

TEST(MathFrustum, PlanesOfARealViewProjection) {
  // Each plane of the identity is a column sum or difference, already unit.
  Mat4 ident = identity4();
  Plane planes[kFrustumPlaneCount];
  frustum_planes_from_matrix(planes, &ident);
  const Plane ident_planes[kFrustumPlaneCount] = {
      {0, 0, 1, 1}, {0, 0, -1, 1}, {-1, 0, 0, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}, {0, -1, 0, 1},
  };
  for (int i = 0; i < kFrustumPlaneCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(planes[i].a, ident_planes[i].a);
    EXPECT_EQ(planes[i].b, ident_planes[i].b);
    EXPECT_EQ(planes[i].c, ident_planes[i].c);
    EXPECT_EQ(planes[i].d, ident_planes[i].d);
  }

  // Camera at (0, 0, -10) looking at the origin; 90 degree square frustum,
  // near 1, far 100.
  const Vec3 eye{0, 0, -10}, target{0, 0, 0};
  Mat4 cam, view, proj, vp;
  mat4_look_at(&cam, &eye, &target, nullptr, 0);
  mat4_invert(&view, &cam);
  Frustum f;
  frustum_from_fov(&f, kHalfPi, 1, 0.5f, 0.5f, 1, 100);
  mat4_perspective_from_frustum(&proj, &f);
  mat4_multiply(&vp, &proj, &view);  // view, then projection
  frustum_planes_from_matrix(planes, &vp);

  struct Probe {
    const char* what;
    Vec3 p;
    int outside;  // the one plane it lies behind, or -1
  };
  // The near plane z >= -w lies at view depth n*f/(2f - n) = 100/199.
  const Probe probes[] = {
      {"centre", {0, 0, 0}, -1},
      {"beyond right edge", {10.5f, 0, 0}, kFrustumRight},
      {"beyond left edge", {-10.5f, 0, 0}, kFrustumLeft},
      {"above", {0, 10.5f, 0}, kFrustumTop},
      {"below", {0, -10.5f, 0}, kFrustumBottom},
      {"past far", {0, 0, 91}, kFrustumFar},
      {"just inside the near distance", {0, 0, -8.9f}, -1},
      {"view depth 0.75, before the near distance", {0, 0, -9.25f}, -1},
      {"view depth 0.55", {0, 0, -9.45f}, -1},
      {"view depth 0.45", {0, 0, -9.55f}, kFrustumNear},
  };
  for (const Probe& pr : probes) {
    for (int i = 0; i < kFrustumPlaneCount; ++i) {
      const float d = plane_dot_point(&planes[i], &pr.p);
      if (i == pr.outside)
        EXPECT_LT(d, 0.0f) << pr.what << " plane " << i;
      else
        EXPECT_GT(d, 0.0f) << pr.what << " plane " << i;
    }
  }
  const Vec3 on_near{0, 0, -10 + 100.0f / 199.0f};
  EXPECT_NEAR(plane_dot_point(&planes[kFrustumNear], &on_near), 0.0f, 1e-5f);

  // A turned camera with near 2 and far 6: the near plane lies at view depth
  // 2*6/(12 - 2) = 1.2, along the camera's own forward axis.
  const Vec3 eye2{3, 1, -2}, target2{-1, 2, 5};
  const Vec3 rolled_up{0.6f, 1, 0.2f};  // the camera rolls: its x axis leaves the ground plane
  mat4_look_at(&cam, &eye2, &target2, &rolled_up, 0);
  mat4_invert(&view, &cam);
  frustum_from_fov(&f, 1.0f, 1.3f, 0.5f, 0.5f, 2, 6);
  mat4_perspective_from_frustum(&proj, &f);
  mat4_multiply(&vp, &proj, &view);
  frustum_planes_from_matrix(planes, &vp);
  const Vec3 forward{cam.m[8], cam.m[9], cam.m[10]};
  struct DepthProbe {
    float depth;
    bool inside;
  };
  for (const DepthProbe& dp : {DepthProbe{-1.0f, false}, DepthProbe{0.5f, false}, DepthProbe{1.15f, false},
                               DepthProbe{1.25f, true}, DepthProbe{2.5f, true}, DepthProbe{5.9f, true},
                               DepthProbe{6.1f, false}}) {
    Vec3 p;
    vec3_madd(&p, &eye2, &forward, dp.depth);
    bool inside = true;
    for (const Plane& pl : planes) inside = inside && plane_dot_point(&pl, &p) > 0.0f;
    EXPECT_EQ(inside, dp.inside) << "view depth " << dp.depth;
  }
  // Off the axis at view depth 3, each side edge lies at the frustum's own
  // edge scaled from the near distance: 3% short of it is inside, 3% past it
  // out, with the other offset halfway to its edge.
  const Vec3 across{cam.m[0], cam.m[1], cam.m[2]}, up{cam.m[4], cam.m[5], cam.m[6]};
  const float k = 3.0f / f.near;
  struct SideProbe {
    float x, y;   // offsets at the near distance
    bool x_edge;  // x is on the right or left edge (else y on the top or bottom)
  };
  for (const SideProbe& sp : {SideProbe{f.right, 0.5f * f.top, true}, SideProbe{f.left, 0.5f * f.bottom, true},
                              SideProbe{0.5f * f.left, f.top, false}, SideProbe{0.5f * f.right, f.bottom, false}}) {
    for (const float scale : {0.97f, 1.03f}) {
      Vec3 p;
      vec3_madd(&p, &eye2, &forward, 3.0f);
      vec3_madd(&p, &p, &across, k * sp.x * (sp.x_edge ? scale : 1.0f));
      vec3_madd(&p, &p, &up, k * sp.y * (sp.x_edge ? 1.0f : scale));
      bool inside = true;
      for (const Plane& pl : planes) inside = inside && plane_dot_point(&pl, &p) > 0.0f;
      EXPECT_EQ(inside, scale < 1.0f) << "edge " << sp.x << ", " << sp.y << " scaled " << scale;
    }
  }

  // A plane with no normal holds every point rather than giving infinities.
  Mat4 flat = identity4();
  flat.m[0] = 0;
  flat.m[3] = 0;
  flat.m[4] = 0;
  frustum_planes_from_matrix(planes, &flat);
  for (const Plane& p : planes) EXPECT_TRUE(std::isfinite(p.d));
  EXPECT_EQ(planes[kFrustumRight].d, 1.0f);
}

TEST(MathFrustum, LevelOfDetailSizes) {
  const Frustum f{-1, 1, -1, 1, 1, 100};
  EXPECT_FLOAT_EQ(lod_pixel_size(&f, 10, 1, 640), 32.0f);
  EXPECT_FLOAT_EQ(lod_world_size(&f, 10, 1, 640, 16), 1.0f);
  EXPECT_FLOAT_EQ(lod_world_size(&f, 10, 1, 640, 64), 2.0f);
  const Mat4 view = identity4();
  const Vec3 p{0, 0, 10};
  EXPECT_FLOAT_EQ(projected_size_at_point(&f, &view, &p, 1, 640, 64), 2.0f);
}

}  // namespace
