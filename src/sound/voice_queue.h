// The voice queue: spoken lines are queued with a lifetime in frames and
// started on the main thread one after another, at most one per frame,
// never overlapping. Requests that waited too long, and a voice repeating
// the previous one within 300 frames, are dropped. All of it runs under the
// sound lock.
#pragma once

#include <cstdint>

#include "sound/sound_command.h"

enum { VOICE_QUEUE_SLOTS = 16, VOICE_QUEUE_LIFETIME = 60, VOICE_GIVE_UP_FRAMES = 181, VOICE_REPEAT_FRAMES = 300 };

struct VoiceRequest {
  SoundId id;
  int32_t lifetime;       // frames
  uint32_t queued_frame;  // sound frame counter when queued
};

struct VoiceQueue {
  int32_t count;
  uint32_t write_index;
  uint32_t read_index;
  VoiceRequest entries[VOICE_QUEUE_SLOTS];
  SoundId current;
  uint32_t start_frame;
  uint32_t state;  // 0 idle, 1 started and not yet seen playing, 2 seen playing (or given up)
  SoundId last;
  uint32_t last_frame;
};

// Stops the voice and empties the queue; the last voice and its frame stay,
// so the repeat rule holds across a clear.
void voice_queue_clear();
// A voice id (bit 30) empties the queue and is queued with lifetime 60.
void voice_queue_play(SoundId id);
// False when refused: not a voice, 15 already waiting, or lifetime 0 while
// more than one waits.
bool voice_queue_push(SoundId id, int32_t lifetime);
int voice_queue_count();
// One step, once per frame before the sound frame counter rises.
void voice_queue_step();
// Forgets everything, the last voice too (start-up).
void voice_queue_reset();
// The queue as it stands; read it under the sound lock.
const VoiceQueue& voice_queue_state();
