#include "platform/sys/sys.h"

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
