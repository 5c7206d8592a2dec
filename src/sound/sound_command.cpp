#include "sound/sound_command.h"

#include <atomic>
#include <cstdio>

#include "platform/sys/sys.h"
#include "shell/services/shared_semaphore.h"

namespace {

struct SoundCommandRing {
  SysThread thread;
  std::atomic<SharedSemaphore*> semaphore;
  std::atomic<uint32_t> quit;
  std::atomic<uint32_t> discard;  // quit without running what is pending
  uint32_t write_index;
  uint32_t read_index;
  uint32_t pending;
  std::thread::id thread_id;
  SoundCommand slots[SOUND_RING_SLOTS];
  // Beyond the ring's own words: whether posts are taken, the posters inside
  // a post (the semaphore is closed only once they are out), the handler.
  bool accepting;
  std::atomic<int> posters;
  SoundCommandHandler handler;
};

SoundCommandRing ring;
thread_local bool on_worker = false;

void lock(SharedSemaphore* s) { wait_shared_semaphore(s, SHARED_SEMAPHORE_INFINITE); }
void unlock(SharedSemaphore* s) { release_shared_semaphore(s, 1, nullptr); }

}  // namespace

void sound_thread_proc() {
  on_worker = true;
  SharedSemaphore* s = ring.semaphore.load();
  for (;;) {
    // Quitting is read first, so the commands that came before the quit
    // request all run before the worker ends.
    const bool quitting = ring.quit.load() != 0;
    lock(s);
    uint32_t n = ring.pending;
    unlock(s);
    while (n != 0 && !ring.discard.load()) {
      lock(s);
      SoundCommand c = ring.slots[ring.read_index];
      unlock(s);
      if (c.opcode < SOUND_OP_COUNT) ring.handler(c);
      lock(s);
      ring.read_index = (ring.read_index + 1) % SOUND_RING_SLOTS;
      --ring.pending;
      n = ring.pending;
      unlock(s);
      sys_sleep_ms(1);
    }
    if (quitting || ring.discard.load()) break;
    sys_sleep_ms(10);
  }
}

bool sound_wait_queue_room() {
  for (;;) {
    SharedSemaphore* s = ring.semaphore.load();
    if (!s) return false;
    lock(s);
    const bool accepting = ring.accepting;
    const bool room = ring.pending < SOUND_RING_ROOM || std::this_thread::get_id() == ring.thread_id;
    unlock(s);
    if (!accepting) return false;
    if (room) return true;
    sys_yield();
  }
}

namespace {

// Stores one command: fill writes the form's fields into a zeroed slot.
template <typename Fill>
int post(uint32_t opcode, Fill fill) {
  ring.posters.fetch_add(1);
  int queued = 0;
  // Another poster may take the room between the wait and the store, so the
  // store checks again under the semaphore.
  SharedSemaphore* s = sound_wait_queue_room() ? ring.semaphore.load() : nullptr;
  bool from_worker = false;
  while (s) {
    lock(s);
    if (!ring.accepting) {
      unlock(s);
      break;
    }
    // The worker itself must never wait for room only it can make.
    from_worker = std::this_thread::get_id() == ring.thread_id;
    if (ring.pending < (from_worker ? uint32_t{SOUND_RING_SLOTS} : uint32_t{SOUND_RING_ROOM})) {
      SoundCommand& c = ring.slots[ring.write_index];
      c = SoundCommand{};
      c.opcode = opcode;
      fill(c);
      ring.write_index = (ring.write_index + 1) % SOUND_RING_SLOTS;
      ++ring.pending;
      queued = 1;
      unlock(s);
      break;
    }
    unlock(s);
    if (from_worker) {
      std::fprintf(stderr, "tamberlune: sound command %u dropped: the ring is full\n", opcode);
      break;
    }
    sys_sleep_ms(1);
  }
  ring.posters.fetch_sub(1);
  return queued;
}

}  // namespace

bool sound_thread_start(SoundCommandHandler handler) {
  sound_thread_stop();
  ring.quit = 0;
  ring.discard = 0;
  ring.write_index = ring.read_index = ring.pending = 0;
  ring.thread_id = std::thread::id();
  for (SoundCommand& c : ring.slots) c = SoundCommand{};
  ring.handler = handler;
  SharedSemaphore* s = create_shared_semaphore(1, 1, "sound");
  if (!s) return false;
  ring.accepting = true;
  ring.semaphore = s;
  // The thread id is known before any command can reach the worker.
  lock(s);
  ring.thread = SysThread(sound_thread_proc);
  ring.thread_id = ring.thread.get_id();
  unlock(s);
  return true;
}

void sound_thread_request_quit() {
  SharedSemaphore* s = ring.semaphore.load();
  if (!s) return;
  lock(s);
  ring.accepting = false;
  ring.quit = 1;
  unlock(s);
}

void sound_thread_abort() {
  ring.discard = 1;
  sound_thread_stop();
}

void sound_thread_stop() {
  if (ring.thread.joinable()) {
    sound_thread_request_quit();
    ring.thread.join();
  }
  SharedSemaphore* s = ring.semaphore.exchange(nullptr);
  if (!s) return;
  while (ring.posters.load() != 0) sys_yield();
  close_shared_semaphore(s);
}

bool sound_thread_running() { return ring.thread.joinable() && !ring.quit.load(); }

bool sound_thread_is_current() { return on_worker; }

bool sound_thread_wait_idle(uint32_t timeout_ms) {
  const uint32_t start = sys_ms_clock();
  for (;;) {
    SharedSemaphore* s = ring.semaphore.load();
    if (!s) return true;
    lock(s);
    uint32_t n = ring.pending;
    unlock(s);
    if (n == 0) return true;
    if (sys_ms_clock() - start >= timeout_ms) return false;
    sys_sleep_ms(1);
  }
}

int sound_post_command(uint32_t opcode, SoundId id) {
  return post(opcode, [&](SoundCommand& c) {
    c.id = id;
  });
}

int sound_post_simple(uint32_t opcode) { return sound_post_command(opcode, 0); }

int sound_post_command_int(uint32_t opcode, SoundId id, int32_t integer) {
  return post(opcode, [&](SoundCommand& c) {
    c.id = id;
    c.integer = integer;
  });
}

int sound_post_command_extra(uint32_t opcode, SoundId id, uint32_t extra) {
  return post(opcode, [&](SoundCommand& c) {
    c.id = id;
    c.extra = extra;
  });
}

int sound_post_command_value(uint32_t opcode, SoundId id, float value) {
  return post(opcode, [&](SoundCommand& c) {
    c.id = id;
    c.value = value;
  });
}

int sound_post_value(uint32_t opcode, float value) {
  return post(opcode, [&](SoundCommand& c) {
    c.value = value;
  });
}

int sound_post_command_at(uint32_t opcode, SoundId id, const float* position) {
  return post(opcode, [&](SoundCommand& c) {
    c.id = id;
    if (position) {
      c.has_position = 1;
      c.x = position[0];
      c.y = position[1];
      c.z = position[2];
    }
  });
}

int sound_post_command_at_value(uint32_t opcode, SoundId id, const float* position, float value) {
  return post(opcode, [&](SoundCommand& c) {
    c.id = id;
    c.value = value;
    if (position) {
      c.has_position = 1;
      c.x = position[0];
      c.y = position[1];
      c.z = position[2];
    }
  });
}
