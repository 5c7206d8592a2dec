// Positional sound requests: objects post a sound effect at a world place
// during the frame, and once per frame the requests are resolved. One
// request per effect survives (the one nearest view 0's camera), requests
// beyond 600 units are never queued, and an effect just requested is held
// back for the next three flushes. The survivors play through the sound
// manager's positional effect operations.
//
// Main thread only; the manager's operations take the sound lock.
#pragma once

#include <cstdint>

#include "sound/sound_manager.h"

enum SoundRequestType : uint32_t {
  SOUND_REQUEST_ONCE = 0,
  SOUND_REQUEST_RESTART = 1,
  SOUND_REQUEST_LOOP = 2,  // plays looped while near, stops when far
};

struct SoundRequest {
  uint32_t index;  // sound-effect index
  uint32_t type;   // SoundRequestType
  float distance_sq;  // to view 0's camera
  float position[3];
};
static_assert(sizeof(SoundRequest) == 24);

enum {
  SOUND_REQUEST_CAPACITY = 64,
  SOUND_REQUEST_HOLD = 4,  // set when queued; only 0 or this value admits a request
};
// Squared distances: queued up to 600 units, a loop keeps playing up to about 584.8.
constexpr float kSoundRequestRangeSq = 360000.0f;
constexpr float kSoundRequestLoopRangeSq = 342000.0f;

struct SoundRequestBlock {
  uint32_t serial;
  uint32_t frame;       // flushes so far
  uint32_t load_calls;  // calls of sound_requests_load_test
  uint32_t seed;
  SoundRequest requests[SOUND_REQUEST_CAPACITY];
  SoundRequest* order[SOUND_REQUEST_CAPACITY];  // the queued requests, sorted by index during a flush
  uint32_t count;
  uint8_t hold[SOUND_SE_COUNT];
  int32_t counters[SOUND_SE_COUNT];
};

void sound_requests_init();
void sound_requests_release();

// Post an effect at a world position, or at the camera when position is
// null. An index outside the effect table is refused.
void sound_request_play(uint32_t index, const float* position);
void sound_request_restart(uint32_t index, const float* position);
void sound_request_loop(uint32_t index, const float* position);
void sound_request_push(uint32_t index, const float* position, uint32_t type);

// Resolves and plays this frame's requests, then counts the flush.
void sound_requests_flush();

uint32_t sound_requests_next_serial();  // the value before it is raised
uint32_t sound_requests_frame();
// 0..32767 from the block's own generator (seeded with 1 at init).
uint32_t sound_requests_random();

// Per-effect counters; an index outside the effect table reads 0 and changes nothing.
int32_t sound_requests_counter(uint32_t index);
void sound_requests_counter_raise(uint32_t index);
void sound_requests_counter_lower(uint32_t index);

// Whether optional sounds may be requested this time, thinning them out as
// the task load of the last update pass grows.
bool sound_requests_load_test();
// The rule it applies to a task load and the raised call counter.
bool sound_requests_load_allows(uint32_t load, uint32_t calls);

const SoundRequestBlock* sound_requests_block();
