#include "render/core/movie_textures.h"

#include <cstdio>
#include <cstring>

#include "assets/crops.h"
#include "assets/textures.h"
#include "render/tasks/task.h"
#include "shell/startup_config.h"

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
  d->ok = 0;
  d->play_state = kMovieStopped;
  d->timing_mode = 0;
  d->frame = 0;
  d->reanchor = 0;
  d->last_decoded = 0;
  d->frame_count = 1;
  d->width = d->height = d->texture_width = d->texture_height = 0;
  d->front = 0;
  d->frame_rate = 0.0f;
  d->row_stride = d->bytes_per_pixel = d->clock_start = 0;
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

// The decoding threads choose their frames themselves; the hook keeps its
// place before the render.
void movie_tex_update() {}

void movie_tex_acknowledge_frames() {
  for (MovieSlot* s = pool.used; s != nullptr; s = s->next) {
    std::lock_guard<std::mutex> guard(s->decoder.lock);
    s->decoder.new_frame = 0;
  }
}

void movie_tex_stop_thread(MovieSlot* s) {
  if (s == nullptr) return;
  s->decoder.play_state = kMovieStopped;
  s->run = 0;
  if (s->thread.joinable()) s->thread.join();
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
