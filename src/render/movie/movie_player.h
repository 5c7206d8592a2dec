// The movie player: one global object, older than the movie slots, that
// plays a movie file on a decoding thread of its own into two 1024 x 1024
// textures (front and back) and presents its frames as one-frame 2D
// sprites. Opening by name is not offered (movie_player_open answers 0), so
// nothing in the program plays a movie with it; the operations below work on
// a movie opened with movie_player_open_avi.
//
// The decoding thread only converts frames into the player's staging buffer
// and raises the new-frame flag; the main thread, which owns the graphics
// device, uploads a staged frame into the back texture when it takes it
// (present, seek), which makes the back texture the front.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "assets/asset_handle.h"

struct MovieFile;
struct Task;
struct TextureObject;

constexpr uint32_t kMoviePlayerNoRange = 1000000;
// The player's textures are square, 1024 pixels a side; larger frames are
// refused.
constexpr int32_t kMoviePlayerTextureSide = 1024;

struct MoviePlayer {
  int32_t frame_width, frame_height;
  float width_fraction, height_fraction;  // of 1024
  std::atomic<uint32_t> play_state;       // 0 stopped, 1 rewind, 2 step back, 3 play
  float frame_rate;                       // frames per second
  uint32_t row_stride;                    // bytes of a staged row
  std::atomic<uint32_t> run;              // the decoding thread runs while set
  std::atomic<uint32_t> timing_mode;      // 1 loop, 2 frames chosen by the caller, else play once
  int32_t textures[2];                    // texture handles; -1 = none
  std::thread thread;
  uint16_t front;                      // main thread
  uint16_t new_frame;                  // under the lock: a frame is staged
  std::atomic<uint32_t> current_frame;  // the frame to show
  uint32_t last_shown;
  uint32_t range_length;  // kMoviePlayerNoRange when none is given
  uint32_t range_set;
  uint32_t frame_count;  // 1 before a movie is open
  MovieFile* file;
  uint32_t bytes_per_pixel;
  uint32_t clock_start;    // millisecond clock at frame 0; decoding thread
  uint32_t texture_size;   // the smallest power of two holding the frame
  std::atomic<uint32_t> ok;  // 0 at the end of a play-once movie or after a bad frame
  Task* sprite;
  uint32_t owner;  // 0 = none
  // Decoding thread; kMoviePlayerNoFrame after opening. The main thread sets
  // it back to the shown frame when it drops a staged frame, so that frame is
  // decoded again when it is asked for once more.
  std::atomic<uint32_t> last_decoded;
  uint32_t reanchor;  // decoding thread
  // A decoded frame, frame_width x frame_height ARGB rows top first. The
  // thread fills it only while new_frame is clear; the main thread reads it
  // only while new_frame is set.
  std::vector<uint32_t> staging;
  uint32_t staged_frame;  // under the lock: the frame in staging while new_frame is set
  uint32_t shown_frame;   // main thread: the frame in the front texture; kMoviePlayerNoFrame for none
  std::mutex lock;
};

constexpr uint32_t kMoviePlayerNoFrame = 0xFFFFFFFFu;

// The object at process start (and at exit): no textures, nothing playing.
void movie_player_construct();
// At exit: a decoding thread still running is stopped and the movie closed.
void movie_player_destruct();
// Sound start-up and shutdown call these; the player keeps nothing open
// across them.
void movie_player_init();
void movie_player_shutdown();
// Opening by name is not offered: always 0.
int movie_player_open(const char* name, int mode);
int movie_player_open_step(const char* name);

// Opens the movie at the path (as the system writes paths): frame size and
// fractions, texture size, frame rate and count, the clock; 1 on success.
// A file that cannot be read, or frames larger than the textures, are
// refused with a message (0) and leave the player closed.
int movie_player_open_avi(const char* path);
// Closes the movie; 0 (also when none is open).
int movie_player_close_avi();
// The decoding thread's body: steps until the run flag goes down, then
// stops the play state. Whoever starts it raises the run flag first and
// keeps the thread in `thread`.
void movie_player_thread();
// One step of the decoding thread at the millisecond clock `now`: 1 when it
// staged a frame, 0 when there was nothing to do or the frame could not be
// read.
int movie_player_decode_frame(uint32_t now);

// Stops the thread (and the player's sprite and owner when set) and closes
// the movie.
void movie_player_stop();
int movie_player_play();
int movie_player_pause();
void movie_player_set_range(uint32_t first, uint32_t length);
void movie_player_get_range(uint32_t* first, uint32_t* end);
void movie_player_set_frame_size(int32_t width, int32_t height);

// In play state 3, when the current frame is not the one last shown: waits
// for the decoding thread to stage the current frame (while the thread runs,
// the movie is ok and plays), makes it the front and gives the front to the
// player's sprite. A frame staged before the player moved elsewhere (a range
// or a seek) is dropped, never shown; a current frame already in the front
// texture is shown without waiting.
void movie_player_present();
// In caller-chosen timing first moves to the next frame (back to 0 past the
// end, answering 0). Then draws the front texture as a one-frame sprite on
// layer 20, its frame's top-right corner at (720, 60); 1. A frame staged
// but not yet taken stays for present.
int movie_player_draw();
// In caller-chosen timing: the frame becomes current (0 when it lies past
// the last frame); when the thread has already staged that frame it becomes
// the front and is drawn at (0, 0) on layer 59, and a staged frame of
// another index is dropped. Other timings: 1, nothing changes.
int movie_player_seek(uint32_t frame);

int32_t movie_player_front_texture_id();
// The front texture's object; null while the front id is below 1.
const TextureObject* movie_player_current_texture(const MoviePlayer* player);
const TextureObject* movie_player_global_texture();
// Registers the 1024 x 1024 texture of buffer 0 ("mvt1") or 1 ("mvtx") in
// the package "mex" and keeps it as that buffer's texture; its handle, or
// 0 for another index or when it cannot be made.
AssetHandle movie_player_create_texture(int index);
MoviePlayer* movie_player();
