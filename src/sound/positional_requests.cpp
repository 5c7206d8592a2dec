#include "sound/positional_requests.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "render/tasks/task.h"
#include "render/view/view_matrices.h"

namespace {

SoundRequestBlock block;

bool valid_index(uint32_t index) { return index < SOUND_SE_COUNT; }

void play(const SoundRequest& r) {
  const SoundId id = r.index;
  switch (r.type) {
    case SOUND_REQUEST_ONCE:
      sound_play_se_at(id, false, r.position, 0.0f, SOUND_FX_DEFAULT);
      break;
    case SOUND_REQUEST_RESTART:
      sound_stop_se(id);
      sound_play_se_at(id, false, r.position, 0.001f, SOUND_FX_DEFAULT);
      break;
    case SOUND_REQUEST_LOOP:
      if (r.distance_sq <= kSoundRequestLoopRangeSq)
        sound_play_se_at(id, true, r.position, 0.0f, SOUND_FX_DEFAULT);
      else
        sound_stop_se(id);
      break;
    default:
      break;
  }
}

}  // namespace

void sound_requests_init() {
  std::memset(&block, 0, sizeof block);
  block.seed = 1;
}

void sound_requests_release() {}

void sound_request_play(uint32_t index, const float* position) {
  sound_request_push(index, position, SOUND_REQUEST_ONCE);
}

void sound_request_restart(uint32_t index, const float* position) {
  sound_request_push(index, position, SOUND_REQUEST_RESTART);
}

void sound_request_loop(uint32_t index, const float* position) {
  sound_request_push(index, position, SOUND_REQUEST_LOOP);
}

void sound_request_push(uint32_t index, const float* position, uint32_t type) {
  if (block.count >= SOUND_REQUEST_CAPACITY || !valid_index(index)) return;
  if (block.hold[index] != 0 && block.hold[index] != SOUND_REQUEST_HOLD) return;
  const Mat4* camera = get_camera_matrix(0);
  const float c[3] = {camera->m[12], camera->m[13], camera->m[14]};
  SoundRequest& r = block.requests[block.count];
  r.index = index;
  r.type = type;
  if (position) {
    float d = 0.0f;
    for (int i = 0; i < 3; ++i) {
      r.position[i] = position[i];
      const float e = position[i] - c[i];
      d += e * e;
    }
    r.distance_sq = d;
  } else {
    std::memcpy(r.position, c, sizeof c);
    r.distance_sq = 0.0f;
  }
  if (r.distance_sq > kSoundRequestRangeSq) return;
  block.hold[index] = SOUND_REQUEST_HOLD;
  ++block.count;
}

void sound_requests_flush() {
  const uint32_t n = block.count;
  for (uint32_t i = 0; i < n; ++i) block.order[i] = &block.requests[i];
  // Stable, so within one effect the requests stay in the order posted and
  // the latest of equally near ones wins.
  std::stable_sort(block.order, block.order + n,
                   [](const SoundRequest* a, const SoundRequest* b) { return a->index < b->index; });
  {
    // A restart is a stop and a play; the worker must not slip in between.
    std::lock_guard<std::recursive_mutex> g(sound_lock());
    for (uint32_t run = 0; run < n;) {
      const SoundRequest* best = block.order[run];
      uint32_t end = run + 1;
      for (; end < n && block.order[end]->index == best->index; ++end)
        if (block.order[end]->distance_sq <= best->distance_sq) best = block.order[end];
      play(*best);
      run = end;
    }
  }
  for (uint8_t& h : block.hold)
    if (h != 0) --h;
  block.count = 0;
  ++block.frame;
}

uint32_t sound_requests_next_serial() { return block.serial++; }

uint32_t sound_requests_frame() { return block.frame; }

uint32_t sound_requests_random() {
  block.seed = block.seed * 214013u + 2531011u;
  return (block.seed >> 16) & 0x7FFFu;
}

int32_t sound_requests_counter(uint32_t index) { return valid_index(index) ? block.counters[index] : 0; }

void sound_requests_counter_raise(uint32_t index) {
  if (valid_index(index)) ++block.counters[index];
}

void sound_requests_counter_lower(uint32_t index) {
  if (valid_index(index)) --block.counters[index];
}

bool sound_requests_load_allows(uint32_t load, uint32_t calls) {
  if (load < 3096) return true;
  if (load < 3396) return (calls & 1) != 0;
  if (load < 3696) return (calls & 3) != 0;
  if (load < 3896) return (calls & 7) != 0;
  return false;
}

bool sound_requests_load_test() { return sound_requests_load_allows(tasks_get_update_load(), ++block.load_calls); }

const SoundRequestBlock* sound_requests_block() { return &block; }
