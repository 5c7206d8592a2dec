// The decoding step of a movie slot, driven by the test's own clock: which
// frame it stages when, looping, playing once, waiting for the main thread.
#include <gtest/gtest.h>

#include <cstdio>

#include "render/movie/movie_textures.h"
#include "test_movie.h"

namespace {

class MovieStep : public ::testing::Test {
 protected:
  void SetUp() override {
    path = test_movie_path("step.avi");
    ASSERT_TRUE(write_test_movie(path, TestMovieCodec::Raw, 8, 6, 5, 10));  // 100 ms a frame
    ASSERT_EQ(movie_avi_open(&d, path.c_str()), 1);
    d.clock_start = 1000;
    d.play_state = kMoviePlay;
  }
  void TearDown() override {
    movie_avi_close(&d);
    std::remove(path.c_str());
  }
  // What the main thread does: take the staged frame and acknowledge it.
  // -1 when nothing was staged, else the frame it shows.
  int take() {
    if (d.staged == 0) return -1;
    d.staged = 0;
    for (int n = 0; n < 8; ++n)
      if (d.staging[0] == test_movie_top(n) && d.staging[d.staging.size() - 1] == test_movie_bottom(n)) return n;
    return -2;
  }
  int step_at(uint32_t now) {
    movie_avi_step(&d, now);
    return take();
  }

  std::string path;
  AviDecoder d{};
};

TEST_F(MovieStep, OpenSizesTheDecoder) {
  EXPECT_EQ(d.frame_count, 5u);
  EXPECT_EQ(d.width, 8u);
  EXPECT_EQ(d.height, 6u);
  EXPECT_EQ(d.texture_width, 8u);
  EXPECT_EQ(d.texture_height, 8u);
  EXPECT_FLOAT_EQ(d.frame_rate, 10.0f);
  EXPECT_EQ(d.bytes_per_pixel, 4u);
  EXPECT_EQ(d.row_stride, 32u);
  EXPECT_EQ(d.ok.load(), 1u);
  EXPECT_EQ(d.last_decoded, kMovieNoFrame);
  // Each side of the texture is the smallest power of two that holds it.
  const uint32_t sides[][2] = {{0, 1}, {1, 1}, {2, 2}, {3, 4}, {240, 256}, {320, 512}, {1024, 1024}, {1025, 2048}};
  for (const auto& side : sides) EXPECT_EQ(movie_next_pow2(side[0]), side[1]) << side[0];
  AviDecoder wide{};
  const std::string file = test_movie_path("wide.avi");
  ASSERT_TRUE(write_test_movie(file, TestMovieCodec::Raw, 20, 3, 2, 25));
  ASSERT_EQ(movie_avi_open(&wide, file.c_str()), 1);
  EXPECT_EQ(wide.texture_width, 32u);
  EXPECT_EQ(wide.texture_height, 4u);
  EXPECT_EQ(wide.staging.size(), 60u);
  EXPECT_EQ(wide.row_stride, 80u);
  movie_avi_close(&wide);
  EXPECT_EQ(wide.file, nullptr);
  std::remove(file.c_str());
}

TEST_F(MovieStep, ClockedModesFollowTheClock) {
  struct Tick {
    uint32_t now;
    int shown;  // -1 nothing new
  };
  const struct {
    const char* name;
    uint32_t mode;
    std::vector<Tick> ticks;
    uint32_t ok_after;
  } cases[] = {
      {"loop", kMovieLoop, {{1000, 0}, {1050, -1}, {1100, 1}, {1499, 4}, {1500, 0}, {1600, 1}}, 1},
      {"play once", 0, {{1000, 0}, {1100, 1}, {1700, 4}, {1800, -1}, {9000, -1}}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    d.timing_mode = c.mode;
    d.clock_start = 1000;
    d.frame = 0;
    d.last_decoded = kMovieNoFrame;
    for (const Tick& t : c.ticks) EXPECT_EQ(step_at(t.now), t.shown) << "at " << t.now;
    EXPECT_EQ(d.ok.load(), c.ok_after);
  }
  EXPECT_EQ(d.frame.load(), 4u) << "play once holds the last frame";
}

TEST_F(MovieStep, WaitsForTheMainThreadWithoutLosingTheFrame) {
  d.timing_mode = kMovieLoop;
  EXPECT_EQ(movie_avi_step(&d, 1000), 1);
  EXPECT_EQ(movie_avi_step(&d, 1200), 0) << "frame 0 still staged";
  {
    std::lock_guard<std::mutex> guard(d.lock);
    d.staged = 0;
    d.new_frame = 1;  // uploaded, not yet acknowledged
  }
  EXPECT_EQ(movie_avi_step(&d, 1200), 0);
  d.new_frame = 0;
  EXPECT_EQ(step_at(1200), 2) << "the frame due now, once acknowledged";
  // A frame the caller chooses while one waits is decoded once the main
  // thread has taken the waiting one.
  d.timing_mode = kMovieCallerFrames;
  d.frame = 0;
  EXPECT_EQ(movie_avi_step(&d, 0), 1);
  d.frame = 3;
  EXPECT_EQ(movie_avi_step(&d, 0), 0);
  EXPECT_EQ(take(), 0);
  EXPECT_EQ(step_at(0), 3);
}

TEST_F(MovieStep, CallerChosenFramesRewindAndStep) {
  d.timing_mode = kMovieCallerFrames;
  EXPECT_EQ(step_at(0), 0) << "the first frame is shown";
  EXPECT_EQ(step_at(5000), -1);
  d.frame = 3;
  EXPECT_EQ(step_at(0), 3);
  d.play_state = kMovieStep;
  EXPECT_EQ(step_at(0), -1);
  EXPECT_EQ(d.frame.load(), 4u);
  // Clocked play, much later by the clock, goes on from the frame the step
  // chose, not from where the old clock would be.
  d.timing_mode = kMovieLoop;
  d.play_state = kMoviePlay;
  EXPECT_EQ(step_at(9000), 4);
  d.timing_mode = kMovieCallerFrames;
  d.play_state = kMovieRewind;
  EXPECT_EQ(step_at(0), 0);
  EXPECT_EQ(step_at(0), -1);
  d.play_state = kMovieStopped;
  d.frame = 2;
  EXPECT_EQ(step_at(0), -1);
}

}  // namespace
