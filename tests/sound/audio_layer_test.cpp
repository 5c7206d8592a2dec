// The audio layer on the mixer's loopback device: levels, play and stop
// semantics, placement, distance mute and pitch, checked on rendered samples.
#include <gtest/gtest.h>

#include "platform/audio/audio.h"
#include "sound_test_util.h"

namespace {

class AudioLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(audio_open(AUDIO_DEVICE_LOOPBACK, &why)) << why;
  }
  void TearDown() override {
    audio_close();
    EXPECT_EQ(audio_buffer_count(), 0);
  }
  AudioBuffer make(AudioMode mode, uint32_t frames = 44100, int channels = 1, uint32_t rate = 44100) {
    AudioBuffer b = audio_buffer_create(decode_wav(make_dc_wav(frames, channels, rate)), mode);
    EXPECT_NE(b, 0u);
    return b;
  }
};

TEST_F(AudioLayer, GainFollowsHundredthsOfADecibel) {
  // Plain buffers play both sides at the file's level times the gain.
  for (int level : {0, -250, -899, -1149, -1150, -6000, -6250}) {
    SCOPED_TRACE(level);
    AudioBuffer b = make(AUDIO_MODE_PLAIN);
    ASSERT_EQ(audio_buffer_set_volume(b, level), AUDIO_OK);
    audio_buffer_play(b, true);
    Levels l = render_levels();
    EXPECT_NEAR(l.left, 0.5f * gain_of(level), 0.5f * gain_of(level) * 0.01f);
    EXPECT_NEAR(l.right, l.left, 1e-5f);
    audio_buffer_destroy(b);
  }
}

TEST_F(AudioLayer, VolumeIsClampedToTheDeviceRange) {
  AudioBuffer b = make(AUDIO_MODE_PLAIN);
  audio_buffer_set_volume(b, -16000);
  EXPECT_EQ(audio_buffer_volume(b), AUDIO_VOLUME_MIN);
  audio_buffer_play(b, true);
  EXPECT_EQ(render_levels().left, 0.0f);  // the minimum is silence
  audio_buffer_set_volume(b, 500);
  EXPECT_EQ(audio_buffer_volume(b), 0);
  EXPECT_EQ(audio_gain_from_hundredths(-10000), 0.0f);
  EXPECT_EQ(audio_gain_from_hundredths(0), 1.0f);
}

TEST_F(AudioLayer, PlayDoesNotRestartAndStopKeepsThePlace) {
  AudioBuffer b = make(AUDIO_MODE_PLAIN);
  audio_buffer_play(b, false);
  render_frames(4000);
  const uint32_t at = audio_buffer_frame(b);
  EXPECT_NEAR(at, 4000, 64);
  audio_buffer_play(b, true);  // already playing: only the looping choice changes
  EXPECT_EQ(audio_buffer_frame(b), at);
  EXPECT_EQ(audio_buffer_status(b), AUDIO_STATUS_PLAYING | AUDIO_STATUS_LOOPING);

  audio_buffer_stop(b);
  EXPECT_EQ(audio_buffer_status(b), 0u);
  render_frames(3000);
  EXPECT_EQ(audio_buffer_frame(b), at);  // stopped buffers hold their place
  audio_buffer_play(b, false);
  render_frames(1000);
  EXPECT_NEAR(audio_buffer_frame(b), at + 1000, 64);  // and resume from it
}

TEST_F(AudioLayer, FrameCanBeSetBeforeTheFirstPlay) {
  AudioBuffer b = make(AUDIO_MODE_PLAIN);
  audio_buffer_set_frame(b, 30000);
  EXPECT_EQ(audio_buffer_frame(b), 30000u);
  audio_buffer_play(b, false);
  render_frames(1000);
  EXPECT_NEAR(audio_buffer_frame(b), 31000, 64);
  audio_buffer_set_frame(b, 99999);  // past the end: the last frame
  EXPECT_EQ(audio_buffer_frame(b), 44099u);
}

TEST_F(AudioLayer, SourceToTheListenersLeftIsLouderOnTheLeft) {
  const float top[3] = {0, 1, 0};
  struct Case {
    float front[3];
    float source[3];
  };
  // Facing +z, left is -x; facing +x (turned 90 degrees right), left is +z.
  const Case cases[] = {{{0, 0, 1}, {-5, 0, 0}}, {{1, 0, 0}, {0, 0, 5}}, {{0, 0, -1}, {5, 0, 0}}};
  for (const Case& c : cases) {
    audio_listener_set_orientation(c.front, top);
    AudioBuffer b = make(AUDIO_MODE_3D);
    audio_buffer_set_position(b, c.source);
    audio_buffer_play(b, true);
    Levels l = render_levels();
    EXPECT_GT(l.left, 2.0f * l.right) << c.front[0] << "," << c.front[2];
    audio_buffer_destroy(b);
  }
}

TEST_F(AudioLayer, ThreeDimensionalSourceIsSilentBeyondItsMaximumDistance) {
  audio_listener_set_rolloff(0.01f);
  AudioBuffer b = make(AUDIO_MODE_3D);
  audio_buffer_set_distances(b, 2.0f, 100.0f);
  audio_buffer_play(b, true);
  const float near_point[3] = {0, 0, 99}, far_point[3] = {0, 0, 101};
  audio_buffer_set_position(b, near_point);
  Levels l = render_levels();
  EXPECT_GT(l.left + l.right, 0.1f);
  audio_buffer_set_position(b, far_point);
  l = render_levels();
  EXPECT_EQ(l.left + l.right, 0.0f);
  // The listener walking closer brings it back at the next commit.
  const float step[3] = {0, 0, 5};
  audio_listener_set_position(step);
  audio_commit();
  l = render_levels();
  EXPECT_GT(l.left + l.right, 0.1f);
}

TEST_F(AudioLayer, FrequencySetsThePitch) {
  AudioBuffer b = make(AUDIO_MODE_3D, 44100, 1, 22050);
  EXPECT_EQ(audio_buffer_frequency(b), 22050u);
  audio_buffer_play(b, false);
  render_frames(1000);
  EXPECT_NEAR(audio_buffer_frame(b), 500, 64);  // the file's own rate on a 44.1 kHz mix
  ASSERT_EQ(audio_buffer_set_frequency(b, 88200), AUDIO_OK);
  render_frames(1000);
  EXPECT_NEAR(audio_buffer_frame(b), 500 + 2000, 64);  // four times faster
  AudioBuffer plain = make(AUDIO_MODE_PLAIN);
  EXPECT_EQ(audio_buffer_set_frequency(plain, 22050), AUDIO_UNSUPPORTED);
  EXPECT_EQ(audio_buffer_set_frequency(make(AUDIO_MODE_PAN), 22050), AUDIO_UNSUPPORTED);
  EXPECT_EQ(audio_buffer_set_frequency(make(AUDIO_MODE_FREQUENCY), 22050), AUDIO_OK);
}

TEST_F(AudioLayer, PanTakesTheFarSideDown) {
  AudioBuffer b = make(AUDIO_MODE_PAN);
  audio_buffer_play(b, true);
  ASSERT_EQ(audio_buffer_set_pan(b, 2000), AUDIO_OK);  // right: the left side loses 20 dB
  Levels l = render_levels();
  EXPECT_NEAR(l.right, 0.5f, 0.005f);
  EXPECT_NEAR(l.left, 0.05f, 0.001f);
  audio_buffer_set_pan(b, -20000);
  EXPECT_EQ(audio_buffer_pan(b), -10000);
  l = render_levels();
  EXPECT_NEAR(l.left, 0.5f, 0.005f);
  EXPECT_EQ(l.right, 0.0f);
  EXPECT_EQ(audio_buffer_set_pan(make(AUDIO_MODE_PLAIN), 100), AUDIO_UNSUPPORTED);
}

TEST_F(AudioLayer, StereoFileInThreeDimensionsIsFoldedToMono) {
  AudioBuffer b = make(AUDIO_MODE_3D, 1000, 2);
  EXPECT_EQ(audio_buffer_frames(b), 1000u);
  EXPECT_EQ(audio_buffer_mode(b), AUDIO_MODE_3D);
}

TEST_F(AudioLayer, EffectLevelsOutsideTheirRangeFallBack) {
  if (!audio_has_effects()) GTEST_SKIP() << "the mixer has no effects";
  AudioBuffer b = make(AUDIO_MODE_3D);
  ASSERT_EQ(audio_buffer_set_effect(b, AUDIO_EFFECT_ECHO, 101), AUDIO_OK);
  EXPECT_EQ(audio_buffer_effect(b).echo_mix, 0);
  ASSERT_EQ(audio_buffer_set_effect(b, AUDIO_EFFECT_ECHO, 40), AUDIO_OK);
  EXPECT_EQ(audio_buffer_effect(b).echo_mix, 40);
  ASSERT_EQ(audio_buffer_set_effect(b, AUDIO_EFFECT_REVERB, 30), AUDIO_OK);
  EXPECT_EQ(audio_buffer_effect(b).reverb_preset, 0);
  ASSERT_EQ(audio_buffer_set_effect(b, AUDIO_EFFECT_REVERB, 29), AUDIO_OK);
  EXPECT_EQ(audio_buffer_effect(b).reverb_preset, 29);
  ASSERT_EQ(audio_buffer_set_effect(b, AUDIO_EFFECT_COMPRESSOR, 61), AUDIO_OK);
  EXPECT_EQ(audio_buffer_effect(b).compressor_threshold, 0);
  ASSERT_EQ(audio_buffer_set_effect(b, AUDIO_EFFECT_COMPRESSOR, 60), AUDIO_OK);
  EXPECT_EQ(audio_buffer_effect(b).compressor_threshold, -60);
  ASSERT_EQ(audio_buffer_set_effect(b, 0x80000000u, 0), AUDIO_OK);
  EXPECT_EQ(audio_buffer_effect(b).kind, AUDIO_EFFECT_NONE);
  audio_buffer_play(b, true);
  render_frames(1024);  // the mixer runs with the slots torn down
}

TEST_F(AudioLayer, StaleHandlesDoNothing) {
  AudioBuffer b = make(AUDIO_MODE_PLAIN);
  audio_buffer_destroy(b);
  EXPECT_FALSE(audio_buffer_valid(b));
  EXPECT_EQ(audio_buffer_play(b, false), AUDIO_FAILED);
  AudioBuffer again = make(AUDIO_MODE_PLAIN);  // reuses the slot, not the handle
  EXPECT_NE(again, b);
  EXPECT_FALSE(audio_buffer_valid(b));
}

TEST(AudioDevice, RenderNeedsTheLoopbackDevice) {
  float out[2];
  EXPECT_FALSE(audio_render(out, 1));
  EXPECT_EQ(audio_buffer_create(decode_wav(make_dc_wav(10)), AUDIO_MODE_PLAIN), 0u);
}

}  // namespace
