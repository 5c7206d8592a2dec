// Sound buffers that lose their samples and get them back from their files,
// whole-file reads, the system volume without a mixer, and the settings that
// choose a second root or folder.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "assets/package_loader.h"
#include "shell/services/settings_store.h"
#include "sound/dx_sound.h"
#include "sound/sound_manager.h"
#include "sound_test_util.h"
#include "temp_dir.h"

namespace {

class SoundFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(audio_open(AUDIO_DEVICE_LOOPBACK, nullptr)); }
  void TearDown() override { audio_close(); }
  std::string write_dc(const TempDir& dir, const char* name) {
    const std::vector<uint8_t> wav = make_dc_wav(20000);
    return dir.file(name, std::string(wav.begin(), wav.end()));
  }
};

// A lost buffer is silent and refuses to play until restored; dxsound_play
// restores it and refills it from its file, so it sounds again. When the file
// is gone meanwhile, play fails and says so by its result.
TEST_F(SoundFilesTest, LostBuffersAreRestoredFromTheirFiles) {
  TempDir dir;
  struct Case {
    const char* what;
    bool file_kept;
    int play;
    bool sounds;
  } cases[] = {
      {"file still there", true, 0, true},
      {"file gone", false, -1, false},
  };
  for (const Case& c : cases) {
    DxSound s;
    const std::string path = write_dc(dir, "dc.wav");
    ASSERT_EQ(dxsound_load_wave(&s, path, DXSOUND_PLAIN, 1.0f), 0) << c.what;
    audio_force_buffers_lost();
    EXPECT_NE(dxsound_get_status(&s) & AUDIO_STATUS_LOST, 0u) << c.what;
    EXPECT_EQ(audio_buffer_play(s.buffer, false), AUDIO_LOST) << c.what;
    if (!c.file_kept) std::remove(path.c_str());
    EXPECT_EQ(dxsound_play(&s, true), c.play) << c.what;
    const Levels l = render_levels();
    EXPECT_EQ(l.left > 0.1f, c.sounds) << c.what;
    EXPECT_EQ(dxsound_get_status(&s) & AUDIO_STATUS_LOST, 0u) << c.what;
  }
}

// Stopping a playing buffer signals the stop event it was given; stopping a
// stopped one does not.
TEST_F(SoundFilesTest, StopNotificationSignalsOnlyARealStop) {
  TempDir dir;
  DxSound s;
  ASSERT_EQ(dxsound_load_wave(&s, write_dc(dir, "dc.wav"), DXSOUND_PLAIN, 1.0f), 0);
  SoundStopEvent* e = sound_stop_event();
  EXPECT_EQ(dxsound_set_stop_notification(&s, e), 0);
  dxsound_stop(&s);
  EXPECT_FALSE(sound_stop_event_wait(e, 0));
  ASSERT_EQ(dxsound_play(&s, true), 0);
  dxsound_stop(&s);
  EXPECT_TRUE(sound_stop_event_wait(e, 0));
  EXPECT_FALSE(sound_stop_event_wait(e, 0)) << "a signal is taken once";
  EXPECT_FALSE(sound_stop_thread_start());
  // Nothing started it, so its run flag is down: the procedure ends at once.
  sound_stop_thread_proc();
  sound_stop_thread_stop();
}

TEST(SoundReadFile, ReadsWholeFilesWithinItsBuffer) {
  TempDir dir;
  struct Case {
    const char* what;
    std::string body;
    bool ok;
  } cases[] = {
      {"plain file", "RIFF....", true},
      {"SP head kept", "SP\x01\x02rest", true},
      {"c. refused", "c.data", false},
      {"a lone c", "c", true},
      {"c and no dot", "c:data", true},
      {"empty", "", true},
      {"at the limit", std::string(SOUND_READ_FILE_MAX, 'x'), true},
      {"one byte over", std::string(SOUND_READ_FILE_MAX + 1, 'x'), false},
  };
  for (const Case& c : cases) {
    const std::string path = dir.file("f.bin", c.body);
    size_t size = 7;
    const uint8_t* data = sound_read_file(path, &size);
    EXPECT_EQ(data != nullptr, c.ok) << c.what;
    EXPECT_EQ(size, c.ok ? c.body.size() : 0u) << c.what;
    if (data) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size), c.body) << c.what;
    }
  }
  size_t size = 7;
  EXPECT_EQ(sound_read_file(dir.path + "/missing", &size), nullptr);
  EXPECT_EQ(size, 0u);
}

// Without a mixer the system volume gives a clear error, never success.
TEST(SoundSystemVolume, NoMixerIsAnError) {
  TempDir dir;
  const std::string config = dir.file("asound.conf", "");
  const char* old = std::getenv("ALSA_CONFIG_PATH");
  const std::string saved = old ? old : "";
  ::setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
  std::string why;
  EXPECT_LT(audio_set_system_volume(0.5f, &why), 0);
  EXPECT_FALSE(why.empty());
  EXPECT_LT(sound_set_system_volume(0.5f), 0);
  if (old) {
    ::setenv("ALSA_CONFIG_PATH", saved.c_str(), 1);
  } else {
    ::unsetenv("ALSA_CONFIG_PATH");
  }
}

// "golng" = 1 puts the package loader's second root first; any other value,
// or no key, keeps the first.
TEST(SecondLanguage, GolngChoosesTheRootPreference) {
  struct Case {
    const char* what;
    int value;  // -1: no key
    int preference;
  } cases[] = {{"no key", -1, 0}, {"golng 0", 0, 0}, {"golng 1", 1, 1}, {"golng 2", 2, 0}};
  for (const Case& c : cases) {
    free_settings();
    if (c.value >= 0) {
      ASSERT_TRUE(set_setting_int("golng", c.value));
    }
    init_package_loader();
    EXPECT_EQ(package_loader()->root_preference, c.preference) << c.what;
    shutdown_package_loader();
  }
  free_settings();
}

}  // namespace
