#include "platform/sys/sys.h"

#include <sys/mman.h>
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

namespace {

// Blocks are mapped in whole huge pages, so that the kernel can back every
// part of them with one.
constexpr size_t kHugePage = size_t(2) << 20;

size_t large_mapping(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* sys_alloc_large(size_t bytes) {
  if (bytes == 0 || bytes > SIZE_MAX - kHugePage) return nullptr;
  const size_t mapped = large_mapping(bytes);
  void* block = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return nullptr;
  // Only advice: without huge pages the block works the same, more slowly.
  ::madvise(block, mapped, MADV_HUGEPAGE);
  return block;
}

void sys_free_large(void* block, size_t bytes) {
  if (block) ::munmap(block, large_mapping(bytes));
}

struct tm sys_local_time() {
  std::time_t now = std::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  return local;
}
