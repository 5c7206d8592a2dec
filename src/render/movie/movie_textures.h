// Movie textures: four slots, each able to play a movie file into a pair of
// textures (front and back) that a decoding thread of the slot fills by the
// wall clock while the main thread acknowledges each new frame once a frame.
// The textures and crops of every slot are registered at start-up in the
// package "motex" as "movtex<slot><buffer>", so sprites can name them.
//
// The decoding thread of a slot only reads and converts frames into the
// slot's staging buffer; the main thread, which owns the graphics device,
// uploads a staged frame into the back texture before the render and makes
// it the front. Everything else is main thread only.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "assets/asset_registry.h"
#include "render/tasks/task.h"

struct MovieFile;

constexpr int kMovieSlotCount = 4;
constexpr int kMoviePathSize = 256;

enum : uint32_t { kMovieSlotInUse = 1u << 0, kMovieSlotThread = 1u << 1 };
// Play states.
enum : uint32_t { kMovieStopped = 0, kMovieRewind = 1, kMovieStep = 2, kMoviePlay = 3 };
// Timing modes: 1 loop by the clock, 2 frames chosen by the caller, any
// other value play once by the clock.
enum : uint32_t { kMovieLoop = 1, kMovieCallerFrames = 2 };

// No frame decoded yet since the movie was opened.
constexpr uint32_t kMovieNoFrame = 0xFFFFFFFFu;

struct AviDecoder {
  uint32_t new_frame;  // under the lock: uploaded, not yet acknowledged
  std::atomic<uint32_t> ok;
  std::atomic<uint32_t> play_state;
  std::atomic<uint32_t> timing_mode;
  std::atomic<uint32_t> frame;
  uint32_t reanchor;      // decoding thread
  uint32_t last_decoded;  // decoding thread; kMovieNoFrame after opening
  uint32_t frame_count;   // 1 before a movie is open
  uint32_t width, height;
  uint32_t texture_width, texture_height;
  AssetHandle textures[2];
  AssetHandle crops[2];
  uint32_t front;  // under the lock
  float frame_rate;
  uint32_t row_stride;  // bytes of a staged row
  uint32_t bytes_per_pixel;
  uint32_t clock_start;
  MovieFile* file;
  // A decoded frame, width x height ARGB rows top first. The thread fills it
  // only while `staged` and `new_frame` are clear; the main thread reads it
  // only while `staged` is set.
  std::vector<uint32_t> staging;
  uint32_t staged;  // under the lock
  std::mutex lock;
};

struct MovieSlot {
  uint32_t flags;
  TaskHandle owner;
  AviDecoder decoder;
  std::atomic<uint32_t> run;
  std::thread thread;
  MovieSlot* prev;
  MovieSlot* next;
};

struct MovieSlotPool {
  MovieSlot slots[kMovieSlotCount];
  MovieSlot* used;
  MovieSlot* free;
  int32_t count;
  RegistryMark mark;
  char path[kMoviePathSize];
};

// Graphics start-up: the movie path ("MVDATAP", or ".\bin\"), the registry
// mark, the 1x1 textures and empty crops of every slot, the slot reset; also
// joins the task system's reset and owner kill.
void movie_tex_init();
// Graphics shutdown: stops every slot and releases the registry to the mark.
void movie_tex_shutdown();
// The graphics reset: stops every slot, then the slot reset.
void movie_tex_reset();
// The four slots to the free list in pool order, none in use. Playing slots
// are stopped first, so no decoding thread outlives its slot.
void movie_tex_slots_reset();
void movie_tex_stop_all();
// Per frame before the render: staged frames are uploaded into the back
// texture, which becomes the front. After the render: new frames are
// acknowledged, which lets the decoding threads stage the next.
void movie_tex_update();
void movie_tex_acknowledge_frames();

// Takes a free slot for the owner and starts the movie `name` (under the
// movie path) in it. Null when no slot is free; the slot is returned even
// when the movie cannot be started.
MovieSlot* movie_tex_play(uint32_t owner, const char* name, uint32_t timing_mode);
// Opens the movie into the slot and starts its decoding thread; 0 when the
// file cannot be read or the thread cannot start.
int movie_tex_start(MovieSlot* slot, const char* name, uint32_t timing_mode);

// Null is ignored; stops the slot's thread and frees it.
void movie_tex_stop(MovieSlot* slot);
void movie_tex_stop_of_owner(uint32_t owner);
void movie_tex_stop_thread(MovieSlot* slot);
void movie_tex_resume(MovieSlot* slot);
void movie_tex_step(MovieSlot* slot);
void movie_tex_rewind(MovieSlot* slot);
void movie_tex_set_mode(MovieSlot* slot, uint32_t timing_mode);
// In caller-chosen timing: 1 and the frame stored when it lies below the
// frame count, else 0. In other modes 1, changing nothing.
int movie_tex_seek(MovieSlot* slot, uint32_t frame);
AssetHandle movie_tex_front_crop(MovieSlot* slot);
uint32_t movie_tex_frame_count(const MovieSlot* slot);
int movie_tex_count();
const MovieSlotPool* movie_tex_pool();

// The smallest power of two not below n: 1, doubled while smaller.
uint32_t movie_next_pow2(uint32_t n);
// Opens the movie file at the path; says why on stderr and returns null when
// it cannot be played.
MovieFile* movie_open_file(const char* path);

// The decoder underneath a slot, main thread: open sizes the textures and
// crops to the movie; close gives them up again.
int movie_avi_open(AviDecoder* decoder, const char* path);
void movie_avi_close(AviDecoder* decoder);
// One step of a decoding thread at the millisecond clock `now`: 1 when it
// staged a frame, 0 when there was nothing to do or the frame could not be
// read. The thread passes the system clock; tests pass their own.
int movie_avi_step(AviDecoder* decoder, uint32_t now);
