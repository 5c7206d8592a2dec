// Sound buffers: the arithmetic and clamps between the manager and the
// audio layer.
#include <gtest/gtest.h>

#include <cmath>

#include "sound/dx_sound.h"
#include "sound_test_util.h"

namespace {

class DxSoundTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(audio_open(AUDIO_DEVICE_LOOPBACK, nullptr)); }
  void TearDown() override { audio_close(); }
  void load(DxSound* s, DxSoundMode mode, float volume = 1.0f, uint32_t frames = 10000) {
    ASSERT_EQ(dxsound_create_buffer(s, decode_wav(make_dc_wav(frames)), mode, volume), 0);
  }
};

TEST_F(DxSoundTest, VolumeLevels) {
  struct Case {
    DxSoundMode mode;
    float v;
    int level;
  };
  const Case cases[] = {
      {DXSOUND_PLAIN, 1.0f, -250},  {DXSOUND_PLAIN, 0.0f, -6250}, {DXSOUND_3D, 0.85f, -899},
      {DXSOUND_PLAIN, 0.85f, -1149}, {DXSOUND_PAN, 0.84999996f, -1150}, {DXSOUND_3D, 1.0f, 0},
      {DXSOUND_PLAIN, 2.0f, 0},     {DXSOUND_3D, -3.0f, -10000},  {DXSOUND_3D, NAN, -10000},
  };
  for (const Case& c : cases) {
    DxSound s;
    load(&s, c.mode, c.v);
    EXPECT_EQ(audio_buffer_volume(s.buffer), c.level) << c.mode << " " << c.v;
  }
  DxSound s;
  load(&s, DXSOUND_3D, 0.75f);
  EXPECT_EQ(dxsound_set_volume(&s, 0.5f), 0);
  EXPECT_EQ(audio_buffer_volume(s.buffer), -3000);
  EXPECT_NEAR(dxsound_get_volume(&s), 0.5f, 1e-3f);
  s.volume_base = -6000;  // a zero range reads as silence, not a division by zero
  EXPECT_EQ(dxsound_get_volume(&s), 0.0f);
}

TEST_F(DxSoundTest, PositionAndFrequencyClamps) {
  DxSound s;
  load(&s, DXSOUND_3D);
  struct PosCase {
    float f;
    uint32_t frame;
  };
  for (PosCase c : {PosCase{1.5f, 9900}, PosCase{-1.0f, 0}, PosCase{NAN, 0}, PosCase{0.5f, 5000}}) {
    dxsound_set_position(&s, c.f);
    EXPECT_EQ(audio_buffer_frame(s.buffer), c.frame) << c.f;
  }
  struct FreqCase {
    uint32_t hz, got;
  };
  for (FreqCase c : {FreqCase{50, 100}, FreqCase{500000, 200000}, FreqCase{22050, 22050}}) {
    EXPECT_EQ(dxsound_set_frequency(&s, c.hz), 0);
    EXPECT_EQ(dxsound_get_frequency(&s), c.got);
  }
  DxSound plain;
  load(&plain, DXSOUND_PLAIN);
  EXPECT_EQ(dxsound_set_frequency(&plain, 22050), -1);
  EXPECT_EQ(dxsound_get_frequency(&plain), 44100u);
}

TEST_F(DxSoundTest, PanOnlyInPanMode) {
  DxSound pan, plain;
  load(&pan, DXSOUND_PAN);
  load(&plain, DXSOUND_PLAIN);
  EXPECT_EQ(dxsound_set_pan(&pan, 20000), 0);
  EXPECT_EQ(audio_buffer_pan(pan.buffer), 10000);
  EXPECT_EQ(dxsound_set_pan(&plain, 100), -1);
}

TEST_F(DxSoundTest, ReleaseEmptiesAndEmptyObjectsRefuse) {
  DxSound s;
  load(&s, DXSOUND_3D);
  EXPECT_EQ(dxsound_buffer_size(&s), 20000u);
  EXPECT_EQ(s.volume_base, 0);
  dxsound_release(&s);
  EXPECT_FALSE(dxsound_loaded(&s));
  EXPECT_EQ(dxsound_play(&s, false), -1);
  EXPECT_EQ(dxsound_set_volume(&s, 1.0f), -1);
  EXPECT_EQ(audio_buffer_count(), 0);
}

// Destroying with bit 0 frees an object made by new; without it only
// releases what it holds.
TEST_F(DxSoundTest, DestroyFreesOnlyWhenAsked) {
  DxSound* heap = new DxSound;
  load(heap, DXSOUND_PLAIN);
  alignas(DxSound) unsigned char place[sizeof(DxSound)];
  DxSound* in_place = reinterpret_cast<DxSound*>(place);
  dxsound_construct(in_place);
  EXPECT_FALSE(dxsound_loaded(in_place));
  load(in_place, DXSOUND_PAN);
  EXPECT_EQ(audio_buffer_count(), 2);
  dxsound_destroy(in_place, 2);  // bit 0 clear: never freed, whatever else is set
  EXPECT_FALSE(dxsound_loaded(in_place));
  EXPECT_EQ(audio_buffer_count(), 1);
  in_place->~DxSound();
  dxsound_destroy(heap, 1);  // a leak or a double free shows under the sanitizers
  EXPECT_EQ(audio_buffer_count(), 0);
}

TEST_F(DxSoundTest, LoadReportsMissingAndUnplayableFiles) {
  DxSound s;
  EXPECT_EQ(dxsound_load_wave(&s, "/nonexistent/0.wav", DXSOUND_3D, 1.0f), SOUND_ERROR_FILE);
  EXPECT_FALSE(dxsound_loaded(&s));
  EXPECT_EQ(dxsound_create_buffer(&s, WaveData{}, DXSOUND_PLAIN, 1.0f), SOUND_ERROR_BUFFER);
}

TEST_F(DxSoundTest, EffectFlagsSplitIntoKindAndLevel) {
  if (!audio_has_effects()) GTEST_SKIP() << "the mixer has no effects";
  DxSound s;
  load(&s, DXSOUND_3D);
  EXPECT_EQ(dxsound_set_fx(&s, 0x10000000u | 101), 0);
  EXPECT_EQ(audio_buffer_effect(s.buffer).kind, AUDIO_EFFECT_ECHO);
  EXPECT_EQ(audio_buffer_effect(s.buffer).echo_mix, 0);
  EXPECT_EQ(dxsound_set_fx(&s, 0x20000000u | 7), 0);
  EXPECT_EQ(audio_buffer_effect(s.buffer).reverb_preset, 7);
  EXPECT_EQ(dxsound_set_fx(&s, 0x40000000u | 61), 0);
  EXPECT_EQ(audio_buffer_effect(s.buffer).kind, AUDIO_EFFECT_COMPRESSOR);
  EXPECT_EQ(audio_buffer_effect(s.buffer).compressor_threshold, 0);
  EXPECT_EQ(dxsound_set_fx(&s, 0x30000000u | 5), 0) << "any other kind removes the effects";
  EXPECT_EQ(audio_buffer_effect(s.buffer).kind, AUDIO_EFFECT_NONE);
}

// A buffer the device no longer holds takes no effect: a reverb that cannot
// be applied is said in a message box, the other kinds fail quietly.
TEST_F(DxSoundTest, AReverbThatCannotBeAppliedIsReported) {
  DxSound s;
  load(&s, DXSOUND_3D);
  audio_buffer_destroy(s.buffer);
  struct Case {
    uint32_t flags;
    const char* said;
  } cases[] = {
      {0x20000000u | 3, "tamberlune: エラー: 最低品質でも失敗しました\n"},
      {0x10000000u | 50, ""},
      {0x40000000u | 20, ""},
  };
  for (const Case& c : cases) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(dxsound_set_fx(&s, c.flags), -1) << std::hex << c.flags;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.said) << std::hex << c.flags;
  }
}

}  // namespace
