#include "render/movie/movie_textures.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "assets/crops.h"
#include "assets/textures.h"
#include "platform/movie/movie_file.h"
#include "platform/sys/sys.h"
#include "render/tasks/task.h"
#include "shell/services/startup_config.h"

namespace {

MovieSlotPool pool;

constexpr const char* kMoviePackage = "motex";
constexpr int32_t kMovieTextureFormat = 1;  // X8R8G8B8

void push_front(MovieSlot** head, MovieSlot* s) {
  s->prev = nullptr;
  s->next = *head;
  if (*head != nullptr) (*head)->prev = s;
  *head = s;
}

void unlink_used(MovieSlot* s) {
  if (s->prev != nullptr) s->prev->next = s->next;
  else pool.used = s->next;
  if (s->next != nullptr) s->next->prev = s->prev;
  s->prev = s->next = nullptr;
}

// The decoder's fields to their closed state; the textures and crops stay.
void decoder_reset(AviDecoder* d) {
  d->new_frame = 0;
  d->staged = 0;
  d->ok = 0;
  d->play_state = kMovieStopped;
  d->timing_mode = 0;
  d->frame = 0;
  d->reanchor = 0;
  d->last_decoded = kMovieNoFrame;
  d->frame_count = 1;
  d->width = d->height = d->texture_width = d->texture_height = 0;
  d->front = 0;
  d->frame_rate = 0.0f;
  d->row_stride = d->bytes_per_pixel = d->clock_start = 0;
}

void movie_tex_thread(MovieSlot* s) {
  while (s->run.load()) {
    // Waiting for the clock or the main thread sleeps; a decoded frame only
    // yields, so catching up is quick.
    if (movie_avi_step(&s->decoder, sys_ms_clock()) == 0) sys_sleep_ms(1);
    else sys_sleep_ms(0);
  }
  s->decoder.play_state = kMovieStopped;
}

void register_slot_assets(int i) {
  AviDecoder& d = pool.slots[i].decoder;
  for (int j = 0; j < 2; ++j) {
    char name[16];
    std::snprintf(name, sizeof(name), "movtex%d%d", i, j);
    d.textures[j] = create_texture(kMoviePackage, name, 1, 1, kMovieTextureFormat);
    d.crops[j] = register_crop_of_texture(kMoviePackage, name, 0, 0, 0, 0, d.textures[j]);
  }
}

}  // namespace

void movie_tex_init() {
  movie_tex_stop_all();
  pool.used = pool.free = nullptr;
  pool.count = 0;
  pool.mark = RegistryMark{};
  const char* path = get_startup_string("MVDATAP");
  std::snprintf(pool.path, sizeof(pool.path), "%s", path != nullptr ? path : ".\\bin\\");
  mark_asset_registry(&pool.mark);
  for (int i = 0; i < kMovieSlotCount; ++i) {
    MovieSlot& s = pool.slots[i];
    s.flags = 0;
    s.owner = 0;
    s.run = 0;
    decoder_reset(&s.decoder);
    register_slot_assets(i);
  }
  movie_tex_slots_reset();
  tasks_set_owner_hook(kOwnerHookMovie, movie_tex_stop_of_owner, movie_tex_slots_reset);
}

void movie_tex_shutdown() {
  movie_tex_stop_all();
  release_asset_registry_to_mark(&pool.mark);
}

void movie_tex_reset() {
  movie_tex_stop_all();
  movie_tex_slots_reset();
}

void movie_tex_slots_reset() {
  movie_tex_stop_all();
  pool.free = nullptr;
  for (int i = kMovieSlotCount - 1; i >= 0; --i) {
    MovieSlot& s = pool.slots[i];
    s.flags = 0;
    push_front(&pool.free, &s);
  }
  pool.used = nullptr;
  pool.count = 0;
}

void movie_tex_stop_all() {
  while (pool.used != nullptr) movie_tex_stop(pool.used);
}

void movie_tex_update() {
  for (MovieSlot* s = pool.used; s != nullptr; s = s->next) {
    AviDecoder& d = s->decoder;
    uint32_t back;
    {
      std::lock_guard<std::mutex> guard(d.lock);
      if (d.staged == 0) continue;
      back = (d.front ^ 1u) & 1u;
    }
    // The thread leaves the staging buffer alone while the frame is staged.
    write_texture_pixels(d.textures[back], 0, 0, static_cast<int32_t>(d.width), static_cast<int32_t>(d.height),
                         d.staging.data());
    std::lock_guard<std::mutex> guard(d.lock);
    d.staged = 0;
    d.new_frame = 1;
    d.front = back;
  }
}

void movie_tex_acknowledge_frames() {
  for (MovieSlot* s = pool.used; s != nullptr; s = s->next) {
    std::lock_guard<std::mutex> guard(s->decoder.lock);
    s->decoder.new_frame = 0;
  }
}

MovieSlot* movie_tex_play(uint32_t owner, const char* name, uint32_t timing_mode) {
  MovieSlot* s = pool.free;
  if (s == nullptr) return nullptr;
  pool.free = s->next;
  if (pool.free != nullptr) pool.free->prev = nullptr;
  s->flags = kMovieSlotInUse;
  s->owner = owner;
  push_front(&pool.used, s);
  movie_tex_start(s, name, timing_mode);
  ++pool.count;
  return s;
}

int movie_tex_start(MovieSlot* s, const char* name, uint32_t timing_mode) {
  if (s == nullptr || name == nullptr) return 0;
  if (s->flags & kMovieSlotThread) movie_tex_stop_thread(s);
  const std::string path = std::string(pool.path) + name;
  AviDecoder& d = s->decoder;
  if (d.play_state != kMovieStopped || movie_avi_open(&d, path.c_str()) == 0) return 0;
  d.timing_mode = timing_mode;
  // The run flag is up before the thread exists, so a stop that follows at
  // once cannot be overwritten by the thread starting late.
  s->run = 1;
  try {
    s->thread = std::thread(movie_tex_thread, s);
  } catch (const std::system_error&) {
    s->run = 0;
    movie_avi_close(&d);
    return 0;
  }
  d.play_state = kMoviePlay;
  s->flags |= kMovieSlotThread;
  return 1;
}

void movie_tex_stop_thread(MovieSlot* s) {
  if (s == nullptr) return;
  s->decoder.play_state = kMovieStopped;
  s->run = 0;
  if (s->thread.joinable()) {
    s->thread.join();
    movie_avi_close(&s->decoder);
  }
  s->flags &= ~kMovieSlotThread;
}

void movie_tex_stop(MovieSlot* s) {
  if (s == nullptr || (s->flags & kMovieSlotInUse) == 0) return;
  movie_tex_stop_thread(s);
  s->flags &= ~kMovieSlotInUse;
  unlink_used(s);
  push_front(&pool.free, s);
  --pool.count;
}

void movie_tex_stop_of_owner(uint32_t owner) {
  if (owner == 0) return;
  for (MovieSlot* s = pool.used; s != nullptr;) {
    MovieSlot* next = s->next;
    if (s->owner == owner) movie_tex_stop(s);
    s = next;
  }
}

void movie_tex_resume(MovieSlot* s) {
  if (s != nullptr) s->decoder.play_state = kMoviePlay;
}

void movie_tex_step(MovieSlot* s) {
  if (s != nullptr) s->decoder.play_state = kMovieStep;
}

void movie_tex_rewind(MovieSlot* s) {
  if (s != nullptr) s->decoder.play_state = kMovieRewind;
}

void movie_tex_set_mode(MovieSlot* s, uint32_t timing_mode) {
  if (s != nullptr) s->decoder.timing_mode = timing_mode;
}

int movie_tex_seek(MovieSlot* s, uint32_t frame) {
  if (s == nullptr) return 0;
  if (s->decoder.timing_mode != kMovieCallerFrames) return 1;
  // The frame count itself lies past the last frame.
  if (frame >= s->decoder.frame_count) return 0;
  s->decoder.frame = frame;
  return 1;
}

AssetHandle movie_tex_front_crop(MovieSlot* s) {
  if (s == nullptr) return 0;
  std::lock_guard<std::mutex> guard(s->decoder.lock);
  return s->decoder.crops[s->decoder.front & 1];
}

uint32_t movie_tex_frame_count(const MovieSlot* s) { return s != nullptr ? s->decoder.frame_count : 0; }

int movie_tex_count() { return pool.count; }

const MovieSlotPool* movie_tex_pool() { return &pool; }

uint32_t movie_next_pow2(uint32_t n) {
  uint32_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

MovieFile* movie_open_file(const char* path) {
  std::string error;
  MovieFile* file = movie_file_open(path, &error);
  if (file == nullptr) std::fprintf(stderr, "tamberlune: movie %s cannot be played: %s\n", path, error.c_str());
  return file;
}

int movie_avi_open(AviDecoder* d, const char* path) {
  if (d->file != nullptr) movie_avi_close(d);
  decoder_reset(d);
  MovieFile* file = movie_open_file(path);
  if (file == nullptr) return 0;
  const MovieStreamInfo info = movie_file_info(file);
  d->file = file;
  d->width = static_cast<uint32_t>(info.width);
  d->height = static_cast<uint32_t>(info.height);
  d->texture_width = movie_next_pow2(d->width);
  d->texture_height = movie_next_pow2(d->height);
  d->bytes_per_pixel = 4;
  d->row_stride = d->width * 4;
  d->frame_rate = static_cast<float>(info.rate) / static_cast<float>(info.scale);
  d->frame_count = info.frame_count;
  d->staging.assign(static_cast<size_t>(d->width) * d->height, 0);
  d->clock_start = sys_ms_clock();
  d->ok = 1;
  // Frames arrive top row first, so the crops cover the frame unflipped.
  for (int j = 0; j < 2; ++j) {
    resize_texture(d->textures[j], static_cast<int32_t>(d->texture_width), static_cast<int32_t>(d->texture_height),
                   kMovieTextureFormat);
    set_crop_pixels(d->crops[j], 0, 0, static_cast<int32_t>(d->width), static_cast<int32_t>(d->height),
                    d->textures[j]);
  }
  return 1;
}

void movie_avi_close(AviDecoder* d) {
  if (d->file == nullptr) return;
  for (int j = 1; j >= 0; --j) {
    set_crop_pixels(d->crops[j], 0, 0, 0, 0, d->textures[j]);
    resize_texture(d->textures[j], 0, 0, kMovieTextureFormat);
  }
  movie_file_close(d->file);
  d->file = nullptr;
  std::vector<uint32_t>().swap(d->staging);
  std::lock_guard<std::mutex> guard(d->lock);
  d->staged = 0;
  d->new_frame = 0;
  d->front = 0;
}

int movie_avi_step(AviDecoder* d, uint32_t now) {
  const uint32_t state = d->play_state;
  if (state == kMovieStopped) return 0;
  if (state == kMovieStep) {
    d->reanchor = 1;
    d->frame = d->last_decoded + 1;
    sys_sleep_ms(5);
    return 0;
  }
  {
    // The frame is chosen only once the previous one is shown, so no frame
    // is read and then dropped.
    std::lock_guard<std::mutex> guard(d->lock);
    if (d->staged != 0 || d->new_frame != 0) return 0;
  }
  uint32_t frame = d->frame;
  if (state == kMovieRewind) {
    d->reanchor = 1;
    frame = 0;
    d->frame = 0;
    if (d->last_decoded == 0) {
      sys_sleep_ms(5);
      return 0;
    }
  } else if (d->timing_mode == kMovieCallerFrames) {
    if (frame == d->last_decoded) return 0;
  } else {
    const double per_ms = static_cast<double>(d->frame_rate) * 0.001;
    if (d->reanchor != 0) {
      d->clock_start = now - static_cast<uint32_t>(frame / per_ms);
      d->reanchor = 0;
    }
    const uint32_t due = static_cast<uint32_t>(static_cast<double>(now - d->clock_start) * per_ms);
    if (due == frame && frame == d->last_decoded) return 0;
    frame = due;
    d->frame = frame;
  }
  bool ended = false;
  if (frame >= d->frame_count) {
    if (d->timing_mode == kMovieLoop) {
      frame = 0;
      d->clock_start = now;
    } else {
      // Play once: hold the last frame, shown once, and report the end.
      frame = d->frame_count - 1;
      ended = true;
      d->ok = 0;
    }
    d->frame = frame;
    if (ended && d->last_decoded == frame) return 0;
  }
  d->last_decoded = frame;
  const uint32_t* pixels = movie_file_frame(d->file, frame);
  if (pixels == nullptr) {
    d->ok = 0;
    sys_sleep_ms(5);
    return 0;
  }
  d->ok = ended ? 0 : 1;
  std::memcpy(d->staging.data(), pixels, d->staging.size() * sizeof(uint32_t));
  std::lock_guard<std::mutex> guard(d->lock);
  d->staged = 1;
  return 1;
}
