#include <gtest/gtest.h>

#include "platform/sys/sys.h"
#include "render/graphics/graphics.h"
#include "render/view/view_state.h"

namespace {

class FrameSteps : public ::testing::Test {
 protected:
  void SetUp() override {
    init_view_defaults();
    v = view_state(0);
  }
  ViewState* v = nullptr;
};

TEST(TransitionFactor, EndsAndClamps) {
  struct {
    int n, total;
    float t;
  } cases[] = {{10, 10, 0.0f}, {1, 10, 1.0f}, {5, 9, 0.5f}, {1, 1, 0.0f}, {0, 4, 1.0f}, {7, 4, 0.0f}};
  for (const auto& c : cases) EXPECT_FLOAT_EQ(gfx_transition_factor(c.n, c.total), c.t) << c.n << "/" << c.total;
}

TEST_F(FrameSteps, LightTransitionOfTenFrames) {
  const uint32_t from = 0xFF000000u, to = 0xFF0000FFu;
  v->light.base.colours[0] = from;
  v->light.target = v->light.base;
  v->light.target.colours[0] = to;
  v->light.frames_remaining = v->light.total = 10;
  // t = frame / 9 of the way to the target, each channel truncated.
  const uint32_t blue[9] = {28, 56, 85, 113, 141, 170, 198, 226, 255};
  for (int frame = 1; frame <= 9; ++frame) {
    gfx_step_view(0);
    EXPECT_EQ(v->light.current.colours[0], 0xFF000000u | blue[frame - 1]) << frame;
    EXPECT_FLOAT_EQ(v->light.colour_float4[0][2], float(blue[frame - 1]) / 255.0f) << "the current colour's";
  }
  gfx_step_view(0);
  EXPECT_EQ(v->light.current.colours[0], to);
  EXPECT_EQ(v->light.base.colours[0], to) << "the target becomes the base";
  EXPECT_FLOAT_EQ(v->light.colour_float4[0][2], 1.0f);
}

TEST_F(FrameSteps, LightDirectionAndAxisTurnNormalisedAndFloatColoursFollow) {
  Light& l = v->light;
  l.base.direction = Vec3{1, 0, 0};
  l.base.axis = Vec3{0, 1, 0};
  l.base.colours[1] = 0xFF336699u;
  l.base.colours[3] = 0x80FF0000u;
  l.target = l.base;
  l.target.direction = Vec3{0, 1, 0};
  l.target.axis = Vec3{0, 0, -1};
  l.frames_remaining = l.total = 3;
  const float h = 0.70710678f;
  struct {
    Vec3 direction, axis;
  } frames[] = {
      {{h, h, 0}, {0, h, -h}},  // t = 1/2, normalised
      {{0, 1, 0}, {0, 0, -1}},  // t = 1
      {{0, 1, 0}, {0, 0, -1}},  // the target is the base now
  };
  for (const auto& f : frames) {
    gfx_step_view(0);
    EXPECT_NEAR(l.current.direction.x, f.direction.x, 1e-5f);
    EXPECT_NEAR(l.current.direction.y, f.direction.y, 1e-5f);
    EXPECT_NEAR(l.current.direction.z, f.direction.z, 1e-5f);
    EXPECT_NEAR(l.current.axis.y, f.axis.y, 1e-5f);
    EXPECT_NEAR(l.current.axis.z, f.axis.z, 1e-5f);
  }
  EXPECT_EQ(l.base.direction.y, 1.0f);
  // Each current colour as floats, red first, alpha last.
  const float want1[4] = {0x33 / 255.0f, 0x66 / 255.0f, 0x99 / 255.0f, 1.0f};
  const float want3[4] = {1.0f, 0.0f, 0.0f, 0x80 / 255.0f};
  for (int c = 0; c < 4; ++c) {
    EXPECT_FLOAT_EQ(l.colour_float4[1][c], want1[c]) << c;
    EXPECT_FLOAT_EQ(l.colour_float4[3][c], want3[c]) << c;
  }
}

TEST_F(FrameSteps, LightOverrideWinsForItsFrames) {
  v->light.base.colours[1] = 0xFF111111u;
  v->light.override_block = v->light.base;
  v->light.override_block.colours[1] = 0xFF999999u;
  v->light.override_frames = 2;
  gfx_step_view(0);
  gfx_step_view(0);
  EXPECT_EQ(v->light.current.colours[1], 0xFF999999u);
  gfx_step_view(0);
  EXPECT_EQ(v->light.current.colours[1], 0xFF111111u);
}

TEST_F(FrameSteps, FogTransitionOfFourFrames) {
  Camera& c = v->camera;
  c.fog_from_start = 0.0f;
  c.fog_target_start = 30.0f;
  c.fog_from_end = 100.0f;
  c.fog_target_end = 400.0f;
  c.fog_from_colour = 0xFF000000u;
  c.fog_target_colour = 0xFFFFFFFFu;
  c.fog_frames_remaining = c.fog_total = 4;
  // t = 0, 1/3, 2/3, then the targets themselves.
  const struct {
    float start, end;
    uint32_t colour;
  } frames[] = {{0, 100, 0xFF000000u}, {10, 200, 0xFF555555u}, {20, 300, 0xFFAAAAAAu}, {30, 400, 0xFFFFFFFFu}};
  for (const auto& f : frames) {
    gfx_step_view(0);
    EXPECT_FLOAT_EQ(c.fog_start, f.start);
    EXPECT_FLOAT_EQ(c.fog_end, f.end);
    EXPECT_EQ(c.fog_colour, f.colour);
    EXPECT_FLOAT_EQ(c.fog_colour_float4[1], float(f.colour & 0xFF) / 255.0f);
  }
  EXPECT_EQ(c.fog_frames_remaining, 0);
  gfx_step_view(0);
  EXPECT_FLOAT_EQ(c.fog_start, 30.0f) << "a finished transition stays";
}

TEST_F(FrameSteps, ShakeDrawsItsOffsetsDecaysThenStops) {
  Camera& c = v->camera;
  c.shake_frames = 3;
  c.shake_amplitude_x = 8.0f;
  c.shake_amplitude_y = 2.0f;
  c.shake_decay = 0.5f;
  sys_rand_reset();
  // The runtime generator from its start draws 41, 18467, 6334, 26500, 19169,
  // 15724: x then y, each -a + (r mod 10000) x 2a / 10000.
  const float want[][2] = {{-7.9344f, 1.3868f}, {1.0672f, 0.3f}, {1.6676f, 0.0724f}, {0, 0}, {0, 0}};
  for (const auto& w : want) {
    gfx_step_view(0);
    EXPECT_NEAR(c.shake_offset_x, w[0], 1e-4f);
    EXPECT_NEAR(c.shake_offset_y, w[1], 1e-4f);
  }
  EXPECT_EQ(c.shake_frames, 0);
  EXPECT_FLOAT_EQ(c.shake_amplitude_x, 1.0f);
}

TEST_F(FrameSteps, ExtraLightCountFollowsTheEnabledWords) {
  v->extra_lights[0].enabled = 0;
  v->extra_lights[1].enabled = 7;
  gfx_step_view(0);
  EXPECT_EQ(v->extra_light_count, 1);
  v->extra_lights[0].enabled = -1;
  gfx_step_view(0);
  EXPECT_EQ(v->extra_light_count, 2) << "recounted, not added to";
}

}  // namespace
