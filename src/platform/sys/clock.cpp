#include "platform/sys/sys.h"

#include <errno.h>
#include <sched.h>
#include <time.h>

uint32_t sys_ms_clock() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

int64_t sys_perf_counter() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t sys_perf_frequency() { return 1000000000; }

void sys_sleep_ms(uint32_t ms) {
  if (ms == 0) {
    sys_yield();
    return;
  }
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0) {
  }
}

// An absolute wake-up time, so a signal that interrupts the sleep does not
// stretch it.
void sys_sleep_until(int64_t counter) {
  if (counter <= 0) return;
  const timespec ts{static_cast<time_t>(counter / 1000000000), static_cast<long>(counter % 1000000000)};
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
  }
}

void sys_yield() { ::sched_yield(); }
