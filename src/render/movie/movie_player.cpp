#include "render/movie/movie_player.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "assets/textures.h"
#include "platform/movie/movie_file.h"
#include "platform/sys/sys.h"
#include "render/movie/movie_textures.h"
#include "render/overlay2d/sprite2d.h"
#include "render/tasks/task.h"

namespace {

MoviePlayer player;

constexpr const char* kPlayerPackage = "mex";
constexpr const char* kPlayerTextureNames[2] = {"mvt1", "mvtx"};
// The sprites: the frame's top-right corner at (720, 60) on layer 20; a
// frame shown by a seek at (0, 0) on layer 59.
constexpr float kDrawX = 720.0f, kDrawY = 60.0f;
constexpr uint8_t kDrawLayer = 20, kSeekLayer = 59;

// The fields of an open movie back to their closed state.
void forget_movie() {
  player.frame_rate = 0.0f;
  player.row_stride = 0;
  player.frame_count = 1;
  player.bytes_per_pixel = 0;
  player.clock_start = 0;
  player.texture_size = 0;
  player.ok = 0;
  player.last_decoded = kMoviePlayerNoFrame;
  player.reanchor = 0;
  player.shown_frame = kMoviePlayerNoFrame;
  std::vector<uint32_t>().swap(player.staging);
  std::lock_guard<std::mutex> guard(player.lock);
  player.new_frame = 0;
}

void stop_thread() {
  player.play_state = 0;
  player.run = 0;
  if (player.thread.joinable()) player.thread.join();
}

bool new_frame_staged() {
  std::lock_guard<std::mutex> guard(player.lock);
  return player.new_frame != 0;
}

// Takes the staged frame when it is the current one: uploaded into the
// back texture, which becomes the front. A staged frame of another index was
// decoded before the player moved (a range, a seek): it is dropped, and the
// thread forgets it so that it decodes that frame again if it is asked for
// once more. False when nothing was taken.
bool take_staged_frame() {
  uint32_t wanted;
  {
    // Read under the lock: a clocked thread moves the current frame on
    // before it stages the frame.
    std::lock_guard<std::mutex> guard(player.lock);
    if (player.new_frame == 0) return false;
    wanted = player.current_frame;
    if (player.staged_frame != wanted) {
      player.new_frame = 0;
      player.last_decoded = player.shown_frame;
      return false;
    }
  }
  // The thread leaves the staging buffer alone while the frame is staged.
  const int back = (player.front ^ 1) & 1;
  write_texture_pixels(static_cast<AssetHandle>(std::max(player.textures[back], 0)), 0, 0, player.frame_width,
                       player.frame_height, player.staging.data());
  player.front = static_cast<uint16_t>(back);
  player.shown_frame = wanted;
  std::lock_guard<std::mutex> guard(player.lock);
  player.new_frame = 0;
  return true;
}

AssetHandle front_handle() {
  const int32_t id = movie_player_front_texture_id();
  return id >= 1 ? static_cast<AssetHandle>(id) : 0;
}

}  // namespace

void movie_player_construct() {
  player.frame_width = player.frame_height = 0;
  player.width_fraction = player.height_fraction = 0.0f;
  player.play_state = 0;
  player.run = 0;
  player.timing_mode = 0;
  player.textures[0] = player.textures[1] = -1;
  player.front = 0;
  player.current_frame = 0;
  player.last_shown = 0;
  player.range_length = kMoviePlayerNoRange;
  player.range_set = 0;
  player.file = nullptr;
  player.sprite = nullptr;
  player.owner = 0;
  forget_movie();
}

void movie_player_destruct() { movie_player_close_avi(); }

void movie_player_init() {}
void movie_player_shutdown() {}

int movie_player_open(const char*, int) { return 0; }
int movie_player_open_step(const char* name) { return movie_player_open(name, 2); }

int movie_player_open_avi(const char* path) {
  if (path == nullptr) return 0;
  movie_player_close_avi();
  MovieFile* file = movie_open_file(path);
  if (file == nullptr) return 0;
  const MovieStreamInfo info = movie_file_info(file);
  if (info.width > kMoviePlayerTextureSide || info.height > kMoviePlayerTextureSide) {
    std::fprintf(stderr, "tamberlune: movie %s cannot be played: frames of %d x %d are larger than %d x %d\n", path,
                 info.width, info.height, kMoviePlayerTextureSide, kMoviePlayerTextureSide);
    movie_file_close(file);
    return 0;
  }
  player.file = file;
  movie_player_set_frame_size(info.width, info.height);
  player.texture_size = movie_next_pow2(static_cast<uint32_t>(std::max(info.width, info.height)));
  player.bytes_per_pixel = 4;
  player.row_stride = static_cast<uint32_t>(info.width) * 4;
  player.frame_rate = static_cast<float>(info.rate) / static_cast<float>(info.scale);
  player.frame_count = info.frame_count;
  player.staging.assign(static_cast<size_t>(info.width) * static_cast<size_t>(info.height), 0);
  player.current_frame = 0;
  player.last_decoded = kMoviePlayerNoFrame;
  player.reanchor = 0;
  player.clock_start = sys_ms_clock();
  player.ok = 1;
  return 1;
}

int movie_player_close_avi() {
  // The movie is never closed under a running decoding thread.
  stop_thread();
  if (player.file == nullptr) return 0;
  movie_file_close(player.file);
  player.file = nullptr;
  forget_movie();
  return 0;
}

void movie_player_thread() {
  while (player.run.load()) {
    if (movie_player_decode_frame(sys_ms_clock()) == 0) sys_sleep_ms(1);
    else sys_sleep_ms(0);
  }
  player.play_state = 0;
}

int movie_player_decode_frame(uint32_t now) {
  const uint32_t state = player.play_state;
  if (state == 0 || player.file == nullptr) return 0;
  if (state == 2) {
    // Stepping back: the frame before the last decoded one, shown once the
    // player plays again from there.
    player.reanchor = 1;
    const uint32_t last = player.last_decoded;
    player.current_frame = last == kMoviePlayerNoFrame || last == 0 ? 0 : last - 1;
    sys_sleep_ms(5);
    return 0;
  }
  // The frame is chosen only once the previous one was taken, so no frame is
  // read and then dropped.
  if (new_frame_staged()) return 0;
  uint32_t frame = player.current_frame;
  if (state == 1) {
    player.reanchor = 1;
    frame = 0;
    player.current_frame = 0;
    if (player.last_decoded == 0) {
      sys_sleep_ms(5);
      return 0;
    }
  } else if (player.timing_mode == 2) {
    if (frame == player.last_decoded) return 0;
  } else {
    const double per_ms = static_cast<double>(player.frame_rate) * 0.001;
    if (player.reanchor != 0) {
      player.clock_start = now - static_cast<uint32_t>(frame / per_ms);
      player.reanchor = 0;
    }
    const uint32_t due = static_cast<uint32_t>(static_cast<double>(now - player.clock_start) * per_ms);
    if (due == frame && frame == player.last_decoded) return 0;
    frame = due;
    player.current_frame = frame;
  }
  bool ended = false;
  if (frame >= player.frame_count) {
    if (player.timing_mode == 1) {
      frame = 0;
      player.clock_start = now;
    } else {
      // Play once (or a caller's frame past the end): hold the last frame.
      frame = player.frame_count - 1;
      ended = true;
      player.ok = 0;
    }
    player.current_frame = frame;
    if (ended && player.last_decoded == frame) return 0;
  }
  player.last_decoded = frame;
  const uint32_t* pixels = movie_file_frame(player.file, frame);
  if (pixels == nullptr) {
    player.ok = 0;
    sys_sleep_ms(5);
    return 0;
  }
  player.ok = ended ? 0 : 1;
  std::memcpy(player.staging.data(), pixels, player.staging.size() * sizeof(uint32_t));
  std::lock_guard<std::mutex> guard(player.lock);
  player.staged_frame = frame;
  player.new_frame = 1;
  return 1;
}

void movie_player_stop() {
  player.play_state = 0;
  if (player.owner != 0) {
    kill_owner(player.owner);
    handle_free(player.owner);
    player.owner = 0;
    player.sprite = nullptr;
  }
  movie_player_close_avi();
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

void movie_player_present() {
  if (player.play_state != 3 || player.file == nullptr) return;
  if (player.current_frame == player.last_shown) return;
  while (!take_staged_frame() && player.shown_frame != player.current_frame) {
    // A thread that stopped, or a movie at its end or no longer playing,
    // brings no new frame.
    if (player.run == 0 || player.ok == 0 || player.play_state != 3) return;
    sys_sleep_ms(0);
  }
  if (player.sprite != nullptr) sprite2d_set_texture(player.sprite, front_handle());
  player.last_shown = player.shown_frame;
}

int movie_player_draw() {
  if (player.timing_mode == 2) {
    const uint32_t next = player.current_frame + 1;
    if (next >= player.frame_count) {
      player.current_frame = 0;
      return 0;
    }
    player.current_frame = next;
  }
  // Frames are stored top row first, so the sprite is upright at scale 1.
  // A frame staged meanwhile is left for present: dropping it here would
  // leave present waiting for a frame the thread has already decoded.
  sprite2d_draw_texture(0, front_handle(), 0xFFFFFFFFu, kDrawX, kDrawY, player.width_fraction, 0.0f, 1.0f, 1.0f,
                        kDrawLayer);
  return 1;
}

int movie_player_seek(uint32_t frame) {
  if (player.timing_mode != 2) return 1;
  // The frame count itself lies past the last frame.
  if (frame >= player.frame_count) return 0;
  player.current_frame = frame;
  if (take_staged_frame())
    sprite2d_draw_texture(0, front_handle(), 0xFFFFFFFFu, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, kSeekLayer);
  return 1;
}

int32_t movie_player_front_texture_id() { return player.textures[player.front & 1]; }

const TextureObject* movie_player_current_texture(const MoviePlayer* p) {
  const int32_t id = p->textures[p->front & 1];
  return id >= 1 ? get_texture_object(static_cast<AssetHandle>(id)) : nullptr;
}

const TextureObject* movie_player_global_texture() { return movie_player_current_texture(&player); }

AssetHandle movie_player_create_texture(int index) {
  if (index != 0 && index != 1) return 0;
  const AssetHandle h =
      create_texture(kPlayerPackage, kPlayerTextureNames[index], kMoviePlayerTextureSide, kMoviePlayerTextureSide, 0);
  player.textures[index] = h != 0 ? static_cast<int32_t>(h) : -1;
  return h;
}

MoviePlayer* movie_player() { return &player; }

namespace {

// The player is made before the program's entry and put away after it.
struct PlayerLifetime {
  PlayerLifetime() { movie_player_construct(); }
  ~PlayerLifetime() { movie_player_destruct(); }
} player_lifetime;

}  // namespace
