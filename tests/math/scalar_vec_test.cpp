#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "math/color.h"
#include "math/sine.h"
#include "math/text.h"
#include "math/vec.h"
#include "math_test_util.h"
#include "platform/sys/sys.h"

namespace {

TEST(MathScalar, ClampAndTransitionFactor) {
  EXPECT_EQ(clamp(5.0f, 0.0f, 1.0f), 1.0f);
  EXPECT_EQ(clamp(-1.0f, 0.0f, 1.0f), 0.0f);
  EXPECT_EQ(clamp(0.5f, 0.0f, 1.0f), 0.5f);
  EXPECT_TRUE(std::isnan(clamp(std::nanf(""), 0.0f, 1.0f)));
  // The exact roots the names promise.
  EXPECT_EQ(fast_sqrt(6.25f), 2.5f);
  EXPECT_EQ(fast_rsqrt(4.0f), 0.5f);
  EXPECT_EQ(inv_lerp(3.0f, 2.0f, 2.0f), 0.0f);

  struct Case {
    uint32_t now, start, end;
    float expected;
  };
  const Case cases[] = {
      {50, 10, 10, 0.0f},                  // start == end
      {5, 10, 20, 0.0f},                   // before the start
      {30, 10, 20, 1.0f},                  // past the end
      {15, 10, 20, 0.5f},
      {0, 0xFFFFFFF0u, 16, 0.5f},          // stamps wrap
  };
  for (const Case& c : cases) {
    EXPECT_FLOAT_EQ(view_transition_factor(c.now, c.start, c.end), c.expected)
        << c.now << " " << c.start << " " << c.end;
  }
}

TEST(MathScalar, RandomRangeStaysBelowHigh) {
  sys_rand_reset();
  float hi = 0.0f;
  for (int i = 0; i < 20000; ++i) {
    const float v = view_random_range(0.0f, 1.0f);
    ASSERT_GE(v, 0.0f);
    ASSERT_LT(v, 1.0f);
    hi = v > hi ? v : hi;
  }
  EXPECT_LE(hi, 0.9999f);
  // lo + (rand() mod 10000) * (hi - lo) / 10000 with the runtime's first
  // draws 41 and 18467.
  sys_rand_reset();
  EXPECT_FLOAT_EQ(view_random_range(2.0f, 4.0f), 2.0082f);
  EXPECT_FLOAT_EQ(view_random_range(-1.0f, 2.0f), 1.5401f);
  sys_rand_reset();
}

TEST(MathScalar, IndexOfMaxMinFirstWinsAndEmptyIsSafe) {
  const float f[] = {3, 7, 7, 1, 1};
  int mx = -1, mn = -1;
  index_of_max_min_f32(f, 5, &mx, &mn);
  EXPECT_EQ(mx, 1);
  EXPECT_EQ(mn, 3);
  const int32_t i[] = {-2, 5, -9, 5, -9};
  index_of_max_min_i32(i, 5, &mx, nullptr);
  EXPECT_EQ(mx, 1);
  index_of_max_min_i32(i, 5, nullptr, &mn);
  EXPECT_EQ(mn, 2);
  const int32_t falling[] = {9, 4, 1};
  index_of_max_min_i32(falling, 3, &mx, &mn);
  EXPECT_EQ(mx, 0);
  EXPECT_EQ(mn, 2);
  mx = mn = 42;
  index_of_max_min_f32(f, 0, &mx, &mn);  // nothing to read
  EXPECT_EQ(mx, 42);
  EXPECT_EQ(mn, 42);
}

TEST(MathVec, LengthFloorNormalizeAndSafeDivide) {
  Vec3 v{1e-6f, 0, 0}, out;
  EXPECT_EQ(vec3_length_sq(&v), 0.0f);
  EXPECT_EQ(vec3_length(&v), 0.0f);
  vec3_normalize(&out, &v);  // tiny but non-zero: still divided
  EXPECT_FLOAT_EQ(out.x, 1.0f);
  v = Vec3{0, 0, 0};
  expect_vec3_near(*vec3_normalize(&out, &v), Vec3{0, 0, 0}, 0);
  v = Vec3{3, 0, 4};
  expect_vec3_near(*vec3_normalize(&v, &v), Vec3{0.6f, 0, 0.8f}, 1e-7f);

  const Vec3 one{1, 1, 1};
  vec3_div_safe(&out, &one, 0.0f);
  EXPECT_FLOAT_EQ(out.x, 1e5f);
  vec3_div_safe(&out, &one, -1e-7f);
  EXPECT_FLOAT_EQ(out.x, -1e5f);

  Vec2 z{0, 0}, w;
  vec2_normalize(&w, &z);
  EXPECT_EQ(w.x, 0.0f);
  EXPECT_EQ(vec2_length(&z), 0.0f);
  EXPECT_EQ(vec3_direction_between(&out, nullptr, &one), nullptr);
  const Vec3 from{1, 1, 1}, to{1, 1, 4};
  expect_vec3_near(*vec3_direction_between(&out, &from, &to), Vec3{0, 0, 1}, 0);
  EXPECT_FLOAT_EQ(inv_lerp(3.0f, 2.0f, 6.0f), 0.25f);
  EXPECT_FLOAT_EQ(lerp(2.0f, 6.0f, 0.25f), 3.0f);
  const Vec2 tiny{1e-6f, 0}, far{3, 4};
  EXPECT_EQ(vec2_length_sq(&tiny), 0.0f);
  EXPECT_EQ(vec2_distance(&tiny, &z), 0.0f);
  EXPECT_FLOAT_EQ(vec2_distance(&far, &z), 5.0f);
  EXPECT_FLOAT_EQ(vec2_distance_sq(&tiny, &z), 1e-12f);  // no floor
}

TEST(MathVec, CrossAllowsAliasedOutput) {
  Vec3 a{1, 2, 3};
  const Vec3 b{4, 5, 6};
  vec3_cross(&a, &a, &b);
  expect_vec3_near(a, Vec3{-3, 6, -3}, 0);
}

TEST(MathVec, AnglesFollowTheYawAndPitchConventions) {
  Vec3 a;
  const Vec3 down{0, -1, 0};
  vec3_to_angles(&a, &down);
  EXPECT_FLOAT_EQ(a.x, kHalfPi);  // positive pitch looks down
  const Vec3 right{1, 0, 0};
  vec3_to_angles(&a, &right);
  EXPECT_FLOAT_EQ(a.y, kHalfPi);  // positive yaw turns toward +x
  const Vec3 origin{0, 0, 0}, below{0, -3, 0};
  expect_vec3_near(*vec3_angles_between(&a, &origin, &below), Vec3{0, 0, 0}, 0);

  // From a to b: looking up is a negative pitch here too.
  const Vec3 from{1, 1, 1}, up_right{2, 2, 1};
  expect_vec3_near(*vec3_angles_between(&a, &from, &up_right), Vec3{-kPi / 4, kHalfPi, 0}, 1e-6f);
  EXPECT_EQ(vec3_angles_between(&a, &from, nullptr), nullptr);
  expect_vec3_near(*vec3_from_angles(&a, nullptr), Vec3{0, 0, 0}, 0);
  // An upside-down up vector turns the angles over.
  const Vec3 fwd{0, 0, 1}, ahead_down{0, -1, 1}, down_up{0, -1, 0}, up{0, 1, 0};
  expect_vec3_near(*vec3_to_angles_up(&a, &fwd, &down_up), Vec3{kPi, kPi, 0}, 1e-6f);
  expect_vec3_near(*vec3_to_angles_up(&a, &ahead_down, &down_up), Vec3{kPi - kPi / 4, kPi, 0}, 1e-6f);
  expect_vec3_near(*vec3_to_angles_up(&a, &ahead_down, &up), Vec3{kPi / 4, 0, 0}, 1e-6f);
  const Vec3 slightly_down{0.3f, -0.2f, 0.9f}, level{1, 0, 0};
  expect_vec3_near(*vec3_to_angles_up(&a, &ahead_down, &slightly_down), Vec3{kPi - kPi / 4, kPi, 0}, 1e-6f);
  expect_vec3_near(*vec3_to_angles_up(&a, &ahead_down, &level), Vec3{kPi / 4, 0, 0}, 1e-6f);

  TestRng rng(7);
  for (int i = 0; i < 200; ++i) {
    Vec3 d = rng.vec(-1, 1), n, ang, back;
    if (vec3_length_sq(&d) < 1e-2f) continue;
    vec3_normalize(&n, &d);
    vec3_to_angles(&ang, &n);
    vec3_from_angles(&back, &ang);
    expect_vec3_near(back, n, 1e-5f);
  }
}

// Orbits and offsets use the opposite pitch sign of vec3_to_angles: positive
// pitch looks up.
TEST(MathVec, OrbitsCirclesAndConesPlacePointsByAngle) {
  struct Case {
    const char* what;
    Vec3 got;
    Vec3 expected;
  };
  const Vec3 tilted{0, 3 * std::sin(0.2f), 3 * std::cos(0.2f)}, x{1, 0, 0}, up{0, 1, 0};
  const Vec3 centre{1, 2, 3}, x_axis{2, 0, 0}, slanted{0, 1, 1};
  Case cases[] = {
      {"orbit: pitch 0.2 + 0.3 up, yaw 0.4, length 2", {}, {0.6834935f, 0.9588511f, 1.6166141f}},
      {"orbit: from +x, 0.3 down, length 3", {}, {2.8660095f, -0.8865606f, 0}},
      {"orbit: from straight up", {}, {0.0952472f, 0.8775826f, 0.4698689f}},
      {"offset by angles", {}, {1.6834935f, 2.9588511f, 4.6166141f}},
      {"circle about a vertical axis", {}, {1.5910404f, 2, 4.9106730f}},
      {"circle about x", {}, {1, 2.5910404f, 1.0893270f}},
      {"circle about a slanted axis", {}, {2.9106730f, 2.4179287f, 2.5820713f}},
      {"cone about y", {}, {0.2833599f, 1.9106730f, 0.5186868f}},
      {"cone about x", {}, {1.9106730f, 0.5186868f, 0.2833599f}},
  };
  vec3_orbit(&cases[0].got, &tilted, 0.3f, 0.4f, 2);
  vec3_orbit(&cases[1].got, &x, -0.3f, 0, 3);
  vec3_orbit(&cases[2].got, &up, -0.5f, 0.2f, 1);
  vec3_offset_by_angles(&cases[3].got, &centre, 0.5f, 0.4f, 2);
  vec3_circle_point(&cases[4].got, &centre, &up, 0.3f, 2);
  vec3_circle_point(&cases[5].got, &centre, &x_axis, 0.3f, 2);
  vec3_circle_point(&cases[6].got, &centre, &slanted, 0.3f, 2);
  vec3_cone_point(&cases[7].got, &up, 0.3f, 0.5f, 2);
  vec3_cone_point(&cases[8].got, &x, 0.3f, 0.5f, 2);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    expect_vec3_near(c.got, c.expected, 2e-6f);
  }
  // A circle point lies at the radius from the centre, across the axis.
  for (float angle : {0.0f, 1.0f, 2.5f, -2.0f}) {
    Vec3 p, rel;
    vec3_circle_point(&p, &centre, &slanted, angle, 2);
    vec3_sub(&rel, &p, &centre);
    EXPECT_NEAR(vec3_length(&rel), 2.0f, 1e-5f) << angle;
    EXPECT_NEAR(vec3_dot(&rel, &slanted), 0.0f, 1e-5f) << angle;
  }
  // An axis within 1e-4 of straight up in x and z counts as straight up.
  for (const Vec3& nearly_up : {Vec3{0, 1, 9e-5f}, Vec3{9e-5f, 1, 0}, Vec3{-9e-5f, 1, -9e-5f}}) {
    Vec3 p;
    vec3_circle_point(&p, &centre, &nearly_up, 0.3f, 2);
    expect_vec3_near(p, cases[4].expected, 2e-6f);
  }
  Vec3 untouched{7, 7, 7};
  EXPECT_EQ(vec3_orbit(&untouched, nullptr, 1, 1, 1), &untouched);
  EXPECT_EQ(vec3_offset_by_angles(&untouched, nullptr, 1, 1, 1), &untouched);
  EXPECT_EQ(vec3_circle_point(&untouched, &centre, nullptr, 1, 1), &untouched);
  expect_vec3_near(untouched, Vec3{7, 7, 7}, 0);
}

TEST(MathVec, HermiteClampsItsParameter) {
  const Vec3 p0{0, 0, 0}, p1{1, 0, 0}, t0{0, 4, 0}, t1{0, 0, 8};
  Vec3 out;
  expect_vec3_near(*vec3_hermite(&out, &p0, &t0, &p1, &t1, 0.5f), Vec3{0.5f, 0.5f, -1}, 1e-6f);
  expect_vec3_near(*vec3_hermite(&out, &p0, &t0, &p1, &t1, 2.0f), p1, 0);
  expect_vec3_near(*vec3_hermite(&out, &p0, &t0, &p1, &t1, -1.0f), p0, 0);
}

TEST(MathVec, SlerpHandlesParallelAndOppositeDirections) {
  const Vec3 a{2, 0, 0}, b{4, 0, 0}, c{0, 0, -4};
  Vec3 out;
  // Parallel inputs keep the common direction, lengths blend linearly.
  expect_vec3_near(*vec3_slerp(&out, &a, &b, 0.5f), Vec3{3, 0, 0}, 1e-5f);
  // Half-way between +x and -x lies on some perpendicular, at the blended length.
  const Vec3 opposite{-2, 0, 0};
  vec3_slerp(&out, &a, &opposite, 0.5f);
  EXPECT_NEAR(vec3_length(&out), 2.0f, 1e-5f);
  EXPECT_NEAR(out.x, 0.0f, 1e-5f);
  // A quarter turn half-way is 45 degrees; a quarter of the way, 22.5 degrees
  // from a at a quarter of the way from a's length to b's.
  vec3_slerp(&out, &a, &c, 0.5f);
  EXPECT_NEAR(out.x, 3.0f * std::sqrt(0.5f), 1e-5f);
  EXPECT_NEAR(out.z, -3.0f * std::sqrt(0.5f), 1e-5f);
  expect_vec3_near(*vec3_slerp(&out, &a, &c, 0.25f), Vec3{2.3096988f, 0, -0.9567086f}, 1e-5f);
  const Vec3 zero{0, 0, 0};
  expect_vec3_near(*vec3_slerp(&out, &zero, &c, 0.25f), Vec3{0, 0, -1}, 0);
  expect_vec3_near(*vec3_slerp(&out, &a, &zero, 0.25f), Vec3{1.5f, 0, 0}, 0);
  for (float t : {0.0f, 0.3f, 1.0f}) {
    vec3_slerp(&out, &a, &a, t);
    EXPECT_FALSE(std::isnan(out.x));
    EXPECT_NEAR(out.x, 2.0f, 1e-6f);
  }
}

TEST(MathColor, ConversionsClampTruncateAndRejectNaN) {
  float f[4];
  argb_to_float4(f, 0x80FF0000u);
  EXPECT_FLOAT_EQ(f[0], 1.0f);
  EXPECT_FLOAT_EQ(f[1], 0.0f);
  EXPECT_FLOAT_EQ(f[2], 0.0f);
  EXPECT_NEAR(f[3], 0.50196f, 1e-5f);
  EXPECT_EQ(float4_to_argb(1.5f, -0.2f, 0.5f, 1.0f), 0xFFFF007Fu);
  EXPECT_EQ(float4_to_argb(std::nanf(""), 1, 1, 1), 0xFF00FFFFu);
  EXPECT_EQ(argb_lerp(0xFF000000u, 0xFFFFFFFFu, 2.0f), 0xFFFFFFFFu);
  EXPECT_EQ(argb_lerp(0xFF000000u, 0x00FFFFFFu, 0.25f), 0xBF3F3F3Fu);  // from c0 at t 0
  EXPECT_EQ(argb_lerp(0xFF000000u, 0x00FFFFFFu, -1.0f), 0xFF000000u);
  EXPECT_FLOAT_EQ(argb_green_unit(0x00003300u), 0.2f);
  EXPECT_FLOAT_EQ(argb_blue_unit(0x00000033u), 0.2f);
  EXPECT_EQ(argb_red(0x12345678u), 0x34u);
  EXPECT_EQ(argb_pack(1, 2, 3, 4), 0x04010203u);
  EXPECT_EQ(argb_alpha(0x04010203u), 4u);
}

TEST(MathText, CaseBlindCompareAndHash) {
  EXPECT_EQ(str_icmp("ABC", "abc"), 0);
  EXPECT_EQ(str_icmp("Abc", "abd"), -1);
  // Ordered by the lower-cased bytes, consistent with equality.
  EXPECT_LT(str_icmp("a", "B"), 0);
  EXPECT_GT(str_icmp("b", "A"), 0);
  EXPECT_EQ(str_icmp("abc", "ab"), 'c');
  EXPECT_EQ(str_icmp("", "A"), -'a');
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_STREQ(str_lower_copy(buf, "AbC"), "abc");
  EXPECT_EQ(buf[3], '\0');
  const char* hay = "tex_MAP.png";
  EXPECT_EQ(str_find(hay, "MAP"), hay + 4);
  EXPECT_EQ(str_find(hay, "map"), nullptr);
  EXPECT_EQ(hash_name_nocase("abc"), 0x00021471u);
  EXPECT_EQ(hash_name_nocase("ABC"), 0x00021471u);
  EXPECT_EQ(hash_name_nocase(""), 0u);
  EXPECT_EQ(hash_name_nocase(nullptr), 0u) << "no name hashes like the empty one";
  // No length limit.
  std::string long_name(1000, 'Q');
  EXPECT_EQ(hash_name_nocase(long_name.c_str()), hash_name_nocase(std::string(1000, 'q').c_str()));
}

TEST(MathSine, TableValuesAndWrapping) {
  struct Case {
    float (*fn)(float);
    float angle;
    float expected;
  };
  const Case cases[] = {
      {fast_sin_deg, 90.0f, 1.0f},             // index 16383
      {fast_sin_deg, 30.0f, 0.49997234f},      // index 5461
      {fast_cos_deg, 0.0f, 1.0f},
      {fast_sin_deg, -1.0f, -0.017448319f},    // truncates to -182, wraps to 65354
      {fast_sin_deg, 360.0f, -9.566942e-5f},   // index 65535, not 0
      {fast_sin_deg, 180.0f, 9.5756848e-5f},
      {fast_sin, kPi, 9.5756848e-5f},
      {fast_cos, kPi, -1.0f},
      // Where the scale of 65535 steps a turn and the quarter-turn offset
      // reach another index than 65536 steps or another offset would.
      {fast_sin_deg, 45.0f, 0.707038999f},     // index 8191
      {fast_cos_deg, 60.0f, 0.500055373f},     // 10922.5 + 16384: index 27306
      {fast_cos_deg, -30.0f, 0.86599344f},     // index 10922
      {fast_sin_deg, 720.5f, 0.00853266474f},  // index 131161 wraps to 89
      {fast_cos, 1.0f, 0.540332854f},          // index 26814
      {fast_sin, 0.5f, 0.479409605f},          // index 5215
      {fast_sin, -0.5f, -0.479409486f},        // truncates to -5215, wraps to 60321
  };
  for (const Case& c : cases) EXPECT_FLOAT_EQ(c.fn(c.angle), c.expected) << c.angle;
  EXPECT_EQ(g_sine_table[32768], -8.742278e-8f);
  EXPECT_EQ(g_sine_table[16384], 1.0f);
  EXPECT_EQ(g_sine_table[49152], -1.0f);
}

TEST(MathSine, AnglesBeyondThe32BitRangeStillWrap) {
  // 2^20 turns' worth of table steps plus 90 degrees: the low 16 bits of the
  // 64-bit index still land on the quarter turn.
  const float big = 16384.0f + 65536.0f * 65536.0f;
  EXPECT_EQ(g_sine_table[sine_index(big)], g_sine_table[16384]);
  for (float v : {1e10f, -1e10f, 1e30f, std::numeric_limits<float>::infinity(), std::nanf("")}) {
    EXPECT_TRUE(std::isfinite(fast_sin_deg(v))) << v;
  }
  EXPECT_EQ(sine_index(std::nanf("")), 0u);
}

}  // namespace
