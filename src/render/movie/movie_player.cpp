#include "render/movie/movie_player.h"

#include "render/tasks/task.h"

namespace {

MoviePlayer player = {0, 0, 0.0f, 0.0f, 0, 0.0f, 0, 0, 0, {-1, -1}, 0, 0, 0, 0, kMoviePlayerNoRange, 0, 0, 0, 0};

}  // namespace

void movie_player_construct() {
  player = MoviePlayer{};
  player.textures[0] = player.textures[1] = -1;
  player.range_length = kMoviePlayerNoRange;
}

void movie_player_init() {}
void movie_player_shutdown() {}

int movie_player_open(const char*, int) { return 0; }
int movie_player_open_step(const char* name) { return movie_player_open(name, 2); }

void movie_player_stop() {
  player.play_state = 0;
  if (player.owner != 0) {
    kill_owner(player.owner);
    handle_free(player.owner);
    player.owner = 0;
  }
  player.run = 0;
}

int movie_player_play() {
  player.play_state = 3;
  return 0;
}

int movie_player_pause() {
  player.play_state = 2;
  return 0;
}

void movie_player_set_range(uint32_t first, uint32_t length) {
  player.current_frame = first;
  player.last_shown = first + 1;
  player.range_length = length != 0 ? length : kMoviePlayerNoRange;
  player.range_set = 1;
  player.ok = 1;
}

void movie_player_get_range(uint32_t* first, uint32_t* end) {
  if (first != nullptr) *first = player.current_frame;
  if (end != nullptr) *end = player.current_frame + player.range_length;
}

void movie_player_set_frame_size(int32_t width, int32_t height) {
  player.frame_width = width;
  player.frame_height = height;
  player.width_fraction = static_cast<float>(width) / 1024.0f;
  player.height_fraction = static_cast<float>(height) / 1024.0f;
}

int32_t movie_player_front_texture_id() { return player.textures[player.front & 1]; }

const MoviePlayer* movie_player() { return &player; }
