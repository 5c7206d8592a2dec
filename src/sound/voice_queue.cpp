#include "sound/voice_queue.h"

#include "sound/sound_manager.h"

namespace {

VoiceQueue queue;

using Guard = std::lock_guard<std::recursive_mutex>;

// Frames from then to now; the counter wraps, the difference is signed.
int32_t frames_since(uint32_t then) { return static_cast<int32_t>(sound_frame_counter() - then); }

}  // namespace

void voice_queue_clear() {
  Guard g(sound_lock());
  sound_stop_voice();
  queue.count = 0;
  queue.write_index = queue.read_index = 0;
  queue.current = 0;
  queue.start_frame = 0;
  queue.state = 0;
}

void voice_queue_reset() {
  Guard g(sound_lock());
  queue = VoiceQueue{};
}

void voice_queue_play(SoundId id) {
  if (!(id & SOUND_ID_VOICE)) return;
  Guard g(sound_lock());
  voice_queue_clear();
  voice_queue_push(id, VOICE_QUEUE_LIFETIME);
}

bool voice_queue_push(SoundId id, int32_t lifetime) {
  if (!(id & SOUND_ID_VOICE)) return false;
  Guard g(sound_lock());
  if (queue.count + 1 >= VOICE_QUEUE_SLOTS) return false;
  if (queue.count > 1 && lifetime == 0) return false;
  queue.write_index = (queue.write_index + 1) & (VOICE_QUEUE_SLOTS - 1);
  queue.entries[queue.write_index] = {id, lifetime, sound_frame_counter()};
  ++queue.count;
  return true;
}

const VoiceQueue& voice_queue_state() { return queue; }

int voice_queue_count() {
  Guard g(sound_lock());
  return queue.count;
}

void voice_queue_step() {
  Guard g(sound_lock());
  // Follow the voice that was started even while nothing waits, so that a
  // voice queued after it ended starts at once rather than after the
  // give-up time.
  if (queue.state != 0) {
    const bool playing = sound_is_voice_playing();
    if (playing || frames_since(queue.start_frame) >= VOICE_GIVE_UP_FRAMES) queue.state = 2;
    if (queue.state != 2 || playing) return;
    queue.state = 0;
  }
  if (queue.count < 1) return;
  queue.read_index = (queue.read_index + 1) & (VOICE_QUEUE_SLOTS - 1);
  const VoiceRequest r = queue.entries[queue.read_index];
  --queue.count;
  if (frames_since(r.queued_frame) > r.lifetime + 1) return;
  if (r.id == queue.last && frames_since(queue.last_frame) < VOICE_REPEAT_FRAMES) return;
  queue.current = r.id;
  queue.start_frame = sound_frame_counter();
  sound_play_voice(r.id);
  queue.state = 1;
  queue.last = r.id;
  queue.last_frame = queue.start_frame;
}
