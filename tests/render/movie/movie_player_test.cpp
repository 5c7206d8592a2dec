// The movie player without a device: opening and sizing, the decoding step
// driven by the test's own clock in every play state and timing, and the
// decoding thread handing frames to present and draw.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "assets/asset_registry.h"
#include "render/movie/movie_player.h"
#include "render/overlay2d/overlay2d.h"
#include "render/tasks/task.h"
#include "test_movie.h"

namespace {

class MoviePlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    init_asset_registry();
    tasks_init();
    line2d_register_type();
    tri2d_register_type();
    overlay2d_register_types();
    movie_player_construct();
    path = test_movie_path("player.avi");
    ASSERT_TRUE(write_test_movie(path, TestMovieCodec::Raw, 8, 6, 5, 10));  // 100 ms a frame
  }
  void TearDown() override {
    movie_player_stop();
    tasks_shutdown();
    shutdown_asset_registry();
    std::remove(path.c_str());
  }
  // Opens the clip with the clock at 1000 ms, playing.
  void open_playing(uint32_t timing_mode) {
    ASSERT_EQ(movie_player_open_avi(path.c_str()), 1);
    MoviePlayer* p = movie_player();
    p->timing_mode = timing_mode;
    p->clock_start = 1000;
    movie_player_play();
  }
  // What the main thread does with a staged frame: the frame it shows and
  // the flag cleared; -1 when nothing was staged.
  static int take() {
    MoviePlayer* p = movie_player();
    std::lock_guard<std::mutex> guard(p->lock);
    if (p->new_frame == 0) return -1;
    p->new_frame = 0;
    for (int n = 0; n < 8; ++n)
      if (p->staging.front() == test_movie_top(n) && p->staging.back() == test_movie_bottom(n)) return n;
    return -2;
  }
  static int step_at(uint32_t now) {
    movie_player_decode_frame(now);
    return take();
  }
  static void start_thread() {
    MoviePlayer* p = movie_player();
    p->run = 1;
    p->thread = std::thread(movie_player_thread);
  }

  std::string path;
};

TEST_F(MoviePlayerTest, OpensWithTheTextureSizeFoundByDoubling) {
  struct Case {
    int width, height;
    bool opens;
    uint32_t texture_size;
  } cases[] = {{8, 6, true, 8}, {20, 3, true, 32}, {3, 33, true, 64}, {1024, 2, true, 1024}, {1025, 2, false, 0}};
  for (const Case& c : cases) {
    const std::string file = test_movie_path("sized.avi");
    ASSERT_TRUE(write_test_movie(file, TestMovieCodec::Raw, c.width, c.height, 2, 25));
    EXPECT_EQ(movie_player_open_avi(file.c_str()), c.opens ? 1 : 0) << c.width << " x " << c.height;
    const MoviePlayer* p = movie_player();
    EXPECT_EQ(p->texture_size, c.texture_size);
    EXPECT_EQ(p->file != nullptr, c.opens);
    if (c.opens) {
      EXPECT_FLOAT_EQ(p->height_fraction, c.height / 1024.0f);
      EXPECT_EQ(p->frame_count, 2u);
      EXPECT_FLOAT_EQ(p->frame_rate, 25.0f);
      EXPECT_EQ(p->bytes_per_pixel, 4u);
      EXPECT_EQ(p->row_stride, static_cast<uint32_t>(c.width) * 4);
    }
    EXPECT_EQ(movie_player_close_avi(), 0);
    // Closed, every field of the open movie is back to its closed value.
    EXPECT_EQ(p->file, nullptr);
    EXPECT_EQ(p->texture_size, 0u);
    EXPECT_EQ(p->bytes_per_pixel, 0u);
    EXPECT_EQ(p->row_stride, 0u);
    EXPECT_EQ(p->frame_count, 1u);
    EXPECT_EQ(p->frame_rate, 0.0f);
    EXPECT_EQ(p->ok.load(), 0u);
    EXPECT_EQ(p->last_decoded.load(), kMoviePlayerNoFrame);
    EXPECT_EQ(p->shown_frame, kMoviePlayerNoFrame);
    EXPECT_TRUE(p->staging.empty());
    std::remove(file.c_str());
  }
  // A damaged file, a missing one and none are refused, leaving it closed.
  const std::string bad = test_movie_path("bad.avi");
  std::FILE* f = std::fopen(bad.c_str(), "wb");
  std::fwrite(read_test_file(path).data(), 1, 200, f);
  std::fclose(f);
  for (const char* name : {bad.c_str(), "/nonexistent/movie.avi", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(movie_player_open_avi(name), 0);
    EXPECT_EQ(movie_player_decode_frame(1000), 0);
  }
  std::remove(bad.c_str());
}

TEST_F(MoviePlayerTest, ClockedTimingLoopsOrHoldsTheLastFrame) {
  struct Step {
    uint32_t now;
    int shown;  // -1: nothing staged
  };
  const struct {
    uint32_t mode;
    std::vector<Step> steps;
    uint32_t ok_after;
  } cases[] = {
      // Loop: past the last frame comes frame 0 and the clock restarts there.
      {1, {{1000, 0}, {1000, -1}, {1250, 2}, {1499, 4}, {1520, 0}, {1530, -1}, {1620, 1}}, 1},
      // Play once: the last frame is held, once, and the movie is no longer ok.
      {0, {{1000, 0}, {1499, 4}, {1520, -1}, {1900, -1}}, 0},
  };
  for (const auto& c : cases) {
    open_playing(c.mode);
    for (const Step& s : c.steps) EXPECT_EQ(step_at(s.now), s.shown) << "mode " << c.mode << " at " << s.now;
    EXPECT_EQ(movie_player()->ok, c.ok_after);
    movie_player_close_avi();
  }
}

TEST_F(MoviePlayerTest, CallerFramesRewindAndStepBack) {
  open_playing(2);
  MoviePlayer* p = movie_player();
  p->current_frame = 3;
  movie_player_decode_frame(0);
  EXPECT_EQ(movie_player_decode_frame(0), 0) << "no new frame before the last one was taken";
  EXPECT_EQ(take(), 3);
  EXPECT_EQ(step_at(0), -1) << "the same frame is not decoded twice";
  // Stepping back chooses the frame before the last decoded one, decoding nothing.
  movie_player_pause();
  EXPECT_EQ(movie_player_decode_frame(0), 0);
  EXPECT_EQ(p->current_frame, 2u);
  movie_player_play();
  EXPECT_EQ(step_at(0), 2);
  // Rewind goes to frame 0 once; stepping back from there stays at 0.
  p->play_state = 1;
  EXPECT_EQ(step_at(0), 0);
  EXPECT_EQ(step_at(0), -1);
  movie_player_pause();
  EXPECT_EQ(movie_player_decode_frame(0), 0);
  EXPECT_EQ(p->current_frame, 0u);
  // Seeking is for caller-chosen frames only, below the frame count.
  p->play_state = 3;
  EXPECT_EQ(movie_player_seek(4), 1);
  EXPECT_EQ(step_at(0), 4);
  EXPECT_EQ(movie_player_seek(5), 0);
  EXPECT_EQ(p->current_frame, 4u);
  p->timing_mode = 1;
  EXPECT_EQ(movie_player_seek(99), 1);
  EXPECT_EQ(p->current_frame, 4u);
}

TEST_F(MoviePlayerTest, PresentShowsOnlyTheFrameAskedForAndNeverWaitsForOneShown) {
  // No thread runs: the test stages frames itself, and a present that waits
  // for a frame no thread will stage returns without showing anything.
  open_playing(2);
  MoviePlayer* p = movie_player();
  ASSERT_EQ(movie_player_decode_frame(0), 1) << "frame 0 staged";
  movie_player_set_range(2, 0);
  const uint16_t front = p->front;
  movie_player_present();
  EXPECT_EQ(p->front, front) << "frame 0, staged before the range, is not shown as frame 2";
  EXPECT_EQ(p->last_shown, 3u);
  EXPECT_EQ(movie_player_decode_frame(0), 1) << "dropped, so the thread goes on to frame 2";
  movie_player_present();
  EXPECT_NE(p->front, front);
  EXPECT_EQ(p->last_shown, 2u);
  EXPECT_EQ(p->staging.front(), test_movie_top(2));

  // The same frame asked for again is already in the front texture: shown
  // without a new frame from the thread.
  movie_player_set_range(2, 0);
  EXPECT_EQ(movie_player_decode_frame(0), 0) << "frame 2 is not decoded again";
  movie_player_present();
  EXPECT_EQ(p->last_shown, 2u);
  EXPECT_NE(p->front, front);

  // A frame dropped and then asked for once more is decoded again.
  movie_player_set_range(3, 0);
  ASSERT_EQ(movie_player_decode_frame(0), 1);
  movie_player_set_range(4, 0);
  movie_player_present();
  EXPECT_EQ(p->last_shown, 5u) << "frame 3 is not shown as frame 4";
  movie_player_set_range(3, 0);
  EXPECT_EQ(movie_player_decode_frame(0), 1);
  movie_player_present();
  EXPECT_EQ(p->last_shown, 3u);
  EXPECT_EQ(p->front, front);

  // A seek takes only the frame it asks for; another staged frame is
  // dropped, and neither shows a sprite until the frame sought is staged.
  movie_player_set_range(1, 0);
  ASSERT_EQ(movie_player_decode_frame(0), 1);
  EXPECT_EQ(movie_player_seek(4), 1);
  EXPECT_EQ(tasks_layer_head(59), nullptr);
  ASSERT_EQ(movie_player_decode_frame(0), 1);
  EXPECT_EQ(p->staging.front(), test_movie_top(4));
  EXPECT_EQ(movie_player_seek(4), 1);
  EXPECT_NE(tasks_layer_head(59), nullptr);
  EXPECT_NE(p->front, front);
  // Presenting the sought frame needs nothing more from the thread.
  movie_player_present();
  EXPECT_EQ(p->last_shown, 4u);

  // Clocked: a frame staged when draw runs stays for present.
  p->timing_mode = 1;
  ASSERT_EQ(movie_player_decode_frame(p->clock_start + 100), 1);
  EXPECT_EQ(movie_player_draw(), 1);
  movie_player_present();
  EXPECT_EQ(p->last_shown, 1u);
  EXPECT_EQ(p->front, front);
}

TEST_F(MoviePlayerTest, RangesAndTheClosedPlayer) {
  MoviePlayer* p = movie_player();
  EXPECT_EQ(movie_player_front_texture_id(), -1);
  EXPECT_EQ(movie_player_global_texture(), nullptr);
  EXPECT_EQ(movie_player_open("clip", 1), 0);
  EXPECT_EQ(movie_player_open_step("clip"), 0);
  EXPECT_EQ(p->file, nullptr);
  uint32_t first = 7, end = 7;
  movie_player_get_range(&first, &end);
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(end, 1000000u) << "no range given";
  movie_player_set_range(5, 20);
  movie_player_get_range(&first, &end);
  EXPECT_EQ(first, 5u);
  EXPECT_EQ(end, 25u);
  EXPECT_EQ(p->last_shown, 6u);
  EXPECT_EQ(p->range_set, 1u);
  EXPECT_EQ(p->ok, 1u);
  movie_player_set_range(9, 0);
  movie_player_get_range(nullptr, &end);
  EXPECT_EQ(end, 1000009u);
  movie_player_get_range(&first, nullptr);
  EXPECT_EQ(first, 9u);
  movie_player_set_frame_size(512, 256);
  EXPECT_FLOAT_EQ(p->width_fraction, 0.5f);
  EXPECT_FLOAT_EQ(p->height_fraction, 0.25f);
  EXPECT_EQ(movie_player_create_texture(2), 0u);

  // Stopping ends the player's sprite task and gives its owner handle back.
  p->owner = handle_alloc();
  ASSERT_NE(p->owner, 0u);
  const uint32_t owner = p->owner;
  Task* sprite = sprite2d_create_rect(owner, 0xFFFFFFFFu, 0.0f, 0.0f, 8.0f, 8.0f, 0.0f, 0.0f, 1.0f, 1.0f, 20);
  ASSERT_NE(sprite, nullptr);
  p->sprite = sprite;
  movie_player_play();
  movie_player_stop();
  EXPECT_FALSE(task_is_alive(sprite));
  EXPECT_EQ(p->sprite, nullptr);
  EXPECT_EQ(p->owner, 0u);
  EXPECT_EQ(p->play_state, 0u);
  EXPECT_EQ(handle_alloc(), owner) << "the owner handle is free again";
}

TEST_F(MoviePlayerTest, TheDecodingThreadHandsEveryFrameToPresentAndDraw) {
  open_playing(2);
  start_thread();
  movie_player_set_range(0, 0);
  MoviePlayer* p = movie_player();
  // Twice through the clip: present waits for the thread's frame, draw moves
  // on to the next one and rewinds past the last.
  for (int round = 0; round < 2; ++round) {
    for (uint32_t n = 0; n < 5; ++n) {
      const uint16_t front = p->front;
      movie_player_present();
      EXPECT_EQ(p->last_shown, n);
      EXPECT_NE(p->front, front) << "frame " << n << " became the front";
      EXPECT_EQ(movie_player_draw(), n < 4 ? 1 : 0);
    }
    EXPECT_EQ(p->current_frame, 0u);
  }
  movie_player_stop();
  EXPECT_FALSE(p->thread.joinable());
  EXPECT_EQ(p->play_state, 0u);
  EXPECT_EQ(p->file, nullptr);
  // Closing the movie, and the player's end at exit, stop a running thread
  // before the movie goes.
  for (void (*end)() : {+[] { movie_player_close_avi(); }, movie_player_destruct}) {
    open_playing(2);
    start_thread();
    end();
    EXPECT_FALSE(p->thread.joinable());
    EXPECT_EQ(p->file, nullptr);
  }
  // Nothing open: present and draw neither wait nor fail.
  movie_player_play();
  movie_player_present();
  p->timing_mode = 0;
  EXPECT_EQ(movie_player_draw(), 1);
}

}  // namespace
