#include "platform/sys/sys.h"

#include <sys/sysinfo.h>
#include <unistd.h>

namespace {
thread_local uint32_t last_error = 0;
uint32_t rand_state = 1;
}  // namespace

void sys_set_last_error(uint32_t code) { last_error = code; }
uint32_t sys_get_last_error() { return last_error; }

int sys_rand() {
  rand_state = rand_state * 214013u + 2531011u;
  return static_cast<int>((rand_state >> 16) & 0x7FFF);
}

void sys_rand_reset() { rand_state = 1; }

bool sys_flush_to_disk(FILE* f) { return std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0; }

bool sys_memory_status(uint64_t* available, uint64_t* total) {
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return false;
  *available = static_cast<uint64_t>(info.freeram) * info.mem_unit;
  *total = static_cast<uint64_t>(info.totalram) * info.mem_unit;
  return true;
}

struct tm sys_local_time() {
  std::time_t now = std::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  return local;
}
