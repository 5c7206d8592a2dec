#include "shell/services/shared_semaphore.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/sys/sys.h"

// The count lives in a block that every handle of the same name shares.
// Sharing stays inside the process: two running copies of the program do
// not serialise each other, and one that dies holding a unit cannot hang
// the other.
struct SemaphoreBlock {
  std::mutex lock;
  std::condition_variable wake;
  int count = 0;
  int maximum = 0;
};

struct SharedSemaphore {
  std::shared_ptr<SemaphoreBlock> block;
};

namespace {

std::mutex names_lock;
std::map<std::string, std::weak_ptr<SemaphoreBlock>> names;

bool valid_name(const char* name) { return !name || std::strlen(name) <= SHARED_SEMAPHORE_NAME_MAX; }

}  // namespace

SharedSemaphore* create_shared_semaphore(int initial, int maximum, const char* name) {
  if (maximum < 1 || initial < 0 || initial > maximum || !valid_name(name)) {
    sys_set_last_error(SYS_ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::shared_ptr<SemaphoreBlock> block;
  if (name) {
    std::lock_guard<std::mutex> g(names_lock);
    block = names[name].lock();
    if (!block) {
      block = std::make_shared<SemaphoreBlock>();
      block->count = initial;
      block->maximum = maximum;
      names[name] = block;
    }
  } else {
    block = std::make_shared<SemaphoreBlock>();
    block->count = initial;
    block->maximum = maximum;
  }
  return new SharedSemaphore{std::move(block)};
}

SharedSemaphore* open_shared_semaphore(const char* name) {
  if (!name || !valid_name(name)) return nullptr;
  std::lock_guard<std::mutex> g(names_lock);
  auto it = names.find(name);
  if (it == names.end()) return nullptr;
  std::shared_ptr<SemaphoreBlock> block = it->second.lock();
  return block ? new SharedSemaphore{std::move(block)} : nullptr;
}

uint32_t wait_shared_semaphore(SharedSemaphore* s, uint32_t timeout_ms) {
  SemaphoreBlock& b = *s->block;
  std::unique_lock<std::mutex> g(b.lock);
  auto available = [&] { return b.count >= 1; };
  if (timeout_ms == SHARED_SEMAPHORE_INFINITE) {
    b.wake.wait(g, available);
  } else if (!b.wake.wait_for(g, std::chrono::milliseconds(timeout_ms), available)) {
    return SYS_WAIT_TIMEOUT;
  }
  --b.count;
  return 0;
}

int release_shared_semaphore(SharedSemaphore* s, int n, int* previous) {
  SemaphoreBlock& b = *s->block;
  {
    std::lock_guard<std::mutex> g(b.lock);
    if (previous) *previous = b.count;
    if (n < 0 || b.count + n > b.maximum) {
      sys_set_last_error(SYS_ERROR_INVALID_PARAMETER);
      return 0;
    }
    b.count += n;
  }
  for (int i = 0; i < n; ++i) b.wake.notify_one();
  return 1;
}

void close_shared_semaphore(SharedSemaphore* s) {
  if (!s) return;
  std::lock_guard<std::mutex> g(names_lock);
  delete s;
  for (auto it = names.begin(); it != names.end();) it = it->second.expired() ? names.erase(it) : std::next(it);
}
