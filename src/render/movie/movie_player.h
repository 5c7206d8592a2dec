// The movie player: one global object, older than the movie slots, that
// would present a movie as one-frame sprites. This program never opens a
// movie with it (opening answers 0), so it holds only its state.
#pragma once

#include <cstdint>

struct MoviePlayer {
  int32_t frame_width, frame_height;
  float width_fraction, height_fraction;  // of 1024
  uint32_t play_state;
  float frame_rate;
  uint32_t row_stride;
  uint32_t run;
  uint32_t timing_mode;
  int32_t textures[2];  // -1 = none
  uint16_t front;
  uint16_t new_frame;
  uint32_t current_frame;
  uint32_t last_shown;
  uint32_t range_length;  // 1,000,000 when none is given
  uint32_t range_set;
  uint32_t frame_count;
  uint32_t ok;
  uint32_t owner;
};

constexpr uint32_t kMoviePlayerNoRange = 1000000;

// The object at process start: no textures, nothing playing.
void movie_player_construct();
// Sound start-up and shutdown call these; the player keeps nothing open.
void movie_player_init();
void movie_player_shutdown();
// Opening is not offered: always 0.
int movie_player_open(const char* name, int mode);
int movie_player_open_step(const char* name);
void movie_player_stop();
int movie_player_play();
int movie_player_pause();
void movie_player_set_range(uint32_t first, uint32_t length);
void movie_player_get_range(uint32_t* first, uint32_t* end);
void movie_player_set_frame_size(int32_t width, int32_t height);
int32_t movie_player_front_texture_id();
const MoviePlayer* movie_player();
