#include "shell/services/system_info.h"

#include "platform/sys/sys.h"

namespace {

// 0 for both when the query fails.
void read_memory(uint64_t* avail, uint64_t* total) {
  if (!sys_memory_status(avail, total)) *avail = *total = 0;
}

}  // namespace

uint64_t get_avail_phys_memory() {
  uint64_t avail, total;
  read_memory(&avail, &total);
  return avail;
}

uint64_t get_total_phys_memory() {
  uint64_t avail, total;
  read_memory(&avail, &total);
  return total;
}

int get_sysinfo_value() { return 0; }
int get_sysinfo_value_2() { return 0; }
