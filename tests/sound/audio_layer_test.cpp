// The audio layer on the mixer's loopback device: levels, play and stop
// semantics, placement, distance mute and pitch, checked on rendered samples.
#include <AL/efx-presets.h>
#include <gtest/gtest.h>

#include <vector>

#include "platform/audio/audio.h"
#include "platform/audio/audio_internal.h"
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

// The mixer's z axis points the other way: the listener's place and facing
// reach it with z turned and x and y as given.
TEST_F(AudioLayer, ListenerPlaceAndFacingReachTheMixerWithZTurned) {
  const float place[3] = {1, 2, 3}, front[3] = {0.6f, 0, 0.8f}, top[3] = {0, 0.8f, 0.6f};
  audio_listener_set_position(place);
  audio_listener_set_orientation(front, top);
  ALfloat x = 0, y = 0, z = 0;
  alGetListener3f(AL_POSITION, &x, &y, &z);
  EXPECT_EQ(x, 1.0f);
  EXPECT_EQ(y, 2.0f);
  EXPECT_EQ(z, -3.0f);
  ALfloat o[6] = {};
  alGetListenerfv(AL_ORIENTATION, o);
  const ALfloat want[6] = {0.6f, 0, -0.8f, 0, 0.8f, -0.6f};
  for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(o[i], want[i]) << i;
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

// The effect objects a buffer's effect leaves in the mixer, read back: every
// parameter sent, the wet slot gain and the dry filter gain.
struct EffectReadBack {
  ALint type;
  float values[32];
  int count;
  float slot_gain, dry_gain;
};

template <typename T>
T efx_function(const char* name) {
  return reinterpret_cast<T>(alGetProcAddress(name));
}

EffectReadBack read_effect(AudioBuffer b, const std::vector<ALenum>& floats, const std::vector<ALenum>& vectors) {
  ALuint effect = 0, slot = 0, filter = 0;
  {
    std::lock_guard<std::mutex> g(audio_state().lock);
    const AudioSlot* s = audio_slot(b);
    if (s) effect = s->effect, slot = s->effect_slot, filter = s->dry_filter;
  }
  const auto geti = efx_function<LPALGETEFFECTI>("alGetEffecti");
  const auto getf = efx_function<LPALGETEFFECTF>("alGetEffectf");
  const auto getfv = efx_function<LPALGETEFFECTFV>("alGetEffectfv");
  EffectReadBack r{};
  geti(effect, AL_EFFECT_TYPE, &r.type);
  for (ALenum p : floats) getf(effect, p, &r.values[r.count++]);
  for (ALenum p : vectors) {
    getfv(effect, p, &r.values[r.count]);
    r.count += 3;
  }
  if (r.type == AL_EFFECT_EAXREVERB) {
    ALint limit = -1;
    geti(effect, AL_EAXREVERB_DECAY_HFLIMIT, &limit);
    r.values[r.count++] = static_cast<float>(limit);
  }
  efx_function<LPALGETAUXILIARYEFFECTSLOTF>("alGetAuxiliaryEffectSlotf")(slot, AL_EFFECTSLOT_GAIN, &r.slot_gain);
  efx_function<LPALGETFILTERF>("alGetFilterf")(filter, AL_LOWPASS_GAIN, &r.dry_gain);
  return r;
}

TEST_F(AudioLayer, EffectParametersReachTheMixer) {
  if (!audio_has_effects()) GTEST_SKIP() << "the mixer has no effects";
  const std::vector<ALenum> reverb_floats = {
      AL_EAXREVERB_DENSITY,           AL_EAXREVERB_DIFFUSION,         AL_EAXREVERB_GAIN,
      AL_EAXREVERB_GAINHF,            AL_EAXREVERB_GAINLF,            AL_EAXREVERB_DECAY_TIME,
      AL_EAXREVERB_DECAY_HFRATIO,     AL_EAXREVERB_DECAY_LFRATIO,     AL_EAXREVERB_REFLECTIONS_GAIN,
      AL_EAXREVERB_REFLECTIONS_DELAY, AL_EAXREVERB_LATE_REVERB_GAIN,  AL_EAXREVERB_LATE_REVERB_DELAY,
      AL_EAXREVERB_ECHO_TIME,         AL_EAXREVERB_ECHO_DEPTH,        AL_EAXREVERB_MODULATION_TIME,
      AL_EAXREVERB_MODULATION_DEPTH,  AL_EAXREVERB_AIR_ABSORPTION_GAINHF, AL_EAXREVERB_HFREFERENCE,
      AL_EAXREVERB_LFREFERENCE,       AL_EAXREVERB_ROOM_ROLLOFF_FACTOR};
  const std::vector<ALenum> reverb_vectors = {AL_EAXREVERB_REFLECTIONS_PAN, AL_EAXREVERB_LATE_REVERB_PAN};
  auto preset_values = [](const EFXEAXREVERBPROPERTIES& p) {
    return std::vector<float>{p.flDensity,           p.flDiffusion,          p.flGain,
                              p.flGainHF,            p.flGainLF,             p.flDecayTime,
                              p.flDecayHFRatio,      p.flDecayLFRatio,       p.flReflectionsGain,
                              p.flReflectionsDelay,  p.flLateReverbGain,     p.flLateReverbDelay,
                              p.flEchoTime,          p.flEchoDepth,          p.flModulationTime,
                              p.flModulationDepth,   p.flAirAbsorptionGainHF, p.flHFReference,
                              p.flLFReference,       p.flRoomRolloffFactor,  p.flReflectionsPan[0],
                              p.flReflectionsPan[1], p.flReflectionsPan[2],  p.flLateReverbPan[0],
                              p.flLateReverbPan[1],  p.flLateReverbPan[2],  static_cast<float>(p.iDecayHFLimit)};
  };
  const EFXEAXREVERBPROPERTIES generic = EFX_REVERB_PRESET_GENERIC, padded = EFX_REVERB_PRESET_PADDEDCELL,
                               room = EFX_REVERB_PRESET_ROOM, hall = EFX_REVERB_PRESET_CONCERTHALL,
                               underwater = EFX_REVERB_PRESET_UNDERWATER, mountains = EFX_REVERB_PRESET_MOUNTAINS;
  struct Row {
    uint32_t kind, level;
    ALint type;
    std::vector<ALenum> floats, vectors;
    std::vector<float> want;
    float wet, dry;
  } rows[] = {
      // Echo: first tap 200 ms, no second tap, damping or spread; 40 % wet.
      {AUDIO_EFFECT_ECHO, 40, AL_EFFECT_ECHO,
       {AL_ECHO_DELAY, AL_ECHO_LRDELAY, AL_ECHO_DAMPING, AL_ECHO_FEEDBACK, AL_ECHO_SPREAD}, {},
       {0.2f, 0.0f, 0.0f, 0.5f, 0.0f}, 0.4f, 0.6f},
      {AUDIO_EFFECT_ECHO, 101, AL_EFFECT_ECHO, {}, {}, {}, 0, 1},  // beyond 100 %: no echo
      // Reverb adds to the full dry sound.
      {AUDIO_EFFECT_REVERB, 0, AL_EFFECT_EAXREVERB, reverb_floats, reverb_vectors, preset_values(generic), 1, 1},
      {AUDIO_EFFECT_REVERB, 1, AL_EFFECT_EAXREVERB, reverb_floats, reverb_vectors, preset_values(generic), 1, 1},
      {AUDIO_EFFECT_REVERB, 2, AL_EFFECT_EAXREVERB, reverb_floats, reverb_vectors, preset_values(padded), 1, 1},
      {AUDIO_EFFECT_REVERB, 3, AL_EFFECT_EAXREVERB, reverb_floats, reverb_vectors, preset_values(room), 1, 1},
      {AUDIO_EFFECT_REVERB, 8, AL_EFFECT_EAXREVERB, reverb_floats, reverb_vectors, preset_values(hall), 1, 1},
      {AUDIO_EFFECT_REVERB, 18, AL_EFFECT_EAXREVERB, reverb_floats, reverb_vectors, preset_values(mountains), 1, 1},
      {AUDIO_EFFECT_REVERB, 23, AL_EFFECT_EAXREVERB, reverb_floats, reverb_vectors, preset_values(underwater), 1, 1},
      {AUDIO_EFFECT_REVERB, 29, AL_EFFECT_EAXREVERB, reverb_floats, reverb_vectors, preset_values(generic), 1, 1},
      // The compressor replaces the dry sound.
      {AUDIO_EFFECT_COMPRESSOR, 12, AL_EFFECT_COMPRESSOR, {}, {}, {}, 1, 0},
  };
  AudioBuffer b = make(AUDIO_MODE_3D);
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "kind " << row.kind << " level " << row.level);
    ASSERT_EQ(audio_buffer_set_effect(b, row.kind, row.level), AUDIO_OK);
    const EffectReadBack got = read_effect(b, row.floats, row.vectors);
    EXPECT_EQ(got.type, row.type);
    ASSERT_EQ(got.count, static_cast<int>(row.want.size()));
    for (int i = 0; i < got.count; ++i) EXPECT_FLOAT_EQ(got.values[i], row.want[i]) << "value " << i;
    EXPECT_FLOAT_EQ(got.slot_gain, row.wet);
    EXPECT_FLOAT_EQ(got.dry_gain, row.dry);
  }
}

TEST_F(AudioLayer, LostBuffersAreSilentUntilFilledAgain) {
  struct Case {
    AudioMode mode;
    int channels;
    uint32_t rate;
  } cases[] = {{AUDIO_MODE_PLAIN, 1, 44100}, {AUDIO_MODE_PAN, 2, 22050}, {AUDIO_MODE_3D, 1, 11025}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    const WaveData wave = decode_wav(make_dc_wav(8000, c.channels, c.rate));
    AudioBuffer b = make(c.mode, 8000, c.channels, c.rate);
    audio_force_buffers_lost();
    EXPECT_EQ(audio_buffer_status(b) & AUDIO_STATUS_LOST, AUDIO_STATUS_LOST);
    EXPECT_EQ(audio_buffer_play(b, true), AUDIO_LOST);
    EXPECT_EQ(audio_buffer_fill(b, wave), AUDIO_LOST) << "a lost buffer is restored before it is filled";
    ASSERT_EQ(audio_buffer_restore(b), AUDIO_OK);
    EXPECT_EQ(audio_buffer_status(b) & AUDIO_STATUS_LOST, 0u);
    // The silence keeps the buffer's length and rate.
    EXPECT_EQ(audio_buffer_frames(b), 8000u);
    ALint rate = 0;
    {
      std::lock_guard<std::mutex> g(audio_state().lock);
      alGetBufferi(audio_slot(b)->buffers[0], AL_FREQUENCY, &rate);
    }
    EXPECT_EQ(rate, static_cast<ALint>(c.rate));
    ASSERT_EQ(audio_buffer_play(b, true), AUDIO_OK);
    EXPECT_EQ(render_levels().left, 0.0f);
    // Only samples of the same length and rate fill it again.
    EXPECT_EQ(audio_buffer_fill(b, decode_wav(make_dc_wav(7999, c.channels, c.rate))), AUDIO_FAILED);
    EXPECT_EQ(audio_buffer_fill(b, decode_wav(make_dc_wav(8000, c.channels, 48000))), AUDIO_FAILED);
    ASSERT_EQ(audio_buffer_fill(b, wave), AUDIO_OK);
    ASSERT_EQ(audio_buffer_play(b, true), AUDIO_OK);
    EXPECT_GT(render_levels().left, 0.1f);
    audio_buffer_destroy(b);
  }
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
