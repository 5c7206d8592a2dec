// Movie slots started with a movie folder of the test's own, holding a small
// movie "clip.avi" (8 x 6, 5 frames at 10 frames a second) and a damaged
// one "bad.avi".
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "render/movie/movie_textures.h"

class MovieFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Runs the main thread's per-frame hooks until the slot shows frame n;
  // false after a few seconds without it.
  bool show_frame(MovieSlot* slot, int n);
  // The frame shown by the last upload, -1 for none.
  int shown_frame(MovieSlot* slot);

  std::string dir;
};
