#include <gtest/gtest.h>

#include <cmath>

#include "math/color.h"
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
  for (int frame = 1; frame <= 9; ++frame) {
    gfx_step_view(0);
    // t = frame / 9 of the way to the target, truncated per channel.
    EXPECT_EQ(v->light.current.colours[0], argb_lerp(from, to, static_cast<float>(frame) / 9.0f)) << frame;
  }
  gfx_step_view(0);
  EXPECT_EQ(v->light.current.colours[0], to);
  EXPECT_EQ(v->light.base.colours[0], to) << "the target becomes the base";
  EXPECT_FLOAT_EQ(v->light.colour_float4[0][2], 1.0f);
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
  const float starts[] = {0.0f, 10.0f, 20.0f, 30.0f};
  for (float s : starts) {
    gfx_step_view(0);
    EXPECT_FLOAT_EQ(c.fog_start, s);
  }
  EXPECT_FLOAT_EQ(c.fog_end, 400.0f);
  EXPECT_EQ(c.fog_colour, 0xFFFFFFFFu);
  EXPECT_EQ(c.fog_frames_remaining, 0);
  gfx_step_view(0);
  EXPECT_FLOAT_EQ(c.fog_start, 30.0f) << "a finished transition stays";
}

TEST_F(FrameSteps, ShakeDecaysThenStops) {
  Camera& c = v->camera;
  c.shake_frames = 3;
  c.shake_amplitude_x = c.shake_amplitude_y = 8.0f;
  c.shake_decay = 0.5f;
  sys_rand_reset();
  const float bounds[] = {8.0f, 4.0f, 2.0f, 0.0f, 0.0f};
  for (float b : bounds) {
    gfx_step_view(0);
    EXPECT_LE(std::fabs(c.shake_offset_x), b);
    EXPECT_LE(std::fabs(c.shake_offset_y), b);
  }
  EXPECT_EQ(c.shake_offset_x, 0.0f);
}

TEST_F(FrameSteps, ExtraLightCountFollowsTheEnabledWords) {
  v->extra_lights[0].enabled = 0;
  v->extra_lights[1].enabled = 7;
  gfx_step_view(0);
  EXPECT_EQ(v->extra_light_count, 1);
}

}  // namespace
