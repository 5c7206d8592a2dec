// Movie slots playing real files on their decoding threads: frames chosen by
// the caller and by the clock, refused files, stopping and owners.
#include <gtest/gtest.h>

#include "movie_fixture.h"
#include "render/tasks/task.h"

namespace {

using MovieSlots = MovieFixture;

TEST_F(MovieSlots, PlaysTheFramesTheCallerChooses) {
  MovieSlot* s = movie_tex_play(7, "clip.avi", kMovieCallerFrames);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->flags, kMovieSlotInUse | kMovieSlotThread);
  EXPECT_EQ(movie_tex_count(), 1);
  EXPECT_EQ(movie_tex_frame_count(s), 5u);
  EXPECT_TRUE(show_frame(s, 0));
  for (int n : {3, 1, 4, 0}) {
    EXPECT_EQ(movie_tex_seek(s, static_cast<uint32_t>(n)), 1);
    EXPECT_TRUE(show_frame(s, n)) << "frame " << n;
  }
  EXPECT_EQ(movie_tex_seek(s, 5), 0) << "the frame count lies past the last frame";
  EXPECT_EQ(movie_tex_seek(nullptr, 1), 0);
  // The controls set the play state and timing the thread reads.
  const struct {
    void (*control)(MovieSlot*);
    uint32_t state;
  } controls[] = {{movie_tex_step, kMovieStep}, {movie_tex_rewind, kMovieRewind}, {movie_tex_resume, kMoviePlay}};
  for (const auto& c : controls) {
    c.control(s);
    EXPECT_EQ(s->decoder.play_state.load(), c.state);
    c.control(nullptr);
  }
  // With the thread stopped, nothing else moves the frame.
  movie_tex_stop_thread(s);
  EXPECT_EQ(s->flags, kMovieSlotInUse);
  movie_tex_set_mode(s, kMovieLoop);
  EXPECT_EQ(s->decoder.timing_mode.load(), kMovieLoop);
  const uint32_t frame = s->decoder.frame;
  EXPECT_EQ(movie_tex_seek(s, (frame + 1) % 5), 1) << "clocked: accepted, and nothing changes";
  EXPECT_EQ(s->decoder.frame.load(), frame);
  movie_tex_stop(s);
  EXPECT_EQ(movie_tex_count(), 0);
  EXPECT_EQ(s->flags, 0u);
}

TEST_F(MovieSlots, LoopsByTheClock) {
  MovieSlot* s = movie_tex_play(7, "clip.avi", kMovieLoop);
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(show_frame(s, 4));
  EXPECT_TRUE(show_frame(s, 0)) << "after the last frame comes the first";
  EXPECT_TRUE(show_frame(s, 1));
  movie_tex_stop(s);
}

TEST_F(MovieSlots, KeepsTheSlotOfAMovieThatCannotBePlayed) {
  for (const char* name : {"missing.avi", "bad.avi", "config.cf"}) {
    MovieSlot* s = movie_tex_play(3, name, kMovieLoop);
    ASSERT_NE(s, nullptr) << name;
    EXPECT_EQ(s->flags, kMovieSlotInUse) << name << ": no thread";
    EXPECT_EQ(movie_tex_count(), 1);
    EXPECT_EQ(movie_tex_start(s, nullptr, kMovieLoop), 0);
    movie_tex_update();
    movie_tex_stop(s);
    EXPECT_EQ(movie_tex_count(), 0);
  }
}

TEST_F(MovieSlots, StopsThreadsOfOwnersAndOnRestart) {
  const MovieSlot* slots = movie_tex_pool()->slots;
  MovieSlot* a = movie_tex_play(1, "clip.avi", kMovieLoop);
  MovieSlot* b = movie_tex_play(1, "clip.avi", kMovieCallerFrames);
  MovieSlot* c = movie_tex_play(2, "clip.avi", 0);
  MovieSlot* d = movie_tex_play(0, "clip.avi", kMovieLoop);
  ASSERT_TRUE(a && b && c && d);
  EXPECT_TRUE(a == &slots[0] && b == &slots[1] && c == &slots[2] && d == &slots[3]) << "taken in pool order";
  EXPECT_EQ(c->owner, 2u);
  EXPECT_EQ(movie_tex_play(4, "clip.avi", kMovieLoop), nullptr) << "four slots";
  movie_tex_stop_of_owner(0);
  movie_tex_stop(nullptr);
  EXPECT_EQ(movie_tex_count(), 4) << "owner 0 stops nothing";
  movie_tex_stop_of_owner(1);
  EXPECT_EQ(movie_tex_count(), 2);
  EXPECT_EQ(a->flags | b->flags, 0u);
  movie_tex_stop(a);  // already free: nothing happens
  EXPECT_EQ(movie_tex_count(), 2);
  // A stopped slot goes to the front of the free list: the newest stopped
  // (a, stopped after b on the newest-first walk) is taken next.
  MovieSlot* again = movie_tex_play(3, "missing.avi", kMovieLoop);
  EXPECT_EQ(again, a);
  movie_tex_stop(again);
  EXPECT_EQ(movie_tex_start(c, "clip.avi", kMovieCallerFrames), 1) << "a playing slot restarts";
  EXPECT_TRUE(show_frame(c, 0));
  d->owner = 3;
  kill_owner(3);
  EXPECT_EQ(movie_tex_count(), 1);
  movie_tex_reset();
  EXPECT_EQ(movie_tex_count(), 0);
  EXPECT_EQ(c->flags, 0u);
}

TEST_F(MovieSlots, ResetsStopThePlayingSlotsFirst) {
  // The task system's reset and a second start-up relink the slots; a
  // decoding thread must not outlive its slot's place in the used list.
  const struct {
    const char* name;
    void (*reset)();
  } resets[] = {{"task reset", tasks_reset}, {"slot reset", movie_tex_slots_reset}, {"start-up again", movie_tex_init}};
  for (const auto& r : resets) {
    SCOPED_TRACE(r.name);
    MovieSlot* s = movie_tex_play(1, "clip.avi", kMovieLoop);
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(s->thread.joinable());
    r.reset();
    EXPECT_FALSE(s->thread.joinable());
    EXPECT_EQ(s->flags, 0u);
    EXPECT_EQ(s->decoder.file, nullptr);
    EXPECT_EQ(movie_tex_count(), 0);
    EXPECT_EQ(movie_tex_play(1, "clip.avi", kMovieLoop), &movie_tex_pool()->slots[0]) << "slots in pool order";
    movie_tex_stop_all();
  }
}

TEST_F(MovieSlots, StopsAtOnceAfterStarting) {
  for (int i = 0; i < 20; ++i) {
    MovieSlot* s = movie_tex_play(1, "clip.avi", static_cast<uint32_t>(i % 3));
    ASSERT_NE(s, nullptr);
    if (i % 2) movie_tex_update();
    movie_tex_stop(s);
  }
  EXPECT_EQ(movie_tex_count(), 0);
}

}  // namespace
