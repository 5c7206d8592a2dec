// Positional sound requests resolved through the sound manager on the
// loopback device: one survivor per effect, range and loop limits, the hold
// after a request, the queue bound and the bookkeeping of the block.
#include <gtest/gtest.h>

#include <fstream>

#include "render/view/view_state.h"
#include "shell/services/startup_config.h"
#include "sound/dx_sound.h"
#include "sound/positional_requests.h"
#include "sound/sound_manager.h"
#include "sound_test_util.h"
#include "temp_dir.h"

namespace {

class PositionalRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.file("KT52.CF", "SFEXT wav\n");
    load_startup_config(dir.path + "/KT52.CF");
    const std::vector<uint8_t> wav = make_dc_wav(44100);
    std::ofstream(dir.path + "/0.wav", std::ios::binary)
        .write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));
    sound_init_with({dir.path, AUDIO_DEVICE_LOOPBACK});
    ASSERT_TRUE(sound_thread_wait_idle(5000));
    ASSERT_NE(sound_se_slot(0), nullptr);
    // View 0's camera at (10, 0, 0).
    init_view_defaults();
    set_view_enabled(0, 1);
    set_camera_mode(0, 0);
    const Vec3 eye = {10, 0, 0}, angles = {0, 0, 0};
    set_camera_position_angles(0, &eye, &angles);
    sound_requests_init();
  }
  void TearDown() override {
    sound_requests_release();
    sound_shutdown();
  }

  AudioBuffer se() const { return sound_se_slot(0)->buffer; }
  bool playing() const { return (audio_buffer_status(se()) & AUDIO_STATUS_PLAYING) != 0; }
  bool looping() const { return (audio_buffer_status(se()) & AUDIO_STATUS_LOOPING) != 0; }
  void stop() { sound_stop_se(0); }

  TempDir dir;
};

// A point at distance d from the camera along +z, or along another axis.
struct At {
  float p[3];
  explicit At(float d, int axis = 2) : p{10.0f, 0.0f, 0.0f} { p[axis] += d; }
};

TEST_F(PositionalRequestsTest, TheNearestAndThenLatestRequestOfAnEffectPlays) {
  // Distances 10, 5, 5 (the second 5 sits at another place): the later 5 wins.
  const float far[3] = {10, 0, 10}, near_a[3] = {10, 5, 0}, near_b[3] = {10, -5, 0};
  sound_request_play(0, far);
  sound_request_play(0, near_a);
  sound_request_play(0, near_b);
  EXPECT_EQ(sound_requests_block()->count, 3u);
  sound_requests_flush();
  EXPECT_TRUE(playing());
  EXPECT_FALSE(looping());
  float where[3];
  ASSERT_TRUE(audio_buffer_position(se(), where));
  EXPECT_FLOAT_EQ(where[1], -5.0f);
  EXPECT_EQ(sound_requests_block()->count, 0u);
  EXPECT_EQ(sound_requests_frame(), 1u);
  // The nearest wins also when a farther one is posted after it.
  for (int i = 0; i < 3; ++i) sound_requests_flush();  // the hold runs out
  sound_request_play(0, near_a);
  sound_request_play(0, far);
  sound_requests_flush();
  ASSERT_TRUE(audio_buffer_position(se(), where));
  EXPECT_FLOAT_EQ(where[1], 5.0f);
  EXPECT_FLOAT_EQ(where[2], 0.0f);
}

TEST_F(PositionalRequestsTest, RequestTypesAndDistanceLimits) {
  // Each starts with the effect stopped at frame 20000: a restart goes back
  // to the start point (0.001 of 44100 frames), the others play on from there.
  struct Case {
    float distance;
    uint32_t type;
    bool queued, plays, loops;
    uint32_t frame;
    int axis = 2;
  } cases[] = {
      {0, SOUND_REQUEST_ONCE, true, true, false, 20000},
      {599, SOUND_REQUEST_ONCE, true, true, false, 20000},
      {600, SOUND_REQUEST_ONCE, true, true, false, 20000},  // the range itself is in range
      {601, SOUND_REQUEST_ONCE, false, false, false, 20000},
      {700, SOUND_REQUEST_ONCE, false, false, false, 20000},
      {-600, SOUND_REQUEST_ONCE, true, true, false, 20000, 0},  // each axis counts toward the distance
      {-601, SOUND_REQUEST_ONCE, false, false, false, 20000, 0},
      {600, SOUND_REQUEST_ONCE, true, true, false, 20000, 1},
      {601, SOUND_REQUEST_ONCE, false, false, false, 20000, 1},
      {580, SOUND_REQUEST_LOOP, true, true, true, 20000},
      {590, SOUND_REQUEST_LOOP, true, false, false, 44},
      {300, SOUND_REQUEST_RESTART, true, true, false, 44},
  };
  for (const Case& c : cases) {
    sound_requests_init();
    stop();
    audio_buffer_set_frame(se(), 20000);
    At at(c.distance, c.axis);
    sound_request_push(0, at.p, c.type);
    SCOPED_TRACE(testing::Message() << c.distance << " on axis " << c.axis << " type " << c.type);
    EXPECT_EQ(sound_requests_block()->count, c.queued ? 1u : 0u);
    EXPECT_EQ(sound_requests_block()->hold[0], c.queued ? SOUND_REQUEST_HOLD : 0);
    sound_requests_flush();
    EXPECT_EQ(playing(), c.plays);
    EXPECT_EQ(looping(), c.loops);
    EXPECT_EQ(audio_buffer_frame(se()), c.frame);
    if (c.plays) {
      float where[3];
      ASSERT_TRUE(audio_buffer_position(se(), where));
      for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(where[i], at.p[i]) << "the sound sits where it was asked for";
    }
  }
}

TEST_F(PositionalRequestsTest, AFarLoopStopsTheRunningLoop) {
  At near(100);
  sound_request_loop(0, near.p);
  sound_requests_flush();
  ASSERT_TRUE(looping());
  for (int i = 0; i < 3; ++i) sound_requests_flush();  // the hold runs out
  At far(590);
  sound_request_loop(0, far.p);
  sound_requests_flush();
  EXPECT_FALSE(playing());
}

TEST_F(PositionalRequestsTest, WithoutAPositionTheSoundIsAtTheCamera) {
  sound_request_play(0, nullptr);
  const SoundRequest& r = sound_requests_block()->requests[0];
  EXPECT_EQ(r.distance_sq, 0.0f);
  EXPECT_FLOAT_EQ(r.position[0], 10.0f);
  sound_requests_flush();
  EXPECT_TRUE(playing());
}

TEST_F(PositionalRequestsTest, AnEffectIsHeldBackForThreeFlushes) {
  At at(10);
  sound_request_play(0, at.p);
  sound_request_play(0, at.p);  // same frame: still admitted
  EXPECT_EQ(sound_requests_block()->count, 2u);
  sound_requests_flush();
  for (int frame = 1; frame <= 3; ++frame) {
    sound_request_play(0, at.p);
    EXPECT_EQ(sound_requests_block()->count, 0u) << frame;
    sound_requests_flush();
  }
  sound_request_play(0, at.p);
  EXPECT_EQ(sound_requests_block()->count, 1u);
}

TEST_F(PositionalRequestsTest, TheQueueHoldsSixtyFourAndRefusesBadIndices) {
  At at(1);
  for (int i = 0; i < 70; ++i) sound_request_play(0, at.p);
  EXPECT_EQ(sound_requests_block()->count, 64u);
  sound_requests_flush();
  EXPECT_EQ(sound_requests_block()->count, 0u);

  sound_requests_init();
  for (uint32_t bad : {1u, 2u, 0xFFFFFFu, 0xFFFFFFFFu}) {
    sound_request_play(bad, at.p);
    sound_requests_counter_raise(bad);
    EXPECT_EQ(sound_requests_counter(bad), 0);
  }
  EXPECT_EQ(sound_requests_block()->count, 0u);
  EXPECT_EQ(sound_requests_block()->hold[0], 0);
}

TEST_F(PositionalRequestsTest, CountersSerialsAndTheGenerator) {
  sound_requests_counter_raise(0);
  sound_requests_counter_raise(0);
  sound_requests_counter_lower(0);
  EXPECT_EQ(sound_requests_counter(0), 1);
  EXPECT_EQ(sound_requests_next_serial(), 0u);
  EXPECT_EQ(sound_requests_next_serial(), 1u);
  // seed 1: 1 x 214013 + 2531011 = 2745024, >> 16 = 41.
  EXPECT_EQ(sound_requests_random(), 41u);
  EXPECT_EQ(sound_requests_random(), 18467u);
  sound_requests_init();
  EXPECT_EQ(sound_requests_random(), 41u);
  EXPECT_EQ(sound_requests_counter(0), 0);
  EXPECT_EQ(sound_requests_next_serial(), 0u);
}

TEST_F(PositionalRequestsTest, LoadRuleThinsRequestsAsTheLoadGrows) {
  struct Case {
    uint32_t load;
    int allowed_of_8;
  } cases[] = {{0, 8}, {3095, 8}, {3096, 4}, {3395, 4}, {3396, 6}, {3695, 6}, {3696, 7}, {3895, 7}, {3896, 0}, {4096, 0}};
  for (const Case& c : cases) {
    int allowed = 0;
    for (uint32_t calls = 1; calls <= 8; ++calls) allowed += sound_requests_load_allows(c.load, calls) ? 1 : 0;
    EXPECT_EQ(allowed, c.allowed_of_8) << c.load;
  }
  const uint32_t before = sound_requests_block()->load_calls;
  sound_requests_load_test();
  EXPECT_EQ(sound_requests_block()->load_calls, before + 1);
}

}  // namespace
