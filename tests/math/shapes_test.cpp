#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "math/geometry.h"
#include "math/quad2d.h"
#include "math/spline.h"
#include "math_test_util.h"

namespace {

Quad2D square(float size) { return Quad2D{{{0, 0}, {size, 0}, {0, size}, {size, size}}}; }

TEST(MathQuad2D, SquareCases) {
  const Quad2D q = square(10);
  struct PointCase {
    Vec2 p;
    int inside;
  };
  for (const PointCase& c : {PointCase{{10, 5}, 1}, PointCase{{10.001f, 5}, 0},
                             PointCase{{5, 5}, 1}, PointCase{{-0.5f, 5}, 0}}) {
    EXPECT_EQ(quad2d_contains_point(&q, &c.p), c.inside) << c.p.x << "," << c.p.y;
  }
  struct CircleCase {
    Vec2 c;
    int hit;
  };
  for (const CircleCase& c : {CircleCase{{5, 5}, 1}, CircleCase{{5, 20}, 0},
                              CircleCase{{-5, 5}, 0}, CircleCase{{5, 10.5f}, 1}}) {
    EXPECT_EQ(quad2d_overlaps_circle(&q, &c.c, 1.0f), c.hit) << c.c.x << "," << c.c.y;
  }
  const Vec2 a{-5, 5}, b1{-1, 5}, b2{0, 5};
  EXPECT_EQ(quad2d_overlaps_segment(&q, &a, &b1), 0);
  EXPECT_EQ(quad2d_overlaps_segment(&q, &a, &b2), 1);
  // Near the corner (0, 10) only the segment's own across axis separates.
  const Vec2 c0{-3, 8}, c1{2, 13}, k0{-3, 7}, k1{2, 12};
  EXPECT_EQ(quad2d_overlaps_segment(&q, &c0, &c1), 0);
  EXPECT_EQ(quad2d_overlaps_segment(&q, &k0, &k1), 1);
  // A diamond beside the square's corner: only the diamond's axes separate.
  const Quad2D diamond{{{12, 10}, {14, 12}, {10, 12}, {12, 14}}};
  const Quad2D diamond_in{{{10.5f, 8.5f}, {12.5f, 10.5f}, {8.5f, 10.5f}, {10.5f, 12.5f}}};
  EXPECT_EQ(quad2d_overlaps_quad(&q, &diamond), 0);
  EXPECT_EQ(quad2d_overlaps_quad(&diamond, &q), 0);
  EXPECT_EQ(quad2d_overlaps_quad(&q, &diamond_in), 1);
  const Quad2D beside{{{10, 0}, {20, 0}, {10, 10}, {20, 10}}};
  const Quad2D apart{{{10.5f, 0}, {20, 0}, {10.5f, 10}, {20, 10}}};
  EXPECT_EQ(quad2d_overlaps_quad(&q, &beside), 1);
  EXPECT_EQ(quad2d_overlaps_quad(&q, &apart), 0);
}

// A wide rectangle and circles away from its centre, so that each edge and
// its inward side are tried on their own.
TEST(MathQuad2D, CirclesAwayFromTheCentre) {
  const Quad2D q{{{0, 0}, {20, 0}, {0, 6}, {20, 6}}};
  struct Case {
    Vec2 c;
    float r;
    int hit;
  };
  const Case cases[] = {
      {{3, 2}, 1, 1},        // inside, every edge cleared
      {{3, 2}, 2.5f, 1},     // reaches the edge y = 0
      {{3, -2}, 1, 0},       // outside above
      {{3, -2}, 2.5f, 1},    // touches from above
      {{25, 3}, 4, 0},       // right of the rectangle
      {{25, 3}, 5.5f, 1},    // reaches the edge x = 20
      {{18.5f, 5}, 0.9f, 1}, // inside near a corner
      {{18.5f, 5}, 1.2f, 1}, // reaches the edge y = 6
      {{21, 7}, 1.2f, 0},    // beyond the corner diagonally
      {{21, 7}, 1.5f, 1},    // reaches the corner
      {{-0.5f, 3}, 0.4f, 0}, // just left, not touching
  };
  for (const Case& c : cases) EXPECT_EQ(quad2d_overlaps_circle(&q, &c.c, c.r), c.hit) << c.c.x << "," << c.c.y << " r " << c.r;

  // The segment test's three cases: nearest to a, to b, or inside.
  const Vec2 a{0, 0}, b{10, 0};
  struct SegCase {
    Vec2 c;
    float r;
    int hit;
  };
  for (const SegCase& c : {SegCase{{-3, 4}, 5, 1}, SegCase{{-3, 4}, 4.9f, 0}, SegCase{{13, 4}, 5, 1},
                           SegCase{{13, 4}, 4.9f, 0}, SegCase{{5, 4}, 4, 1}, SegCase{{5, 4}, 3.9f, 0}}) {
    EXPECT_EQ(circle_touches_segment(&c.c, c.r, &a, &b), c.hit) << c.c.x << "," << c.c.y << " r " << c.r;
  }
  EXPECT_EQ(circle_touches_segment(&a, 1, &a, &a), 0);  // a segment without length
  // Feet of perpendiculars.
  struct FootCase {
    Vec2 a, b, p, foot;
  };
  for (const FootCase& c : {FootCase{{2, 0}, {2, 5}, {7, 3}, {2, 3}}, FootCase{{0, 4}, {6, 4}, {1, -2}, {1, 4}},
                            FootCase{{0, 0}, {4, 2}, {1, 3}, {2, 1}}, FootCase{{3, 3}, {3, 3}, {7, 9}, {3, 9}}}) {
    Vec2 f;
    perpendicular_foot_2d(&f, &c.a, &c.b, &c.p);
    EXPECT_FLOAT_EQ(f.x, c.foot.x) << c.p.x << "," << c.p.y;
    EXPECT_FLOAT_EQ(f.y, c.foot.y) << c.p.x << "," << c.p.y;
  }
  // One axis of the separating test, with and without a margin.
  const Vec2 half{2, 1}, axes[2] = {{1, 0}, {0, 1}}, d{2.5f, 0};
  EXPECT_EQ(quad2d_axis_overlaps_point(&half, axes, &axes[0], &d, 0), 0);
  EXPECT_EQ(quad2d_axis_overlaps_point(&half, axes, &axes[0], &d, 0.5f), 1);
  const Vec2 half_b{0.5f, 3};
  EXPECT_EQ(quad2d_axis_overlaps(&half, &half_b, axes, axes, &axes[0], &d), 1);  // 2 + 0.5 reaches 2.5
  const Vec2 d2{2.6f, 0};
  EXPECT_EQ(quad2d_axis_overlaps(&half, &half_b, axes, axes, &axes[0], &d2), 0);
}

TEST(MathQuad2D, RotatedAndDegenerateQuads) {
  // A diamond: the square turned 45 degrees about (0, 0).
  const Quad2D d{{{0, -1}, {1, 0}, {-1, 0}, {0, 1}}};
  const Vec2 in{0.2f, 0.2f}, corner_gap{0.8f, 0.8f};
  EXPECT_EQ(quad2d_contains_point(&d, &in), 1);
  EXPECT_EQ(quad2d_contains_point(&d, &corner_gap), 0);

  // A zero-width quad is a segment, not a band across the screen.
  const Quad2D thin{{{0, 0}, {0, 0}, {0, 10}, {0, 10}}};
  const Vec2 far_right{50, 5}, on_it{0, 5};
  EXPECT_EQ(quad2d_contains_point(&thin, &far_right), 0);
  EXPECT_EQ(quad2d_contains_point(&thin, &on_it), 1);
  // A zero-size quad contains only its own point.
  const Quad2D dot{{{3, 3}, {3, 3}, {3, 3}, {3, 3}}};
  const Vec2 at{3, 3}, near_by{3, 4};
  EXPECT_EQ(quad2d_contains_point(&dot, &at), 1);
  EXPECT_EQ(quad2d_contains_point(&dot, &near_by), 0);
}

TEST(MathQuad2D, LinesAndSegments) {
  const Vec2 o{0, 0}, x{1, 0}, up{0, 1}, down{0, -1}, on{5, 0};
  EXPECT_EQ(vec2_side_of_line(&o, &x, &up), 0);
  EXPECT_EQ(vec2_side_of_line(&o, &x, &down), 2);
  EXPECT_EQ(vec2_side_of_line(&o, &x, &on), 1);
  Vec2 out;
  EXPECT_EQ(line2d_intersection(&out, &o, &x, &o, &up), 1);
  EXPECT_EQ(out.x, 0.0f);
  EXPECT_EQ(out.y, 0.0f);
  const Vec2 o2{0, 1}, x2{1, 1};
  EXPECT_EQ(line2d_intersection(&out, &o, &x, &o2, &x2), 0);
  EXPECT_EQ(out.x, o.x);
  const Vec2 a0{0, 0}, a1{2, 2}, b0{0, 2}, b1{2, 0};
  EXPECT_EQ(segment2d_intersection(&out, &a0, &a1, &b0, &b1), 1);
  EXPECT_FLOAT_EQ(out.x, 1.0f);
  const Vec2 c1{1, 1}, d0{2, 0}, d1{3, -1};
  EXPECT_EQ(segment2d_intersection(&out, &a0, &c1, &d0, &d1), 0);
  EXPECT_FLOAT_EQ(out.x, 1.0f);
  EXPECT_FLOAT_EQ(out.y, 1.0f);
  EXPECT_EQ(segments_intersect(&a0, &a1, &b0, &b1), 1);
  EXPECT_EQ(segments_cross(&a0, &c1, &d0, &d1), 0);
  EXPECT_EQ(segments_cross(&a0, &a1, &b0, &b1), 1);
  EXPECT_EQ(segments_straddle(&a0, &a1, &b0, &b1), 1);
  EXPECT_EQ(segments_straddle(&a0, &c1, &d0, &d1), 0);  // both ends right of a0 -> c1
  // c and d straddle the line a-b, but a and b do not straddle c-d.
  const Vec2 e0{0, 0}, e1{1, 0}, f0{5, -1}, f1{5, 1};
  EXPECT_EQ(segments_straddle(&e0, &e1, &f0, &f1), 1);
  EXPECT_EQ(segments_cross(&e0, &e1, &f0, &f1), 0);
  EXPECT_EQ(segments_intersect(&e0, &e1, &f0, &f1), 0);
  const Vec2 g1{5, 0};  // touching counts
  EXPECT_EQ(segments_intersect(&e0, &g1, &f0, &f1), 1);
  const Vec2 p{3, 4};
  EXPECT_FLOAT_EQ(vec2_distance_to_line(&o, &x, &p), 4.0f);
  EXPECT_EQ(vec2_distance_to_line(&o, &o, &p), 0.0f);
  // Lines that are not axes, and a vertical one against a slanted one.
  const Vec2 s0{0, 1}, s1{2, 5}, t0{0, 3}, t1{3, 0};
  EXPECT_EQ(line2d_intersection(&out, &s0, &s1, &t0, &t1), 1);
  EXPECT_FLOAT_EQ(out.x, 2.0f / 3.0f);
  EXPECT_FLOAT_EQ(out.y, 7.0f / 3.0f);
  const Vec2 v0{1, -5}, v1{1, 5};
  EXPECT_EQ(segment2d_intersection(&out, &v0, &v1, &s0, &s1), 1);
  EXPECT_FLOAT_EQ(out.x, 1.0f);
  EXPECT_FLOAT_EQ(out.y, 3.0f);
  EXPECT_EQ(segment2d_intersection(&out, &s0, &s1, &v0, &v1), 1);
  EXPECT_FLOAT_EQ(out.y, 3.0f);
  EXPECT_EQ(segment2d_intersection(&out, &v0, &v1, &v0, &v1), 0);  // both vertical
}

// A spline buffer with room for the header and `points` points.
struct SplineBuffer {
  alignas(4) unsigned char bytes[12 + 28 * 8];
  SplinePath* path() { return reinterpret_cast<SplinePath*>(bytes); }
};

TEST(MathSpline, CapacityAndRefusedBuffers) {
  SplineBuffer buf;
  struct Case {
    uint32_t size;
    int capacity;
  };
  for (const Case& c : {Case{12, 0}, Case{39, 0}, Case{40, 1}, Case{96, 3}, Case{11, 0}, Case{5, 0}, Case{0, 0}}) {
    EXPECT_EQ(spline_capacity(c.size), c.capacity) << c.size;
  }
  // Too small for the header: nothing is written at all.
  std::memset(buf.bytes, 0xAB, sizeof buf.bytes);
  EXPECT_EQ(spline_init(buf.bytes, 5), 0);
  EXPECT_EQ(buf.bytes[0], 0xAB);
  EXPECT_EQ(spline_capacity(1u << 30), 32767);

  ASSERT_EQ(spline_init(buf.bytes, 12), 0);
  const Vec3 p{1, 2, 3};
  EXPECT_EQ(spline_add_point(buf.path(), &p), nullptr);
  Vec3 out{9, 9, 9};
  expect_vec3_near(*spline_eval_fraction(&out, buf.path(), 0.5f), Vec3{0, 0, 0}, 0);
  // Room for one point takes one, through either way of adding, and no more.
  for (const bool given_length : {false, true}) {
    ASSERT_EQ(spline_init(buf.bytes, 40), 1);
    auto add = [&] {
      return given_length ? spline_add_point_length(buf.path(), &p, 2.0f) : spline_add_point(buf.path(), &p);
    };
    EXPECT_EQ(add(), buf.path()) << given_length;
    EXPECT_EQ(add(), nullptr) << given_length;
    EXPECT_EQ(buf.path()->count, 1);
  }
}

TEST(MathSpline, PathLengthsTangentsAndEvaluation) {
  SplineBuffer buf;
  ASSERT_EQ(spline_init(buf.bytes, 96), 3);
  SplinePath* path = buf.path();
  const Vec3 pts[] = {{0, 0, 0}, {3, 4, 0}, {3, 4, 12}};
  for (const Vec3& p : pts) ASSERT_NE(spline_add_point(path, &p), nullptr);
  EXPECT_FLOAT_EQ(spline_points(path)[0].length, 5.0f);
  EXPECT_FLOAT_EQ(spline_points(path)[1].length, 12.0f);
  EXPECT_FLOAT_EQ(spline_total_length(path), 17.0f);
  const Vec3 extra{9, 9, 9};
  EXPECT_EQ(spline_add_point(path, &extra), nullptr);
  EXPECT_EQ(path->count, 3);

  spline_build_tangents(path);
  Vec3 out;
  expect_vec3_near(*spline_eval_fraction(&out, path, 0.0f), pts[0], 1e-5f);
  expect_vec3_near(*spline_eval_fraction(&out, path, 1.0f), pts[2], 1e-5f);
  expect_vec3_near(*spline_eval_distance(&out, path, 5.0f), pts[1], 1e-5f);

  ASSERT_EQ(spline_init(buf.bytes, 96), 3);
  const Vec3 a{0, 0, 0}, b{10, 0, 0};
  spline_add_point(path, &a);
  spline_add_point(path, &b);
  spline_tangents_unit(path);
  expect_vec3_near(spline_points(path)[0].tangent, Vec3{1.5f, 0, 0}, 1e-6f);
  expect_vec3_near(spline_points(path)[1].tangent, Vec3{0.75f, 0, 0}, 1e-6f);

  const Vec3 t0{5, 5, 5}, t1{-7, 1, 2};
  expect_vec3_near(*hermite_eval(&out, &a, &t0, &b, &t1, 0.0f), a, 0);
  expect_vec3_near(*hermite_eval(&out, &a, &t0, &b, &t1, 1.0f), b, 1e-5f);
}

TEST(MathSpline, PositionsBeforeAndPastTheEndsFollowTheEndSegments) {
  // Straight along x, then a straight last segment along y: each segment is
  // linear in its distance, so a wrong segment or a clamped distance shows.
  SplineBuffer buf;
  SplinePath* path = buf.path();
  ASSERT_EQ(spline_init(buf.bytes, sizeof buf.bytes), 8);
  const Vec3 pts[] = {{0, 0, 0}, {5, 0, 0}, {15, 0, 0}, {15, 4, 0}};
  for (const Vec3& p : pts) ASSERT_NE(spline_add_point(path, &p), nullptr);
  ASSERT_FLOAT_EQ(spline_total_length(path), 19.0f);
  SplinePoint* sp = spline_points(path);
  sp[0].tangent = sp[1].tangent = Vec3{1, 0, 0};
  sp[2].tangent = sp[3].tangent = Vec3{0, 1, 0};
  struct Case {
    float d;
    Vec3 expect;
  };
  const Case cases[] = {
      {-2.0f, {-2, 0, 0}}, {0.0f, {0, 0, 0}},   {2.5f, {2.5f, 0, 0}}, {5.0f, {5, 0, 0}},
      {15.0f, {15, 0, 0}}, {17.0f, {15, 2, 0}}, {19.0f, {15, 4, 0}},  {21.0f, {15, 6, 0}},
  };
  Vec3 out;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.d);
    expect_vec3_near(*spline_eval_distance(&out, path, c.d), c.expect, 1e-4f);
  }
  expect_vec3_near(*spline_eval_fraction(&out, path, 1.25f), Vec3{15, 8.75f, 0}, 1e-4f);
  expect_vec3_near(*spline_eval_fraction(&out, path, -0.5f), Vec3{-9.5f, 0, 0}, 1e-4f);
}

TEST(MathSpline, ShortPathsAndRepeatedPointsStaySafe) {
  SplineBuffer buf;
  SplinePath* path = buf.path();
  ASSERT_EQ(spline_init(buf.bytes, sizeof buf.bytes), 8);
  const Vec3 a{1, 2, 3};
  spline_add_point(path, &a);
  const SplinePath before = *path;
  spline_build_tangents_c(path);  // one point: nothing to shape
  EXPECT_EQ(path->size, before.size);
  EXPECT_EQ(path->count, 1);
  Vec3 out;
  expect_vec3_near(*spline_eval_fraction(&out, path, 0.5f), a, 0);

  spline_add_point(path, &a);  // a repeated point: a segment of length 0
  const Vec3 b{4, 2, 3};
  spline_add_point(path, &b);
  spline_build_tangents_c(path);
  for (int i = 0; i < path->count; ++i) {
    EXPECT_TRUE(std::isfinite(spline_points(path)[i].tangent.x)) << i;
  }
  for (float u : {0.0f, 0.01f, 0.5f, 1.0f}) {
    spline_eval_fraction(&out, path, u);
    EXPECT_TRUE(std::isfinite(out.x)) << u;
  }
}

// Each estimate of the weighted pass reads the tangents as they were before
// it, and every tangent moves one point along.
TEST(MathSpline, WeightedPassUsesThePreviousTangents) {
  SplineBuffer buf;
  SplinePath* path = buf.path();
  ASSERT_EQ(spline_init(buf.bytes, sizeof buf.bytes), 8);
  const Vec3 pts[] = {{0, 0, 0}, {1, 0, 0}, {3, 0, 0}, {3, 2, 0}};  // lengths 1, 2, 2
  for (const Vec3& p : pts) ASSERT_NE(spline_add_point(path, &p), nullptr);
  SplinePoint* sp = spline_points(path);
  const Vec3 before[4] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {5, 5, 5}};
  for (int i = 0; i < 4; ++i) sp[i].tangent = before[i];
  spline_tangents_weighted(path);
  const Vec3 after[4] = {{1.5f, -0.5f, 0}, {1, 0, 0}, {1.5f, -0.5f, 0}, {0, 1.5f, -0.5f}};
  for (int i = 0; i < 4; ++i) expect_vec3_near(sp[i].tangent, after[i], 1e-6f);

  // The end conditions on their own.
  for (int i = 0; i < 4; ++i) sp[i].tangent = before[i];
  Vec3 e;
  expect_vec3_near(*spline_start_tangent(&e, sp, 1), Vec3{1.5f, 0, -0.5f}, 1e-6f);
  expect_vec3_near(*spline_end_tangent(&e, sp, 3), Vec3{0, 1.5f, -0.5f}, 1e-6f);

  // Stored lengths that differ from the chords scale the interior tangents
  // by 4ab / (a + b)^2: chords 3 and 4 over lengths 3 and 8.
  ASSERT_EQ(spline_init(buf.bytes, sizeof buf.bytes), 8);
  const Vec3 q0{0, 0, 0}, q1{3, 0, 0}, q2{3, 4, 0};
  spline_add_point_length(path, &q0, 99);  // a first point has no segment before it
  spline_add_point_length(path, &q1, 3);
  spline_add_point_length(path, &q2, 8);
  EXPECT_FLOAT_EQ(sp[0].length, 3.0f);
  EXPECT_FLOAT_EQ(spline_total_length(path), 11.0f);
  for (int i = 0; i < 3; ++i) sp[i].tangent = Vec3{1, 1, 1};
  spline_tangents_c(path);
  const float k = 4 * 1 * 0.5f / (1.5f * 1.5f);
  expect_vec3_near(sp[1].tangent, Vec3{k, k, k}, 1e-6f);
  expect_vec3_near(sp[0].tangent, Vec3{1, 1, 1}, 0);
  expect_vec3_near(sp[2].tangent, Vec3{1, 1, 1}, 0);
  for (int i = 0; i < 3; ++i) sp[i].tangent = Vec3{1, 1, 1};
  spline_halve_and_scale(path);
  expect_vec3_near(sp[0].tangent, Vec3{0.5f, 0.5f, 0.5f}, 0);
  expect_vec3_near(sp[1].tangent, Vec3{0.5f * k, 0.5f * k, 0.5f * k}, 1e-6f);
  expect_vec3_near(sp[2].tangent, Vec3{0.5f, 0.5f, 0.5f}, 0);
}

TEST(MathSpline, TableSpline) {
  const float xs[] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
  const float ys[] = {0, 2, 4, 6, 8, 10, 12, 14, 16};
  EXPECT_EQ(table_spline_eval(xs, ys, 9, 1.5f), 0.0f);  // more than eight samples
  EXPECT_EQ(table_spline_eval(xs, ys, 8, -1.0f), 0.0f);
  EXPECT_EQ(table_spline_eval(xs, ys, 8, 3.0f), 6.0f);
  EXPECT_NEAR(table_spline_eval(xs, ys, 8, 3.5f), 7.0f, 1e-5f);  // a line stays a line
  EXPECT_NEAR(table_spline_eval(xs, ys, 2, 0.25f), 0.5f, 1e-6f);
  const float dup_x[] = {0, 1, 1, 2};
  const float dup_y[] = {0, 1, 1, 3};
  const float v = table_spline_eval(dup_x, dup_y, 4, 1.5f);
  EXPECT_NEAR(v, 2.0f, 1e-6f);  // straight between the samples, never unset values
  // The second derivative is held flat at both ends, so a parabola comes
  // back exactly, on even and uneven spacings and at every sample count.
  const std::vector<std::vector<float>> spacings = {{0, 1, 2},
                                                    {1, 2, 4, 5},
                                                    {0, 0.5f, 2, 3, 4.5f},
                                                    {1, 2, 4, 5, 7, 8},
                                                    {0, 1, 2, 3, 4, 5, 6},
                                                    {-3, -2.5f, -1, 0, 0.25f, 2, 2.5f, 4}};
  auto parabola = [](float x) { return 3 * x * x - 2 * x + 1; };
  for (const std::vector<float>& px : spacings) {
    std::vector<float> py;
    for (float x : px) py.push_back(parabola(x));
    const int n = static_cast<int>(px.size());
    for (int k = 1; k < n; ++k) {
      const float x = (px[k - 1] + 2 * px[k]) / 3;  // off the middle, so a mirrored interval shows
      EXPECT_NEAR(table_spline_eval(px.data(), py.data(), n, x), parabola(x), 2e-4f * (1 + parabola(x)))
          << n << " samples, x " << x;
    }
  }
}

TEST(MathGeometry, DistancesAndClosestPoint) {
  const Vec3 a{0, 0, 0}, b{10, 0, 0}, p{5, 3, 4};
  EXPECT_FLOAT_EQ(point_line_distance_sq(&a, &b, &p), 25.0f);
  EXPECT_EQ(point_line_distance_sq(&a, &a, &p), 0.0f);
  const Vec3 q{15, 1, 0};
  Vec3 off, c;
  EXPECT_EQ(closest_point_on_line(&off, &c, &q, &a, &b), 0);
  expect_vec3_near(c, Vec3{15, 0, 0}, 1e-5f);
  expect_vec3_near(off, Vec3{0, 1, 0}, 1e-5f);
  // Coinciding line points give the point itself, not NaN.
  EXPECT_EQ(closest_point_on_line(&off, &c, &q, &a, &a), 1);
  expect_vec3_near(c, a, 0);
  const Vec3 between{4, -2, 1};
  EXPECT_EQ(closest_point_on_line(nullptr, &c, &between, &a, &b), 1);
  expect_vec3_near(c, Vec3{4, 0, 0}, 1e-6f);

  // A direction that is not of unit length; the zero direction.
  const Vec3 p2{3, 4, 0}, d{2, 0, 0}, zero{0, 0, 0};
  EXPECT_FLOAT_EQ(point_ray_distance_sq(&p2, &d, &a), 16.0f);
  EXPECT_EQ(point_ray_distance_sq(&p2, &zero, &a), 0.0f);
  const Vec3 above{0, 1, 0}, start{5, 0, 0};
  EXPECT_EQ(line_within_radius(&above, &d, &start, 1.0f), 1);
  EXPECT_EQ(line_within_radius(&above, &d, &start, 0.99f), 0);
  EXPECT_EQ(line_within_radius(&above, &zero, &start, 100.0f), 0);
  // Side on the x-z plane; height does not count.
  const Vec3 xa{0, 0, 0}, xb{1, 0, 0}, left{0, 5, 1}, right{0, -5, -1}, on{2, 9, 0};
  EXPECT_EQ(xz_side_of_line(&xa, &xb, &left), 0);
  EXPECT_EQ(xz_side_of_line(&xa, &xb, &right), 2);
  EXPECT_EQ(xz_side_of_line(&xa, &xb, &on), 1);
}

TEST(MathGeometry, SegmentAgainstSpheres) {
  const Vec3 a{0, 0, 0}, d{10, 0, 0}, c{5, 1, 0};
  EXPECT_EQ(segment_sphere_test(&a, &d, &c, 1.0f), 1);
  EXPECT_EQ(segment_sphere_test(&a, &d, &c, 0.99f), 0);
  const Vec3 start{-5, 0, 0}, origin{0, 0, 0};
  float t = 0;
  Vec3 pt, n;
  ASSERT_EQ(segment_sphere_hit(&start, &d, &origin, 1.0f, &t, &pt, &n), 1);
  EXPECT_FLOAT_EQ(t, 0.4f);
  expect_vec3_near(pt, Vec3{-1, 0, 0}, 1e-6f);
  expect_vec3_near(n, Vec3{-1, 0, 0}, 1e-6f);
  const Vec3 inside{0.5f, 0, 0};
  ASSERT_EQ(segment_sphere_hit(&inside, &d, &origin, 1.0f, &t, nullptr, nullptr), 1);
  EXPECT_LT(t, 0.0f);
  // Grazing: every output is written whenever the result is 1.
  const Vec3 graze{-5, 1, 0};
  t = -99;
  ASSERT_EQ(segment_sphere_hit(&graze, &d, &origin, 1.0f, &t, &pt, &n), 1);
  EXPECT_NEAR(t, 0.5f, 1e-3f);
  EXPECT_NEAR(pt.y, 1.0f, 1e-3f);
  // The segment's end (1.25 from the centre) and its start (also 1.25 away)
  // decide when the nearest point of the line lies beyond them.
  const Vec3 short_d{2, 0, 0}, past_end{3, 0.5f, 0}, before_start{-1, 0.5f, 0};
  EXPECT_EQ(segment_sphere_test(&origin, &short_d, &past_end, 1.12f), 1);
  EXPECT_EQ(segment_sphere_test(&origin, &short_d, &past_end, 1.1f), 0);
  EXPECT_EQ(segment_sphere_test(&origin, &short_d, &before_start, 1.12f), 1);
  EXPECT_EQ(segment_sphere_test(&origin, &short_d, &before_start, 1.1f), 0);
  t = -99;
  EXPECT_EQ(segment_sphere_hit(&origin, &short_d, &past_end, 1.1f, &t, &pt, &n), 0);
  EXPECT_EQ(t, -99.0f);  // nothing written on a miss
  const Vec3 c2{3, 0, 0};
  EXPECT_EQ(sphere_sphere_test(&origin, 1, &c2, 2), 1);
  EXPECT_EQ(sphere_sphere_test(&origin, 1, &c2, 1.9f), 0);
}

TEST(MathGeometry, SegmentAgainstBoxInEitherCornerOrder) {
  const Vec3 lo{0, 0, 0}, hi{1, 1, 1};
  struct Case {
    Vec3 a, d;
    int hit;
  };
  const Case cases[] = {
      {{-5, 0.5f, 0.5f}, {10, 0, 0}, 1},   // passes through, both ends outside
      {{0.5f, 0.5f, 0.5f}, {0, 0, 0}, 1},  // starts inside
      {{-5, 2, 0.5f}, {10, 0, 0}, 0},      // passes above
      {{0.5f, -3, 0.5f}, {0, 10, 0}, 1},   // through the y faces
      {{-1, -1, -1}, {0.5f, 0.5f, 0.5f}, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(segment_box_test(&c.a, &c.d, &lo, &hi), c.hit) << c.a.x << "," << c.a.y;
    EXPECT_EQ(segment_box_test(&c.a, &c.d, &hi, &lo), c.hit) << "max corner first";
  }
}

TEST(MathGeometry, SegmentAgainstTriangleFrontOnly) {
  const Vec3 tri[3] = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}};  // normal (0, 0, -1)
  const Vec3 a{0.2f, 0.2f, -1}, d{0, 0, 2};
  Vec3 pt, n;
  ASSERT_EQ(segment_triangle_hit(&pt, &n, tri, &a, &d), 1);
  expect_vec3_near(pt, Vec3{0.2f, 0.2f, 0}, 1e-6f);
  expect_vec3_near(n, Vec3{0, 0, -1}, 0);
  const Vec3 ra{0.2f, 0.2f, 1}, rd{0, 0, -2};
  EXPECT_EQ(segment_triangle_hit(&pt, &n, tri, &ra, &rd), 0);
  const Vec3 miss{0.8f, 0.8f, -1};
  EXPECT_EQ(segment_triangle_hit(nullptr, nullptr, tri, &miss, &d), 0);
  // The edge belongs to the triangle; a segment that stops short does not hit.
  const Vec3 edge{0.5f, 0.5f, -1}, short_d{0, 0, 0.9f};
  EXPECT_EQ(segment_triangle_hit(&pt, nullptr, tri, &edge, &d), 1);
  expect_vec3_near(pt, Vec3{0.5f, 0.5f, 0}, 1e-6f);
  EXPECT_EQ(segment_triangle_hit(nullptr, nullptr, tri, &a, &short_d), 0);
  // Running along the plane: the divisor is held at -1e-5, far beyond the end.
  const Vec3 along{1, 0, 0};
  EXPECT_EQ(segment_triangle_hit(nullptr, nullptr, tri, &a, &along), 0);
}

}  // namespace
