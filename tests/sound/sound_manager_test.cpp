// The sound manager on the loopback device: start-up, levels on rendered
// samples, channels, effects, names, the listener and the fatal start-up
// errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "platform/sys/sys.h"
#include "math/mat4.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "shell/app/scene_runner.h"
#include "shell/services/shared_semaphore.h"
#include "shell/services/startup_config.h"
#include "sound/dx_sound.h"
#include "sound/sound_command.h"
#include "sound/sound_manager.h"
#include "sound/voice_queue.h"
#include "sound_test_util.h"
#include "temp_dir.h"

namespace {

// A voice id past the name table: the queue starts it, but it never plays.
constexpr SoundId kSilentVoiceId = SOUND_ID_VOICE | 5;

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
}

// Steps frames until the next sound_update steps the queue at `frame`.
void run_until(uint32_t frame) {
  while (sound_frame_counter() < frame) sound_update();
}

// A working folder with "KT52.CF" and the sound "0" as a constant-level file.
struct SoundFolder {
  TempDir dir;
  explicit SoundFolder(const char* ext = "wav", bool with_sound = true, uint32_t frames = 44100) {
    dir.file("KT52.CF", std::string("SFEXT ") + ext + "\n");
    load_startup_config(dir.path + "/KT52.CF");
    if (with_sound) write_file(dir.path + "/0." + ext, make_dc_wav(frames));
  }
};

class SoundManagerTest : public ::testing::Test {
 protected:
  void start(const SoundFolder& f) {
    sound_init_with({f.dir.path, AUDIO_DEVICE_LOOPBACK});
    ASSERT_TRUE(sound_thread_wait_idle(5000));
  }
  void TearDown() override {
    sound_shutdown();
    EXPECT_EQ(audio_buffer_count(), 0);
    EXPECT_FALSE(audio_is_open());
  }
};

TEST_F(SoundManagerTest, StartUpLoadsEffectAndLeavesTheBgmStopped) {
  SoundFolder f;
  start(f);
  EXPECT_EQ(sound_error_code(), 0);
  EXPECT_TRUE(sound_is_ready());
  const DxSound* se = sound_se_slot(0);
  ASSERT_NE(se, nullptr);
  EXPECT_EQ(se->mode, DXSOUND_3D);
  EXPECT_EQ(se->load_frequency, 44100u);
  const DxSound* bgm = sound_bgm_channel();
  ASSERT_NE(bgm, nullptr);  // play then stop ran on the worker
  EXPECT_EQ(bgm->mode, DXSOUND_PLAIN);
  EXPECT_FALSE(dxsound_is_playing(bgm));
  EXPECT_EQ(audio_buffer_volume(bgm->buffer), -1150);
  EXPECT_EQ(audio_buffer_volume(se->buffer), -899);
}

TEST_F(SoundManagerTest, ChannelLevelsOnRenderedSamples) {
  SoundFolder f;
  start(f);
  sound_play_bgm(SOUND_ID_BGM);
  Levels l = render_levels();
  EXPECT_NEAR(l.left, 0.5f * gain_of(-1150), 0.002f);
  EXPECT_NEAR(l.right, l.left, 1e-5f);
  sound_stop_bgm();

  sound_play_voice(SOUND_ID_VOICE);
  ASSERT_NE(sound_voice_channel(), nullptr);
  EXPECT_EQ(audio_buffer_volume(sound_voice_channel()->buffer), -1149);
  l = render_levels();
  EXPECT_NEAR(l.left, 0.5f * gain_of(-1149), 0.002f);
  sound_stop_voice();

  // The 3D effect against a 0 dB buffer at the same place in front.
  const float ahead[3] = {0, 0, 1};
  AudioBuffer ref = audio_buffer_create(decode_wav(make_dc_wav(44100)), AUDIO_MODE_3D);
  audio_buffer_set_distances(ref, 2.0f, 100.0f);
  audio_buffer_set_position(ref, ahead);
  audio_buffer_play(ref, true);
  Levels full = render_levels();
  audio_buffer_destroy(ref);
  sound_play_se_at(0, true, ahead, 0.0f, SOUND_FX_DEFAULT);
  l = render_levels();
  ASSERT_GT(full.left, 0.1f);
  EXPECT_NEAR(l.left / full.left, gain_of(-899), 0.005f);
}

// Places view 0's camera, which the listener follows.
void place_camera(float x, float y, float z, float yaw) {
  init_view_defaults();
  set_view_enabled(0, 1);
  const Vec3 eye = {x, y, z}, angles = {0.0f, yaw, 0.0f};
  set_camera_mode(0, 0);
  set_camera_position_angles(0, &eye, &angles);
  update_view_matrices(0);
}

TEST_F(SoundManagerTest, ListenerFollowsViewZerosCamera) {
  SoundFolder f;
  start(f);
  place_camera(0, 0, 0, static_cast<float>(M_PI / 2));  // facing +x: left is +z
  sound_update();
  const float left_of_camera[3] = {0, 0, 5};
  sound_play_se_at(0, true, left_of_camera, 0.0f, SOUND_FX_DEFAULT);
  Levels l = render_levels();
  EXPECT_GT(l.left, 2.0f * l.right);

  // Without a position an effect sounds two units in front of the camera.
  place_camera(10, 1, -4, 0.0f);
  sound_update();
  sound_play_se(0, false, 0.0f, SOUND_FX_DEFAULT);
  float at[3];
  ASSERT_TRUE(audio_buffer_position(sound_se_slot(0)->buffer, at));
  EXPECT_FLOAT_EQ(at[0], 10.0f);
  EXPECT_FLOAT_EQ(at[1], 1.0f);
  EXPECT_FLOAT_EQ(at[2], -2.0f);
}

// The listener reads the camera matrix, the inverse of the view matrix, in
// every camera mode; in mode 3 the view state holds the given view matrix
// itself, which read as a camera would put the listener at the mirrored place.
TEST_F(SoundManagerTest, ListenerFollowsTheCameraInEveryCameraMode) {
  SoundFolder f;
  start(f);
  struct Case {
    const char* what;
    int mode;
    Vec3 eye;
    float yaw;
  } cases[] = {
      {"position and angles", 0, {3, 1, -7}, 0.5f},
      {"camera matrix given", 2, {-4, 2, 9}, -1.0f},
      {"view matrix given", 3, {5, -2, 11}, 1.2f},
  };
  for (const Case& c : cases) {
    init_view_defaults();
    set_view_enabled(0, 1);
    const Vec3 angles = {0.0f, c.yaw, 0.0f};
    Mat4 camera;
    mat4_from_position_euler(&camera, &c.eye, &angles);
    Mat4 given = camera;
    if (c.mode == 3) mat4_invert(&given, &camera);
    set_camera_mode(0, c.mode);
    if (c.mode == 0) {
      set_camera_position_angles(0, &c.eye, &angles);
    } else {
      set_camera_matrix(0, &given);
    }
    update_view_matrices(0);
    sound_update();
    const SoundCamera l = sound_listener_camera();
    EXPECT_NEAR(l.eye[0], c.eye.x, 1e-3f) << c.what;
    EXPECT_NEAR(l.eye[1], c.eye.y, 1e-3f) << c.what;
    EXPECT_NEAR(l.eye[2], c.eye.z, 1e-3f) << c.what;
    EXPECT_NEAR(l.yaw, c.yaw, 1e-3f) << c.what;
  }
}

TEST_F(SoundManagerTest, EffectBeyondOneHundredUnitsIsSilent) {
  SoundFolder f;
  start(f);
  // Within its minimum distance (2) an effect sounds at its full level;
  // beyond, the listener's roll-off (0.01) takes it down as 2 / (2 + 0.01 (d - 2)).
  const float at1[3] = {0, 0, 1}, at10[3] = {0, 0, 10}, at99[3] = {0, 0, 99}, at101[3] = {0, 0, 101};
  sound_play_se_at(0, true, at1, 0.0f, SOUND_FX_DEFAULT);
  const float near = render_levels().left;
  ASSERT_GT(near, 0.1f);
  sound_play_se_at(0, true, at10, 0.0f, SOUND_FX_DEFAULT);
  EXPECT_NEAR(render_levels().left / near, 2.0f / 2.08f, 0.005f);
  sound_play_se_at(0, true, at99, 0.0f, SOUND_FX_DEFAULT);
  Levels l = render_levels();
  EXPECT_NEAR(l.left / near, 2.0f / 2.97f, 0.005f);
  sound_play_se_at(0, true, at101, 0.0f, SOUND_FX_DEFAULT);
  l = render_levels();
  EXPECT_EQ(l.left + l.right, 0.0f);
}

TEST_F(SoundManagerTest, CurrentBgmRestartsWithoutReloading) {
  SoundFolder f;
  start(f);
  sound_play_bgm(SOUND_ID_BGM);
  const AudioBuffer first = sound_bgm_channel()->buffer;
  render_frames(5000);
  EXPECT_GT(audio_buffer_frame(first), 4000u);
  sound_stop_bgm();
  sound_play_bgm(SOUND_ID_BGM);
  EXPECT_EQ(sound_bgm_channel()->buffer, first);
  EXPECT_LT(audio_buffer_frame(first), 100u);
  EXPECT_TRUE(dxsound_is_playing(sound_bgm_channel()));
}

TEST_F(SoundManagerTest, LoopingEffectRestartsOnlyFromTheStartPoint) {
  SoundFolder f;
  start(f);
  sound_play_se(0, true, 0.0f, SOUND_FX_DEFAULT);
  render_frames(8000);
  const AudioBuffer b = sound_se_slot(0)->buffer;
  const uint32_t at = audio_buffer_frame(b);
  sound_play_se(0, true, 0.0f, SOUND_FX_DEFAULT);  // already looping: keeps going
  EXPECT_EQ(audio_buffer_frame(b), at);
  sound_play_se(0, true, 0.001f, SOUND_FX_DEFAULT);  // from the start
  EXPECT_EQ(audio_buffer_frame(b), 44u);
  sound_stop_se(0);
  EXPECT_FALSE(dxsound_is_playing(sound_se_slot(0)));
}

// Through the ring: 10 keeps a playing loop where it is, 11 restarts it from
// the start point, 9 plays once from the very start.
TEST_F(SoundManagerTest, LoopOpcodesRestartOnlyWhenTheyShould) {
  SoundFolder f;
  start(f);
  const AudioBuffer b = sound_se_slot(0)->buffer;
  auto post = [](uint32_t opcode) {
    sound_post_command(opcode, 0);
    ASSERT_TRUE(sound_thread_wait_idle(5000));
  };
  post(SOUND_OP_LOOP_SE);
  render_frames(8000);
  const uint32_t at = audio_buffer_frame(b);
  ASSERT_GT(at, 4000u);
  post(SOUND_OP_LOOP_SE);
  EXPECT_EQ(audio_buffer_frame(b), at);
  EXPECT_NE(audio_buffer_status(b) & AUDIO_STATUS_LOOPING, 0u);
  post(SOUND_OP_RESTART_LOOP_SE);
  EXPECT_EQ(audio_buffer_frame(b), 44u);
  EXPECT_NE(audio_buffer_status(b) & AUDIO_STATUS_LOOPING, 0u);
  render_frames(8000);
  post(SOUND_OP_PLAY_SE);
  EXPECT_EQ(audio_buffer_frame(b), 0u);
  EXPECT_EQ(audio_buffer_status(b), uint32_t{AUDIO_STATUS_PLAYING}) << "once, not looped";
  post(SOUND_OP_STOP_SE);
  EXPECT_EQ(audio_buffer_status(b), 0u);
  EXPECT_EQ(audio_buffer_frame(b), 44u);

  // The positional forms, each on the effect stopped at frame 20000: where
  // it plays from, whether it loops, and where it sounds.
  const struct {
    uint32_t opcode;
    float value;
    uint32_t frame, status;
  } at_cases[] = {
      {SOUND_OP_PLAY_SE_AT, 0.0f, 20000, AUDIO_STATUS_PLAYING},
      {SOUND_OP_LOOP_SE_AT, 0.0f, 20000, AUDIO_STATUS_PLAYING | AUDIO_STATUS_LOOPING},
      {SOUND_OP_RESTART_SE_AT, 0.0f, 44, AUDIO_STATUS_PLAYING},
      {SOUND_OP_PLAY_SE_AT_FROM, 0.5f, 22050, AUDIO_STATUS_PLAYING},
  };
  const float where[3] = {1.0f, 2.0f, 3.0f};
  for (const auto& c : at_cases) {
    sound_stop_se(0);
    audio_buffer_set_frame(b, 20000);
    sound_post_command_at_value(c.opcode, 0, where, c.value);
    ASSERT_TRUE(sound_thread_wait_idle(5000));
    EXPECT_EQ(audio_buffer_frame(b), c.frame) << c.opcode;
    EXPECT_EQ(audio_buffer_status(b), c.status) << c.opcode;
    float p[3];
    ASSERT_TRUE(audio_buffer_position(b, p));
    EXPECT_EQ(p[2], 3.0f) << c.opcode;
  }
}

// The effect flags: with the default bit the manager's default flags, else
// the flags given; a sound takes new flags only when they differ.
TEST_F(SoundManagerTest, EffectFlagsComeFromTheDefaultOrTheCaller) {
  SoundFolder f;
  start(f);
  if (!audio_has_effects()) GTEST_SKIP() << "the mixer has no effects";
  const AudioBuffer b = sound_se_slot(0)->buffer;
  sound_set_default_fx(AUDIO_EFFECT_ECHO | 30);
  sound_play_se(0, true, 0.0f, SOUND_FX_DEFAULT);
  EXPECT_EQ(audio_buffer_effect(b).kind, AUDIO_EFFECT_ECHO);
  EXPECT_EQ(audio_buffer_effect(b).echo_mix, 30);
  sound_play_se_at(0, true, nullptr, 0.0f, AUDIO_EFFECT_COMPRESSOR | 12);
  EXPECT_EQ(audio_buffer_effect(b).kind, AUDIO_EFFECT_COMPRESSOR);
  EXPECT_EQ(audio_buffer_effect(b).compressor_threshold, -12);
  EXPECT_EQ(sound_se_slot(0)->fx_flags, AUDIO_EFFECT_COMPRESSOR | 12u);
  render_frames(8000);
  const uint32_t at = audio_buffer_frame(b);
  sound_play_se(0, true, 0.0f, AUDIO_EFFECT_COMPRESSOR | 12);  // the same flags: the loop runs on
  EXPECT_EQ(audio_buffer_frame(b), at);
  sound_reset_all();
  sound_play_se(0, false, 0.0f, SOUND_FX_DEFAULT);
  EXPECT_EQ(audio_buffer_effect(b).kind, AUDIO_EFFECT_NONE) << "a reset puts the default back to none";
}

// What each all-channel stop leaves playing: stop-non-looping spares the BGM
// and the persistent effects, stop-everything nothing; both empty the voice
// queue.
TEST_F(SoundManagerTest, StopsLeaveTheBgmAndPersistentEffectsAsTheySay) {
  SoundFolder f;
  start(f);
  DxSound* se = const_cast<DxSound*>(sound_se_slot(0));
  for (bool everything : {false, true}) {
    for (uint32_t persistent : {0u, 1u}) {
      se->persistent = persistent;
      sound_play_bgm(SOUND_ID_BGM);
      sound_play_ambient(SOUND_ID_VOICE);
      sound_play_se(0, true, 0.0f, SOUND_FX_DEFAULT);
      voice_queue_push(SOUND_ID_VOICE, 60);
      sound_update();  // the voice starts
      voice_queue_push(kSilentVoiceId, 60);
      voice_queue_push(kSilentVoiceId, 60);
      ASSERT_TRUE(sound_is_voice_playing());
      if (everything) {
        sound_stop_everything();
      } else {
        sound_stop_nonlooping();
      }
      SCOPED_TRACE(testing::Message() << (everything ? "everything" : "non-looping") << " persistent "
                                      << persistent);
      EXPECT_EQ(voice_queue_count(), 0);
      EXPECT_FALSE(sound_is_voice_playing());
      EXPECT_FALSE(dxsound_is_playing(sound_ambient_channel()));
      EXPECT_EQ(dxsound_is_playing(sound_bgm_channel()), !everything);
      EXPECT_EQ(dxsound_is_playing(se), !everything && persistent);
      sound_stop_se(0);
      run_until(sound_frame_counter() + 300);  // past the repeat rule
    }
  }
}

// The ambient channel plays the voice table's sounds looped; it needs a
// voice id, and its stop and volume act only while it plays.
TEST_F(SoundManagerTest, AmbientSoundsLoop) {
  SoundFolder f("wav", true, 4410);
  start(f);
  sound_play_ambient(0);
  EXPECT_EQ(sound_ambient_channel(), nullptr) << "not a voice id";
  sound_play_ambient(SOUND_ID_VOICE);
  const DxSound* a = sound_ambient_channel();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(audio_buffer_volume(a->buffer), -1149);
  render_frames(3 * 4410);
  EXPECT_EQ(dxsound_get_status(a), uint32_t{AUDIO_STATUS_PLAYING | AUDIO_STATUS_LOOPING}) << "past its end";
  sound_set_ambient_volume(1.0f);
  EXPECT_EQ(audio_buffer_volume(a->buffer), -250);
  sound_stop_ambient();
  EXPECT_FALSE(dxsound_is_playing(a));
  sound_release_ambient();
  EXPECT_EQ(sound_ambient_channel(), nullptr);
  sound_set_ambient_volume(0.5f);  // nothing loaded: nothing happens
  sound_stop_ambient();
}

TEST_F(SoundManagerTest, MasterEffectVolumeZeroMutes) {
  SoundFolder f;
  start(f);
  sound_set_se_master_volume(0.0f);
  EXPECT_EQ(audio_buffer_volume(sound_se_slot(0)->buffer), AUDIO_VOLUME_MIN);
  sound_set_se_master_volume(0.5f);
  EXPECT_EQ(audio_buffer_volume(sound_se_slot(0)->buffer), -6000);  // the level applies twice
  sound_restore_se_volume(0);
  EXPECT_EQ(audio_buffer_volume(sound_se_slot(0)->buffer), -6000);
  sound_set_se_volume(0, NAN);  // read as 0: 60 dB below the base
  EXPECT_EQ(audio_buffer_volume(sound_se_slot(0)->buffer), -9000);
  sound_set_se_master_volume(1.0f);
  // Scaled from the effect volume 0.85, held within 0..1.
  for (const auto& [scale, level] : {std::pair{1.0f, -899}, std::pair{2.0f, 0}, std::pair{0.0f, -6000},
                                     std::pair{-1.0f, -6000}, std::pair{NAN, -6000}}) {
    sound_scale_se_volume(0, scale);
    EXPECT_EQ(audio_buffer_volume(sound_se_slot(0)->buffer), level) << scale;
  }
}

// The master level scales everything the listener hears.
TEST_F(SoundManagerTest, PrimaryVolumeScalesTheMix) {
  SoundFolder f;
  start(f);
  sound_play_bgm(SOUND_ID_BGM);
  const float full = render_levels().left;
  ASSERT_GT(full, 0.1f);
  sound_set_primary_volume(0.5f);
  EXPECT_NEAR(render_levels().left / full, gain_of(-3000), 0.005f);
  sound_set_master_volume(0.0f);
  EXPECT_EQ(render_levels().left, 0.0f);
  sound_set_master_volume(1.0f);
  EXPECT_NEAR(render_levels().left / full, 1.0f, 0.005f);
}

// Rewinding puts every effect back to its start; priming plays each once
// and stops it again, at the start.
TEST_F(SoundManagerTest, RewindAndPrimeLeaveTheEffectsAtTheirStart) {
  SoundFolder f;
  start(f);
  const AudioBuffer b = sound_se_slot(0)->buffer;
  sound_play_se(0, true, 0.0f, SOUND_FX_DEFAULT);
  render_frames(8000);
  sound_post_simple(SOUND_OP_REWIND_SES);
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  EXPECT_LT(audio_buffer_frame(b), 10u);
  EXPECT_TRUE(dxsound_is_playing(sound_se_slot(0))) << "a rewind does not stop";
  render_frames(8000);
  sound_stop_se(0);
  sound_prime_ses();
  EXPECT_FALSE(dxsound_is_playing(sound_se_slot(0)));
  EXPECT_EQ(audio_buffer_frame(b), 0u);
}

// The reverb's failure message is raised on the worker, which may not show a
// message box: the main thread's next frame shows it. The failed flags are
// kept, so the next play neither retries nor says it again.
TEST_F(SoundManagerTest, AReverbThatCannotBeAppliedIsSaidOnceOnTheMainThread) {
  SoundFolder f;
  start(f);
  audio_buffer_destroy(sound_se_slot(0)->buffer);  // no effect can be applied to it now
  sound_set_default_fx(AUDIO_EFFECT_REVERB | 3);
  const std::string said = "tamberlune: エラー: 最低品質でも失敗しました\n";
  ::testing::internal::CaptureStderr();
  sound_post_command(SOUND_OP_PLAY_SE, 0);
  sound_post_command(SOUND_OP_PLAY_SE, 0);
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "not on the worker";
  ::testing::internal::CaptureStderr();
  sound_update();
  sound_update();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), said);
  EXPECT_EQ(sound_se_slot(0)->fx_flags, AUDIO_EFFECT_REVERB | 3u);
  // On the main thread the box comes at once.
  sound_set_default_fx(AUDIO_EFFECT_REVERB | 4);
  ::testing::internal::CaptureStderr();
  sound_play_se(0, false, 0.0f, SOUND_FX_DEFAULT);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), said);
}

// No semaphore, no worker: said on stderr with the cause, and commands are
// dropped.
TEST_F(SoundManagerTest, WithoutItsSemaphoreSoundSaysItCannotStart) {
  const struct {
    const char* scope;  // null: the tests' own, with every handle of "sound" taken
    const char* said;
  } cases[] = {
      {"no/such/scope", "tamberlune: sound cannot start: its semaphore \"sound\" cannot be made in /dev/shm\n"},
      {nullptr, "tamberlune: sound cannot start: its semaphore \"sound\" has 64 users already, the most it serves\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    SoundFolder f;
    std::vector<SharedSemaphore*> taken;
    if (c.scope) shared_semaphore_set_scope(c.scope);
    while (!c.scope && taken.size() < 64) taken.push_back(create_shared_semaphore(1, 1, "sound"));
    ::testing::internal::CaptureStderr();
    start(f);
    const std::string said = ::testing::internal::GetCapturedStderr();
    shared_semaphore_set_scope(std::getenv("TL_TEST_SEMAPHORE_SCOPE"));
    for (SharedSemaphore* s : taken) close_shared_semaphore(s);
    EXPECT_EQ(said, c.said);
    EXPECT_FALSE(sound_thread_running());
    EXPECT_EQ(sound_post_command(SOUND_OP_PLAY_SE, 0), 0);
    EXPECT_EQ(sound_error_code(), 0);
  }
}

TEST_F(SoundManagerTest, OutOfRangeIndicesDoNothing) {
  SoundFolder f;
  start(f);
  sound_play_se(5, false, 0.0f, 0);
  sound_play_bgm(SOUND_ID_BGM | 3);
  sound_play_voice(SOUND_ID_VOICE | 9);
  sound_play_voice(0);  // not a voice id
  EXPECT_EQ(sound_voice_channel(), nullptr);
  EXPECT_EQ(sound_error_code(), 0);
}

TEST_F(SoundManagerTest, FileNamesComeFromTheWorkingFolderAndExtension) {
  {
    SoundFolder f("wav");
    start(f);
    EXPECT_EQ(sys_map_path(sound_file_name("0")), f.dir.path + "/./0.wav");
    sound_shutdown();
  }
  SoundFolder g("", false);
  write_file(g.dir.path + "/0", make_dc_wav(100));
  start(g);
  EXPECT_EQ(sound_error_code(), 0);
  EXPECT_EQ(sys_map_path(sound_file_name("0")), g.dir.path + "/./0");
}

TEST_F(SoundManagerTest, PostedCommandsReachTheChannels) {
  SoundFolder f;
  start(f);
  sound_post_value(SOUND_OP_VOICE_VOLUME, 1.0f);  // no voice plays yet: nothing happens
  sound_post_command(SOUND_OP_RESUME_BGM, 0);
  sound_post_value(SOUND_OP_BGM_VOLUME, 1.0f);
  sound_post_command(SOUND_OP_PLAY_VOICE, SOUND_ID_VOICE);
  sound_post_command(SOUND_OP_LOOP_SE, 0);
  sound_post_command_extra(SOUND_OP_SE_FREQUENCY, 0, 500000);
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  EXPECT_EQ(dxsound_get_status(sound_bgm_channel()), uint32_t{AUDIO_STATUS_PLAYING | AUDIO_STATUS_LOOPING});
  EXPECT_EQ(audio_buffer_volume(sound_bgm_channel()->buffer), -250);
  EXPECT_EQ(audio_buffer_volume(sound_voice_channel()->buffer), -1149);
  EXPECT_EQ(sound_get_voice_status(), uint32_t{AUDIO_STATUS_PLAYING});
  sound_post_value(SOUND_OP_VOICE_VOLUME, 1.0f);
  sound_post_command_value(SOUND_OP_SE_VOLUME, 0, 0.5f);
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  EXPECT_EQ(audio_buffer_volume(sound_voice_channel()->buffer), -250);
  EXPECT_EQ(audio_buffer_volume(sound_se_slot(0)->buffer), -3000);
  EXPECT_TRUE(sound_is_voice_playing());
  EXPECT_TRUE(dxsound_is_playing(sound_se_slot(0)));
  EXPECT_EQ(sound_get_se_frequency(0), 200000u);

  sound_post_simple(SOUND_OP_STOP_EVERYTHING);
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  EXPECT_FALSE(dxsound_is_playing(sound_bgm_channel()));
  EXPECT_FALSE(sound_is_voice_playing());
  EXPECT_FALSE(dxsound_is_playing(sound_se_slot(0)));

  sound_post_simple(SOUND_OP_RELEASE_BGM);
  sound_post_simple(SOUND_OP_RELEASE_VOICE);
  ASSERT_TRUE(sound_thread_wait_idle(5000));
  EXPECT_EQ(sound_bgm_channel(), nullptr);
  EXPECT_EQ(sound_voice_channel(), nullptr);
  EXPECT_EQ(sound_error_code(), 0);
}

TEST_F(SoundManagerTest, VoiceQueuePlaysInTurnAndDropsRepeats) {
  SoundFolder f("wav", true, 4410);  // a 0.1 s voice
  start(f);
  EXPECT_TRUE(voice_queue_push(SOUND_ID_VOICE, 60));
  EXPECT_FALSE(voice_queue_push(3, 60));  // not a voice
  sound_update();  // starts it
  EXPECT_TRUE(sound_is_voice_playing());
  EXPECT_EQ(voice_queue_count(), 0);
  sound_update();  // sees it playing
  render_frames(8000);  // the voice ends
  EXPECT_FALSE(sound_is_voice_playing());
  // Queued again 99 frames after it started: dropped as a repeat.
  for (int i = 0; i < 97; ++i) sound_update();
  EXPECT_TRUE(voice_queue_push(SOUND_ID_VOICE, 60));
  sound_update();
  EXPECT_FALSE(sound_is_voice_playing());
  EXPECT_EQ(voice_queue_count(), 0);
  // 300 frames after it started it plays again, at once.
  for (int i = 0; i < 200; ++i) sound_update();
  EXPECT_EQ(sound_frame_counter(), 300u);
  EXPECT_TRUE(voice_queue_push(SOUND_ID_VOICE, 60));
  sound_update();
  EXPECT_TRUE(sound_is_voice_playing());
}

// A voice that never plays keeps the queue waiting until it gives up.
constexpr SoundId kSilentVoice = kSilentVoiceId;

TEST_F(SoundManagerTest, RepeatedVoiceIsDroppedUpToItsLastFrame) {
  SoundFolder f("wav", true, 4410);
  const struct {
    uint32_t frame;
    bool plays;
  } cases[] = {{2, false}, {299, false}, {300, true}, {301, true}};
  for (const auto& c : cases) {
    start(f);
    voice_queue_push(SOUND_ID_VOICE, 60);
    sound_update();  // started at frame 0
    sound_update();  // seen playing
    ASSERT_TRUE(sound_is_voice_playing());
    render_frames(8000);
    run_until(c.frame);
    EXPECT_TRUE(voice_queue_push(SOUND_ID_VOICE, 60));
    sound_update();
    EXPECT_EQ(sound_is_voice_playing(), c.plays) << c.frame;
    EXPECT_EQ(voice_queue_count(), 0) << c.frame;
  }
}

TEST_F(SoundManagerTest, WaitingVoiceStartsAtTheGiveUpFrameWithinItsLifetime) {
  SoundFolder f("wav", true, 4410);
  const struct {
    uint32_t queued_frame;
    int32_t lifetime;
    bool plays;  // at the give-up frame, 181 frames after the silent voice
  } cases[] = {
      {120, 60, true},  // 61 frames old: lifetime + 1 is still in time
      {119, 60, false},
      {170, 10, true},
      {169, 10, false},
      {180, 0, true},
      {179, 0, false},
  };
  for (const auto& c : cases) {
    start(f);
    ASSERT_TRUE(voice_queue_push(kSilentVoice, 60));
    sound_update();  // started at frame 0, never seen playing
    run_until(c.queued_frame);
    ASSERT_TRUE(voice_queue_push(SOUND_ID_VOICE, c.lifetime));
    run_until(VOICE_GIVE_UP_FRAMES);
    EXPECT_EQ(voice_queue_count(), 1) << c.queued_frame << ": still waiting one frame before the give-up";
    EXPECT_FALSE(sound_is_voice_playing());
    sound_update();
    EXPECT_EQ(voice_queue_count(), 0) << c.queued_frame;
    EXPECT_EQ(sound_is_voice_playing(), c.plays) << c.queued_frame << " lifetime " << c.lifetime;
  }
}

TEST_F(SoundManagerTest, ClearStopsWaitingButKeepsTheRepeatRule) {
  SoundFolder f("wav", true, 4410);
  start(f);
  voice_queue_push(kSilentVoice, 60);
  sound_update();
  run_until(10);
  voice_queue_clear();  // no longer waits for the silent voice
  voice_queue_push(SOUND_ID_VOICE, 60);
  sound_update();
  EXPECT_TRUE(sound_is_voice_playing()) << "a cleared queue starts the next voice at once";
  run_until(20);
  voice_queue_clear();
  EXPECT_FALSE(sound_is_voice_playing()) << "a clear stops the voice";
  voice_queue_push(SOUND_ID_VOICE, 60);
  sound_update();
  EXPECT_FALSE(sound_is_voice_playing()) << "the voice of frame 10 is still a repeat";
  EXPECT_EQ(voice_queue_count(), 0);
  voice_queue_reset();
  voice_queue_push(SOUND_ID_VOICE, 60);
  sound_update();
  EXPECT_TRUE(sound_is_voice_playing()) << "a reset forgets the last voice";
}

TEST_F(SoundManagerTest, ASecondStartBeginsAfresh) {
  SoundFolder f("wav", true, 4410);
  start(f);
  voice_queue_push(SOUND_ID_VOICE, 60);
  run_until(50);
  voice_queue_push(kSilentVoice, 60);
  voice_queue_push(kSilentVoice, 60);
  const float eye[3] = {4.0f, 5.0f, 6.0f};
  sound_set_listener_camera(eye, 1.0f);
  sound_set_bgm_volume(0.2f);
  sound_set_default_fx(7);

  start(f);
  EXPECT_EQ(sound_frame_counter(), 0u);
  EXPECT_EQ(voice_queue_count(), 0);
  EXPECT_EQ(sound_error_code(), 0);
  const SoundCamera cam = sound_listener_camera();
  EXPECT_EQ(cam.eye[0], 0.0f);
  EXPECT_EQ(cam.eye[2], 0.0f);
  EXPECT_EQ(cam.yaw, 0.0f);
  EXPECT_EQ(audio_buffer_volume(sound_bgm_channel()->buffer), -1150);
  EXPECT_FALSE(sound_is_voice_playing());
  voice_queue_push(SOUND_ID_VOICE, 60);
  sound_update();
  EXPECT_TRUE(sound_is_voice_playing()) << "the voice of the first run is no repeat";
}

// The queue follows a voice it started also while nothing waits, so a voice
// queued after that one ended starts at once, not at the give-up frame.
TEST_F(SoundManagerTest, AVoiceQueuedAfterTheLastEndedStartsAtOnce) {
  SoundFolder f("wav", true, 4410);
  start(f);
  voice_queue_push(SOUND_ID_VOICE, 60);
  sound_update();  // started at frame 0
  sound_update();  // seen playing, with nothing waiting
  render_frames(8000);  // it ends
  run_until(50);
  ASSERT_TRUE(voice_queue_push(kSilentVoice, 60));
  sound_update();
  EXPECT_EQ(voice_queue_count(), 0);
  EXPECT_EQ(voice_queue_state().current, kSilentVoice);
  EXPECT_EQ(voice_queue_state().start_frame, 50u);
}

// voice_queue_play empties the queue and queues the voice for 60 frames; a
// step that starts a voice records it as current and last.
TEST_F(SoundManagerTest, PlayQueuesTheVoiceAloneForSixtyFrames) {
  SoundFolder f("wav", true, 4410);
  start(f);
  run_until(7);
  voice_queue_push(kSilentVoice, 20);
  voice_queue_push(kSilentVoice, 30);
  voice_queue_play(3);  // not a voice: nothing changes
  EXPECT_EQ(voice_queue_count(), 2);
  voice_queue_play(SOUND_ID_VOICE);
  const VoiceQueue& q = voice_queue_state();
  ASSERT_EQ(q.count, 1);
  const VoiceRequest& r = q.entries[(q.read_index + 1) & (VOICE_QUEUE_SLOTS - 1)];
  EXPECT_EQ(r.id, SOUND_ID_VOICE);
  EXPECT_EQ(r.lifetime, 60);
  EXPECT_EQ(r.queued_frame, 7u);
  sound_update();
  EXPECT_EQ(q.count, 0);
  EXPECT_EQ(q.current, SOUND_ID_VOICE);
  EXPECT_EQ(q.start_frame, 7u);
  EXPECT_EQ(q.state, 1u);
  EXPECT_EQ(q.last, SOUND_ID_VOICE);
  EXPECT_EQ(q.last_frame, 7u);
  sound_update();
  EXPECT_EQ(q.state, 2u) << "seen playing";
  EXPECT_TRUE(sound_is_voice_playing());
}

// Before start-up and after shutdown every operation does nothing.
TEST(SoundWithoutManager, EveryOperationDoesNothing) {
  sound_shutdown();
  const float at[3] = {1, 2, 3};
  sound_update();
  sound_play_bgm(SOUND_ID_BGM);
  sound_restart_bgm(SOUND_ID_BGM);
  sound_resume_bgm();
  sound_stop_bgm();
  sound_release_bgm();
  sound_set_bgm_volume(0.5f);
  sound_set_bgm_pan(0.5f);
  sound_play_voice(SOUND_ID_VOICE);
  sound_stop_voice();
  sound_release_voice();
  sound_set_voice_volume(0.5f);
  sound_play_ambient(SOUND_ID_VOICE);
  sound_stop_ambient();
  sound_release_ambient();
  sound_set_ambient_volume(0.5f);
  sound_play_se(0, true, 0.0f, SOUND_FX_DEFAULT);
  sound_play_se_at(0, false, at, 0.5f, 0);
  sound_stop_se(0);
  sound_set_se_volume(0, 0.5f);
  sound_scale_se_volume(0, 0.5f);
  sound_restore_se_volume(0);
  sound_set_se_master_volume(0.5f);
  sound_set_se_frequency(0, 22050);
  sound_set_se_pan(0, 0.5f);
  sound_rewind_ses();
  sound_prime_ses();
  sound_set_default_fx(7);
  sound_stop_nonlooping();
  sound_stop_everything();
  sound_reset_all();
  sound_set_primary_volume(0.5f);
  sound_listener_reset();
  EXPECT_EQ(sound_error_code(), 0);
  EXPECT_FALSE(sound_is_ready());
  EXPECT_FALSE(sound_is_voice_playing());
  EXPECT_EQ(sound_get_voice_status(), 0u);
  EXPECT_EQ(sound_get_se_frequency(0), 0u);
  EXPECT_EQ(sound_file_name("0"), "");
  EXPECT_EQ(sound_voice_file_name(0), "");
  EXPECT_EQ(sound_bgm_channel(), nullptr);
  EXPECT_EQ(sound_se_slot(0), nullptr);
}

TEST(VoiceQueueRules, RefusesWhenFullAndZeroLifetimeBehindOthers) {
  voice_queue_reset();
  EXPECT_TRUE(voice_queue_push(SOUND_ID_VOICE, 0));
  EXPECT_TRUE(voice_queue_push(SOUND_ID_VOICE, 0));  // one waits: still taken
  EXPECT_FALSE(voice_queue_push(SOUND_ID_VOICE, 0));  // two wait: refused
  for (int i = 2; i < 15; ++i) EXPECT_TRUE(voice_queue_push(SOUND_ID_VOICE, 10)) << i;
  EXPECT_FALSE(voice_queue_push(SOUND_ID_VOICE, 10));  // the 16th
  EXPECT_EQ(voice_queue_count(), 15);
  voice_queue_clear();
  EXPECT_EQ(voice_queue_count(), 0);
}

TEST(SoundNames, LookupAndModes) {
  const char* const table[] = {"0.wav", "Rain.loop", "abc"};
  EXPECT_EQ(sound_lookup_name("0", table, 3), 0);
  EXPECT_EQ(sound_lookup_name("rain", table, 3), 1);
  EXPECT_EQ(sound_lookup_name("ab", table, 3), -1);
  EXPECT_EQ(sound_lookup_name("abcd", table, 3), -1);
  EXPECT_EQ(sound_lookup_name("", table, 3), -1);
  EXPECT_EQ(sound_bgm_id("0"), int64_t{0x80000000});
  EXPECT_EQ(sound_voice_id("0"), int64_t{0x40000000});
  EXPECT_EQ(sound_se_id("0"), 0);
  EXPECT_EQ(sound_bgm_id("x"), -1);
  EXPECT_EQ(sound_voice_id("x"), -1);

  struct ModeCase {
    const char* name;
    DxSoundMode se;
    DxSoundMode bgm;
  };
  const ModeCase cases[] = {
      {"s_frq", DXSOUND_FREQUENCY, DXSOUND_PLAIN}, {"sabc", DXSOUND_PLAIN, DXSOUND_PLAIN},
      {"i", DXSOUND_PLAIN, DXSOUND_PLAIN},         {"s_fr", DXSOUND_PLAIN, DXSOUND_PLAIN},
      {"0", DXSOUND_3D, DXSOUND_PLAIN},            {"bgmP", DXSOUND_3D, DXSOUND_PAN},
      {"P", DXSOUND_3D, DXSOUND_PLAIN},
  };
  for (const ModeCase& c : cases) {
    EXPECT_EQ(sound_se_mode(c.name), c.se) << c.name;
    EXPECT_EQ(sound_bgm_mode(c.name), c.bgm) << c.name;
  }
}

TEST(SoundLevels, VolumeToAttenuation) {
  EXPECT_EQ(volume_to_attenuation(0.0f), -10000);
  EXPECT_EQ(volume_to_attenuation(0.5f), -3000);
  EXPECT_EQ(volume_to_attenuation(1.0f), 0);
  EXPECT_EQ(volume_to_attenuation(NAN), -10000);
}

const SceneEntry kNoScenes[SCENE_COUNT] = {{nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr}};

// Start-up as the program runs it, then the first frame's error poll.
[[noreturn]] void start_and_run_a_frame(const std::string& folder, AudioDeviceKind device) {
  init_scene_runner_with(kNoScenes);
  sound_init_with({folder, device});
  update_frame();
  std::exit(0);
}

TEST(SoundStartUpDeathTest, MissingSoundFileEndsTheProgram) {
  SoundFolder f("wav", false);
  EXPECT_EXIT(start_and_run_a_frame(f.dir.path, AUDIO_DEVICE_LOOPBACK), ::testing::ExitedWithCode(1),
              "0\\.wav: missing or not a wave file(.|\n)*fatal error 3 258 0");
}

TEST(SoundStartUpDeathTest, FileThatIsNotAWaveFileEndsTheProgram) {
  SoundFolder f("wav", false);
  f.dir.file("0.wav", "just some text, not a wave file at all");
  EXPECT_EXIT(start_and_run_a_frame(f.dir.path, AUDIO_DEVICE_LOOPBACK), ::testing::ExitedWithCode(1),
              "fatal error 3 258 0");
}

// The tests' working folder, a copy of the shipped one, for a death test run
// in a fresh process: that process runs the test again and ends without
// destructors, so a folder of its own would be left behind in /tmp.
std::string shipped_folder() {
  load_startup_config("KT52.CF");
  return sys_get_current_dir();
}

TEST(SoundStartUpDeathTest, NoSoundDeviceEndsTheProgramWithAHint) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process reads the driver list anew
  EXPECT_EXIT(
      {
        setenv("ALSOFT_DRIVERS", "no-such-driver", 1);
        start_and_run_a_frame(shipped_folder(), AUDIO_DEVICE_DEFAULT);
      },
      ::testing::ExitedWithCode(1), "ALSOFT_DRIVERS=null(.|\n)*fatal error 3 256 0");
}

TEST(SoundStartUpDeathTest, NullDriverOpensTheDefaultDevice) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        setenv("ALSOFT_DRIVERS", "null", 1);
        sound_init_with({shipped_folder(), AUDIO_DEVICE_DEFAULT});
        const bool ok = sound_error_code() == 0 && sound_thread_wait_idle(5000) && sound_bgm_channel();
        sound_shutdown();
        std::exit(ok ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
