#include "shell/services/shared_semaphore.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/sys/sys.h"

// A semaphore is a section (its count, maximum and waiter count under a lock)
// and an event that wakes a waiter. Every handle of the same name shares
// both. Sharing stays inside the process: two running copies of the program
// do not serialise each other, and one that dies holding a unit cannot hang
// the other.
struct SemaphoreSection {
  std::mutex lock;
  int count = 0;
  int maximum = 0;
  int waiters = 0;
};

struct SemaphoreEvent {
  std::condition_variable_any wake;
};

struct SharedSemaphore {
  std::shared_ptr<SemaphoreEvent> event;
  std::shared_ptr<SemaphoreSection> section;
};

namespace {

std::mutex names_lock;
std::map<std::string, std::weak_ptr<SemaphoreEvent>> events;
std::map<std::string, std::weak_ptr<SemaphoreSection>> sections;

bool valid_name(const char* name) { return !name || std::strlen(name) <= SHARED_SEMAPHORE_NAME_MAX; }

// The named object of a map: found, or (in create mode) made; null when it
// must be opened and does not exist.
template <typename T>
std::shared_ptr<T> named(std::map<std::string, std::weak_ptr<T>>& map, const std::string& key, bool open,
                         bool* made) {
  *made = false;
  std::shared_ptr<T> object = map[key].lock();
  if (!object && !open) {
    object = std::make_shared<T>();
    map[key] = object;
    *made = true;
  }
  if (!object) map.erase(key);
  return object;
}

// The section's lock as a lockable, for the event's waits.
struct SectionLock {
  SharedSemaphore* s;
  void lock() { lock_semaphore_section(s); }
  void unlock() { unlock_semaphore_section(s); }
};

SharedSemaphore* make(int initial, int maximum, const char* name, bool open) {
  SharedSemaphore* s = new SharedSemaphore;
  if (!init_shared_semaphore(s, initial, maximum, name, open)) {
    close_shared_semaphore(s);
    return nullptr;
  }
  return s;
}

}  // namespace

bool open_semaphore_event(SharedSemaphore* s, const char* name, bool open) {
  if (!name) {
    s->event = std::make_shared<SemaphoreEvent>();
    return true;
  }
  std::lock_guard<std::mutex> g(names_lock);
  bool made;
  s->event = named(events, std::string("QMX_MSECT_EVT_") + name, open, &made);
  return s->event != nullptr;
}

bool open_semaphore_section(SharedSemaphore* s, int initial, int maximum, const char* name, bool open) {
  bool made = !name;
  if (name) {
    std::lock_guard<std::mutex> g(names_lock);
    s->section = named(sections, std::string("QMX_MSECT_MMF_") + name, open, &made);
    if (!s->section) return false;
  } else {
    s->section = std::make_shared<SemaphoreSection>();
  }
  if (made) {
    s->section->count = initial;
    s->section->maximum = maximum;
  }
  return true;
}

bool init_shared_semaphore(SharedSemaphore* s, int initial, int maximum, const char* name, bool open) {
  return open_semaphore_event(s, name, open) && open_semaphore_section(s, initial, maximum, name, open);
}

void lock_semaphore_section(SharedSemaphore* s) { s->section->lock.lock(); }
void unlock_semaphore_section(SharedSemaphore* s) { s->section->lock.unlock(); }

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
  SemaphoreSection& b = *s->section;
  SectionLock section{s};
  std::unique_lock<SectionLock> g(section);
  auto available = [&] { return b.count >= 1; };
  ++b.waiters;
  bool taken = true;
  if (timeout_ms == SHARED_SEMAPHORE_INFINITE) {
    s->event->wake.wait(g, available);
  } else {
    taken = s->event->wake.wait_for(g, std::chrono::milliseconds(timeout_ms), available);
  }
  --b.waiters;
  if (!taken) return SYS_WAIT_TIMEOUT;
  --b.count;
  return 0;
}

int release_shared_semaphore(SharedSemaphore* s, int n, int* previous) {
  SemaphoreSection& b = *s->section;
  int wake = 0;
  {
    SectionLock section{s};
    std::lock_guard<SectionLock> g(section);
    if (previous) *previous = b.count;
    if (n < 0 || b.count + n > b.maximum) {
      sys_set_last_error(SYS_ERROR_INVALID_PARAMETER);
      return 0;
    }
    b.count += n;
    wake = n < b.waiters ? n : b.waiters;
  }
  for (int i = 0; i < wake; ++i) s->event->wake.notify_one();
  return 1;
}

void close_shared_semaphore(SharedSemaphore* s) {
  if (!s) return;
  std::lock_guard<std::mutex> g(names_lock);
  delete s;
  for (auto it = events.begin(); it != events.end();) it = it->second.expired() ? events.erase(it) : std::next(it);
  for (auto it = sections.begin(); it != sections.end();)
    it = it->second.expired() ? sections.erase(it) : std::next(it);
}
