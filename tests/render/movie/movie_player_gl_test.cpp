// The movie player on a real device: frames taken from the decoding thread
// land in the 1024 x 1024 textures, which take turns as the front, and the
// one-frame sprites show the front texture where the player draws.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "assets/textures.h"
#include "graphics_session.h"
#include "render/movie/movie_player.h"
#include "render/overlay2d/sprite2d.h"
#include "render/tasks/task.h"
#include "test_movie.h"

namespace {

class MoviePlayerOnDevice : public GraphicsSession {
 protected:
  void SetUp() override {
    start_graphics(64, 48, "movie player test");
    movie_player_construct();
    path = test_movie_path("player.avi");
    ASSERT_TRUE(write_test_movie(path, TestMovieCodec::Raw, 8, 6, 5, 10));
  }
  void TearDown() override {
    movie_player_stop();
    std::remove(path.c_str());
    GraphicsSession::TearDown();
  }
  // Waits, without a deadline of its own, until the decoding thread has
  // staged a frame: the staging is what these tests look at.
  static void wait_for_staged_frame() {
    MoviePlayer* p = movie_player();
    for (;;) {
      {
        std::lock_guard<std::mutex> guard(p->lock);
        if (p->new_frame != 0) return;
      }
      std::this_thread::yield();
    }
  }

  std::string path;
};

TEST_F(MoviePlayerOnDevice, FramesReachTheFrontTextureAndItsSprites) {
  const AssetHandle t0 = movie_player_create_texture(0);
  const AssetHandle t1 = movie_player_create_texture(1);
  ASSERT_NE(t0, 0u);
  ASSERT_NE(t1, 0u);
  EXPECT_EQ(find_texture("mex", "mvt1"), t0);
  EXPECT_EQ(find_texture("mex", "mvtx"), t1);
  EXPECT_EQ(get_texture_object(t1)->width, 1024);

  ASSERT_EQ(movie_player_open_avi(path.c_str()), 1);
  MoviePlayer* p = movie_player();
  p->timing_mode = 2;
  movie_player_play();
  p->run = 1;
  p->thread = std::thread(movie_player_thread);
  // The player's own sprite, which present hands the front texture.
  Task* sprite = sprite2d_create_texture(0, 0, 0xFFFFFFFFu, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 30);
  ASSERT_NE(sprite, nullptr);
  p->sprite = sprite;

  // The thread stages frame 0 as soon as it runs. Present, asked for frame
  // 2 after that, takes frame 2 into the back texture, which becomes the
  // front.
  wait_for_staged_frame();
  movie_player_set_range(2, 0);
  movie_player_present();
  EXPECT_EQ(movie_player_global_texture(), get_texture_object(t1));
  EXPECT_EQ(sprite2d_get_texture(sprite), t1);
  EXPECT_EQ(read_texture_texel(t1, 0, 0), test_movie_top(2));
  EXPECT_EQ(read_texture_texel(t1, 7, 5), test_movie_bottom(2));
  EXPECT_EQ(read_texture_texel(t1, 8, 0), 0u) << "the rest of the texture stays clear";

  // Draw shows the front texture upright with the frame's top-right corner
  // at (720, 60), and moves on to frame 3.
  EXPECT_EQ(movie_player_draw(), 1);
  const SpriteData* s = sprite2d_data(tasks_layer_head(20));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->texture0, t1);
  EXPECT_EQ(s->colour, 0xFFFFFFFFu);
  EXPECT_FLOAT_EQ(s->x, 720.0f);
  EXPECT_FLOAT_EQ(s->y, 60.0f);
  EXPECT_FLOAT_EQ(s->pivot_x, 8.0f / 1024.0f);
  EXPECT_FLOAT_EQ(s->pivot_y, 0.0f);
  EXPECT_FLOAT_EQ(s->scale_x, 1.0f);
  EXPECT_FLOAT_EQ(s->scale_y, 1.0f);
  EXPECT_EQ(p->current_frame, 3u);

  // A seek with frame 3 staged shows it at (0, 0) on layer 59, from the
  // other texture.
  wait_for_staged_frame();
  EXPECT_EQ(movie_player_seek(3), 1);
  EXPECT_EQ(read_texture_texel(t0, 3, 0), test_movie_top(3));
  EXPECT_EQ(movie_player_front_texture_id(), static_cast<int32_t>(t0));
  const SpriteData* seek = sprite2d_data(tasks_layer_head(59));
  ASSERT_NE(seek, nullptr);
  EXPECT_EQ(seek->texture0, t0);
  EXPECT_FLOAT_EQ(seek->x, 0.0f);
  EXPECT_FLOAT_EQ(seek->scale_x, 1.0f);
  // Presenting the frame the seek showed gives the sprite that texture
  // without waiting for the thread.
  movie_player_present();
  EXPECT_EQ(sprite2d_get_texture(sprite), t0);
  EXPECT_EQ(p->last_shown, 3u);
  p->sprite = nullptr;
  task_kill(sprite);
}

}  // namespace
