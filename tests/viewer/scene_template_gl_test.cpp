// The scene template run as a scene would be: init resets the components,
// view 0's projection centre and the sound requests; update resolves the
// frame's requests; release clears the components again.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/window/window.h"
#include "render/graphics/graphics.h"
#include "render/tasks/task.h"
#include "render/view/view_state.h"
#include "shell/app/scene_runner.h"
#include "shell/services/startup_config.h"
#include "sound/dx_sound.h"
#include "sound/positional_requests.h"
#include "sound/sound_manager.h"
#include "sound/sound_test_util.h"
#include "temp_dir.h"
#include "viewer/scene_template.h"

namespace {

class SceneTemplate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window_system_init());
    window = window_create("template test", 64, 48, nullptr);
    ASSERT_NE(window, nullptr);
    const int layout[5] = {64, 48, 64, 48, 0};
    gfx_init(window, 0, 64, 48, 32, layout);
    dir.file("KT52.CF", "SFEXT wav\n");
    load_startup_config(dir.path + "/KT52.CF");
    const std::vector<uint8_t> wav = make_dc_wav(44100);
    std::ofstream(dir.path + "/0.wav", std::ios::binary)
        .write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));
    sound_init_with({dir.path, AUDIO_DEVICE_LOOPBACK});
    ASSERT_TRUE(sound_thread_wait_idle(5000));
  }
  void TearDown() override {
    sound_shutdown();
    gfx_shutdown();
    window_destroy(window);
    window_system_shutdown();
  }
  TempDir dir;
  PlatformWindow* window = nullptr;
};

TEST_F(SceneTemplate, InitUpdateAndReleaseAsASceneEntry) {
  const SceneEntry entry{template_scene_init, template_scene_update, template_scene_release};

  // What an earlier scene left behind.
  ASSERT_NE(task_create(1), nullptr);
  set_projection_center(0, 0.25f, 0.75f);
  sound_requests_init();
  sound_requests_random();
  entry.init();
  EXPECT_EQ(tasks_get_alive_count(), 0u);
  EXPECT_FLOAT_EQ(get_projection_center_x(0), 0.5f);
  EXPECT_FLOAT_EQ(get_projection_center_y(0), 0.5f);
  EXPECT_EQ(sound_requests_random(), 41u) << "the generator starts again";
  EXPECT_EQ(template_scene_state()->frames, 0u);

  // A request made during the frame plays at the update.
  set_view_enabled(0, 1);
  sound_request_play(0, nullptr);
  EXPECT_EQ(entry.update(), 0);
  EXPECT_EQ(sound_requests_frame(), 1u);
  EXPECT_EQ(sound_requests_block()->count, 0u);
  EXPECT_TRUE(audio_buffer_status(sound_se_slot(0)->buffer) & AUDIO_STATUS_PLAYING);
  EXPECT_EQ(entry.update(), 0);
  EXPECT_EQ(template_scene_state()->frames, 2u);

  ASSERT_NE(task_create(1), nullptr);
  entry.exit();
  EXPECT_EQ(tasks_get_alive_count(), 0u);

  // A second run starts from a zeroed record.
  entry.init();
  EXPECT_EQ(template_scene_state()->frames, 0u);
  EXPECT_EQ(sound_requests_frame(), 0u);
  entry.exit();
}

TEST_F(SceneTemplate, ResetViewsRestoresTheViewDefaults) {
  template_scene_init();
  const float near = get_near(0);
  set_near(0, near + 3.0f);
  template_scene_reset_views();
  EXPECT_FLOAT_EQ(get_near(0), near);
  template_scene_release();
}

}  // namespace
