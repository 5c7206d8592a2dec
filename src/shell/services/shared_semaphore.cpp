#include "shell/services/shared_semaphore.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sys/sys.h"

// A semaphore is an event (one word that waiters sleep on, raised by every
// wake) and a section: the count, the maximum and the waiter count under a
// spin lock, and one slot per handle that uses it. Every process that makes
// or opens a name maps the same two objects; an unnamed semaphore has them in
// memory of its own process.
//
// A handle's slot records the units taken through it and its threads that
// wait. While the slot is in use its handle holds a byte lock on the section
// object, which the kernel drops when the process ends, so a slot in use
// whose byte is free belongs to a process that ended without closing: its
// units are given back and its waiters no longer counted.
//
// Joining a name (opening both objects and taking a slot) and leaving it
// (giving the slot up and, as its last user, removing both names) happen
// under one byte lock, the gate, on the event object. A joiner that gets the
// gate of an event whose name was removed meanwhile opens the names again:
// that happens only when a whole set of users came and went, so a join never
// fails because others come and go. While joined, a handle also shares a hold
// of another byte of the event, so that an event in use never looks unused.
namespace {

enum : uint32_t {
  SEMAPHORE_SLOTS = 64,
  // Waiters look for ended holders this often (milliseconds).
  SEMAPHORE_SWEEP_MS = 100,
  // Spinners look for an ended holder of the spin lock after this many tries.
  SEMAPHORE_LOCK_TRIES = 256,
  // The event object's byte held while a handle joins or leaves.
  SEMAPHORE_GATE_BYTE = 0,
  // The event object's byte every joined handle shares a hold of.
  SEMAPHORE_USER_BYTE = 1,
};

// What a slot's in_use says.
enum : uint32_t {
  SLOT_FREE = 0,
  SLOT_USER = 1,
  // Its process left the name as it ends: the slot stays in use for threads
  // still running until the process has ended, but no longer counts as a
  // user, so that whoever leaves after it may be the last.
  SLOT_ENDING = 2,
};

struct SemaphoreSlot {
  uint32_t token;   // its handle's spin-lock value
  uint32_t in_use;  // a SLOT_ value
  int64_t held;     // units taken through it less units released through it
  int32_t waiting;  // its threads counted in waiters
};

struct SemaphoreSection {
  uint32_t ready;    // set once the words are set up
  uint32_t lock;     // the spin lock: its holder's token, 0 when free
  int32_t waiters;   // threads counted as waiting on the event
  int32_t count;     // units available
  int32_t maximum;   // largest allowed count
  uint32_t next_token;
  SemaphoreSlot slots[SEMAPHORE_SLOTS];
};

std::mutex scope_lock;
std::string scope;

SharedSemaphoreStepHook step_hook = nullptr;

void step(SharedSemaphoreStep at) {
  if (step_hook) step_hook(at);
}

// The named semaphores this process has joined, and the joins and closes
// under way, so that an end of the process that cannot shut down in order
// still leaves every name.
struct Members {
  std::mutex lock;
  std::condition_variable idle;
  std::vector<SharedSemaphore*> joined;
  int busy = 0;
  bool ending = false;
};
Members members;

std::atomic_ref<uint32_t> atomic_word(uint32_t& w) { return std::atomic_ref<uint32_t>(w); }

// The section object's byte held while slot i is in use.
uint32_t slot_byte(uint32_t slot) { return slot; }

std::string object_name(const char* kind, const char* name) {
  std::lock_guard<std::mutex> g(scope_lock);
  const std::string suffix = scope.empty() ? std::to_string(sys_user_id()) : scope;
  return std::string("/QMX_MSECT_") + kind + "_" + name + "." + suffix;
}

bool valid_name(const char* name) { return !name || std::strlen(name) <= SHARED_SEMAPHORE_NAME_MAX; }

}  // namespace

struct SharedSemaphore {
  SysSharedMemory event;
  SysSharedMemory section;
  SemaphoreSection* words = nullptr;
  std::string event_name;  // empty for an unnamed semaphore
  std::string section_name;
  uint32_t slot = 0;
  uint32_t token = 0;
  bool joined = false;
  uint32_t process = 0;  // the one that made it: a child made by fork inherits it, but not as its own
};

namespace {

uint32_t* event_word(SharedSemaphore* s) { return static_cast<uint32_t*>(s->event.data); }

// Raises the event for up to units waiters (under the lock).
void signal_waiters(SharedSemaphore* s, int32_t units) {
  const int32_t k = std::min(units, s->words->waiters);
  if (k <= 0) return;
  atomic_word(*event_word(s)).fetch_add(1);
  sys_futex_wake(event_word(s), k);
}

// A slot whose process ended: its units go back (the count staying within
// its maximum) and its waiters are no longer counted. The units given back.
int32_t give_back(SemaphoreSection* w, SemaphoreSlot& slot) {
  const int64_t units = std::min<int64_t>(std::max<int64_t>(slot.held, 0), w->maximum - w->count);
  w->count += int32_t(units);
  w->waiters -= slot.waiting;
  slot.in_use = SLOT_FREE;
  slot.held = 0;
  slot.waiting = 0;
  return int32_t(units);
}

// Gives back the slots of processes that ended while using the semaphore
// (under the lock).
int32_t sweep_ended_users(SharedSemaphore* s) {
  int32_t units = 0;
  for (uint32_t i = 0; i < SEMAPHORE_SLOTS; ++i) {
    SemaphoreSlot& slot = s->words->slots[i];
    if (i != s->slot && slot.in_use != SLOT_FREE && !sys_shared_locked_elsewhere(s->section, slot_byte(i)))
      units += give_back(s->words, slot);
  }
  return units;
}

// Whether the spin lock's holder has ended: no slot carries its token any
// more, or the process holding that slot is gone.
bool lock_holder_ended(SharedSemaphore* s, uint32_t holder) {
  if (holder == s->token || s->section_name.empty()) return false;
  for (uint32_t i = 0; i < SEMAPHORE_SLOTS; ++i) {
    if (atomic_word(s->words->slots[i].token).load() == holder)
      return !sys_shared_locked_elsewhere(s->section, slot_byte(i));
  }
  return true;
}

// Opens the named object. An object of another size that no one uses (left
// by a build that laid it out otherwise) is made anew; one in use is not, and
// no other failure removes anything.
bool open_replacing_stale(SysSharedMemory* m, const std::string& name, size_t size, bool open) {
  if (sys_shared_open(m, name, size, !open)) return true;
  return !open && sys_shared_unlink_stale(name, size) && sys_shared_open(m, name, size, true);
}

// Takes the gate over joining and leaving the name, waiting while another
// handle holds it.
bool take_gate(SharedSemaphore* s) {
  step(SHARED_SEMAPHORE_STEP_GATE);
  if (sys_shared_try_lock(s->event, SEMAPHORE_GATE_BYTE)) return true;
  step(SHARED_SEMAPHORE_STEP_GATE_BUSY);
  return sys_shared_lock(s->event, SEMAPHORE_GATE_BYTE);
}

// The section's name first: a user who ends in between leaves an event whose
// next joiner makes a new section.
void remove_names(SharedSemaphore* s) {
  step(SHARED_SEMAPHORE_STEP_UNLINK);
  sys_shared_unlink(s->section_name);
  sys_shared_unlink(s->event_name);
}

// Takes a free slot of the mapped section and joins as a user (under the
// gate). Units of users that ended without closing are given back on the way.
bool take_slot(SharedSemaphore* s) {
  step(SHARED_SEMAPHORE_STEP_SLOT);
  SemaphoreSection* w = static_cast<SemaphoreSection*>(s->section.data);
  uint32_t slot = 0;
  while (slot < SEMAPHORE_SLOTS && !sys_shared_try_lock(s->section, slot_byte(slot))) ++slot;
  if (slot == SEMAPHORE_SLOTS) {
    sys_set_last_error(SHARED_SEMAPHORE_ERROR_FULL);
    return false;
  }
  if (!sys_shared_share_lock(s->event, SEMAPHORE_USER_BYTE)) return false;
  s->words = w;
  s->slot = slot;
  do {
    s->token = atomic_word(w->next_token).fetch_add(1) + 1;
  } while (s->token == 0);
  atomic_word(w->slots[slot].token).store(s->token);
  lock_semaphore_section(s);
  SemaphoreSlot& mine = w->slots[slot];
  // In use with its byte free: the process before ended without closing.
  int32_t units = mine.in_use != SLOT_FREE ? give_back(w, mine) : 0;
  units += sweep_ended_users(s);
  signal_waiters(s, units);
  mine.in_use = SLOT_USER;
  mine.held = 0;
  mine.waiting = 0;
  unlock_semaphore_section(s);
  s->joined = true;
  return true;
}

// Maps the named section and sets it up when it is new (or was left half
// made), then takes a slot in it (under the gate).
bool join_section(SharedSemaphore* s, int initial, int maximum, bool open) {
  if (!open_replacing_stale(&s->section, s->section_name, sizeof(SemaphoreSection), open)) return false;
  SemaphoreSection* w = static_cast<SemaphoreSection*>(s->section.data);
  if (!w->ready && !open) {
    std::memset(w, 0, sizeof(SemaphoreSection));
    w->count = initial;
    w->maximum = maximum;
    w->ready = 1;
  }
  if (w->ready && take_slot(s)) return true;
  sys_shared_close(&s->section);
  return false;
}

// A join or a close of a named semaphore begins (a closing handle leaves the
// list at once); once the process is ending, it waits for the end instead.
void membership_begin(SharedSemaphore* closing) {
  std::unique_lock<std::mutex> g(members.lock);
  members.idle.wait(g, [] { return !members.ending; });
  ++members.busy;
  if (closing) std::erase(members.joined, closing);
}

// It ends, with the handle that joined when one did.
void membership_end(SharedSemaphore* joined) {
  std::lock_guard<std::mutex> g(members.lock);
  if (joined) members.joined.push_back(joined);
  --members.busy;
  members.idle.notify_all();
}

SharedSemaphore* make(int initial, int maximum, const char* name, bool open) {
  SharedSemaphore* s = new SharedSemaphore;
  s->process = sys_process_id();
  if (name) membership_begin(nullptr);
  const bool made = init_shared_semaphore(s, initial, maximum, name, open);
  if (name) membership_end(made ? s : nullptr);
  if (made) return s;
  close_shared_semaphore(s);
  return nullptr;
}

// Whether any slot still counts as a user of the section (under the lock).
bool any_user(const SemaphoreSection* w) {
  return std::any_of(std::begin(w->slots), std::end(w->slots),
                     [](const SemaphoreSlot& slot) { return slot.in_use == SLOT_USER; });
}

// Leaves the name of s as the process ends: as its last user, its names go.
// The slot stays in use until the process ends, so units its threads take
// meanwhile are given back by the next user, if any.
void leave_at_end(SharedSemaphore* s) {
  if (!take_gate(s)) return;
  // Names already removed (through another handle of this process) stay so.
  if (sys_shared_linked(s->event)) {
    lock_semaphore_section(s);
    signal_waiters(s, sweep_ended_users(s));
    s->words->slots[s->slot].in_use = SLOT_ENDING;
    const bool last = !any_user(s->words);
    unlock_semaphore_section(s);
    if (last) remove_names(s);
  }
  sys_shared_unlock(s->event, SEMAPHORE_GATE_BYTE);
}

}  // namespace

void shared_semaphore_set_scope(const char* text) {
  std::lock_guard<std::mutex> g(scope_lock);
  scope = text ? text : "";
}

void shared_semaphore_set_step_hook(SharedSemaphoreStepHook hook) { step_hook = hook; }

bool open_semaphore_event(SharedSemaphore* s, const char* name, bool open) {
  s->event_name = name ? object_name("EVT", name) : std::string();
  for (;;) {
    if (!open_replacing_stale(&s->event, s->event_name, sizeof(uint32_t), open)) return false;
    if (!take_gate(s)) {
      sys_shared_close(&s->event);
      return false;
    }
    // Still reachable by name: no last user removed it before the gate was
    // ours, and none can until it is given up.
    if (sys_shared_linked(s->event)) return true;
    sys_shared_close(&s->event);
  }
}

bool open_semaphore_section(SharedSemaphore* s, int initial, int maximum, const char* name, bool open) {
  if (!name) {
    if (!sys_shared_open(&s->section, std::string(), sizeof(SemaphoreSection), true)) return false;
    s->words = static_cast<SemaphoreSection*>(s->section.data);
    s->words->count = initial;
    s->words->maximum = maximum;
    s->words->ready = 1;
    s->token = 1;
    s->words->slots[0].token = s->token;
    s->words->slots[0].in_use = SLOT_USER;
    s->joined = true;
    return true;
  }
  s->section_name = object_name("MMF", name);
  return join_section(s, initial, maximum, open);
}

bool init_shared_semaphore(SharedSemaphore* s, int initial, int maximum, const char* name, bool open) {
  if (!open_semaphore_event(s, name, open)) return false;
  const bool joined = open_semaphore_section(s, initial, maximum, name, open);
  sys_shared_unlock(s->event, SEMAPHORE_GATE_BYTE);
  return joined;
}

void lock_semaphore_section(SharedSemaphore* s) {
  std::atomic_ref<uint32_t> lock = atomic_word(s->words->lock);
  for (uint32_t attempt = 1;; ++attempt) {
    uint32_t holder = 0;
    if (lock.compare_exchange_strong(holder, s->token, std::memory_order_acquire)) return;
    if (attempt % SEMAPHORE_LOCK_TRIES == 0 && lock_holder_ended(s, holder) &&
        lock.compare_exchange_strong(holder, s->token, std::memory_order_acquire))
      return;
    sys_yield();
  }
}

void unlock_semaphore_section(SharedSemaphore* s) { atomic_word(s->words->lock).store(0, std::memory_order_release); }

SharedSemaphore* create_shared_semaphore(int initial, int maximum, const char* name) {
  if (maximum < 1 || initial < 0 || initial > maximum || !valid_name(name)) {
    sys_set_last_error(SYS_ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return make(initial, maximum, name, false);
}

SharedSemaphore* open_shared_semaphore(const char* name) {
  if (!name || !valid_name(name)) return nullptr;
  return make(0, 0, name, true);
}

uint32_t wait_shared_semaphore(SharedSemaphore* s, uint32_t timeout_ms) {
  SemaphoreSection* w = s->words;
  SemaphoreSlot& mine = w->slots[s->slot];
  const uint32_t start = sys_ms_clock();
  uint32_t swept = start;
  lock_semaphore_section(s);
  for (;;) {
    if (w->count >= 1) {
      // Recorded as held first: a process that ends between the two steps
      // gives the unit back rather than losing it.
      ++mine.held;
      --w->count;
      unlock_semaphore_section(s);
      return 0;
    }
    const uint32_t now = sys_ms_clock();
    uint32_t nap = SEMAPHORE_SWEEP_MS;
    if (timeout_ms != SHARED_SEMAPHORE_INFINITE) {
      if (now - start >= timeout_ms) {
        unlock_semaphore_section(s);
        return SYS_WAIT_TIMEOUT;
      }
      nap = std::min(nap, timeout_ms - (now - start));
    }
    // The event's word is read under the lock: a release after the unlock
    // changes it, and the sleep then ends at once.
    ++w->waiters;
    ++mine.waiting;
    const uint32_t raised = atomic_word(*event_word(s)).load();
    unlock_semaphore_section(s);
    sys_futex_wait(event_word(s), raised, nap);
    lock_semaphore_section(s);
    --w->waiters;
    --mine.waiting;
    // A process that ended holding a unit never releases it.
    if (!s->section_name.empty() && sys_ms_clock() - swept >= SEMAPHORE_SWEEP_MS) {
      swept = sys_ms_clock();
      signal_waiters(s, sweep_ended_users(s));
    }
  }
}

int release_shared_semaphore(SharedSemaphore* s, int n, int* previous) {
  SemaphoreSection* w = s->words;
  lock_semaphore_section(s);
  if (previous) *previous = w->count;
  if (n < 0 || n > w->maximum - w->count) {
    unlock_semaphore_section(s);
    sys_set_last_error(SYS_ERROR_INVALID_PARAMETER);
    return 0;
  }
  // Counted first: a process that ends between the two steps gives the
  // units back twice, which the maximum bounds, rather than losing them.
  w->count += n;
  w->slots[s->slot].held -= n;
  signal_waiters(s, n);
  unlock_semaphore_section(s);
  return 1;
}

void close_shared_semaphore(SharedSemaphore* s) {
  if (!s) return;
  const bool named = s->joined && !s->section_name.empty();
  if (named) membership_begin(s);
  if (s->joined) {
    // Under the gate, so that no one joins between finding no other user and
    // removing the names.
    take_gate(s);
    lock_semaphore_section(s);
    SemaphoreSection* w = s->words;
    w->slots[s->slot].in_use = SLOT_FREE;
    bool last = false;
    if (named) {
      signal_waiters(s, sweep_ended_users(s));
      last = !any_user(w);
    }
    unlock_semaphore_section(s);
    if (last) remove_names(s);
  }
  sys_shared_close(&s->section);
  sys_shared_close(&s->event);
  delete s;
  if (named) membership_end(nullptr);
}

void shared_semaphore_leave_all() {
  std::vector<SharedSemaphore*> joined;
  {
    std::unique_lock<std::mutex> g(members.lock);
    members.ending = true;
    members.idle.wait(g, [] { return members.busy == 0; });
    const uint32_t self = sys_process_id();
    std::copy_if(members.joined.begin(), members.joined.end(), std::back_inserter(joined),
                 [self](const SharedSemaphore* s) { return s->process == self; });
  }
  for (SharedSemaphore* s : joined) leave_at_end(s);
}
