#include "shell/services/error_log.h"


#include <cstdio>
#include <ctime>
#include <string>

#include "platform/sys/sys.h"

namespace {

std::string log_path;  // empty: no log

}  // namespace

void set_error_log_path(const char* path) { log_path = path ? path : ""; }

void free_error_log_path() {
  log_path.clear();
  log_path.shrink_to_fit();
}

const char* get_error_log_path() { return log_path.empty() ? nullptr : log_path.c_str(); }

bool write_error_log(uint32_t code1, uint32_t code2, uint32_t code3) {
  if (log_path.empty()) return false;
  FILE* f = sys_fopen(log_path, "a");
  if (!f) return false;
  const std::tm local = sys_local_time();
  char date[16], time[16];
  std::strftime(date, sizeof date, "%m/%d/%y", &local);
  std::strftime(time, sizeof time, "%H:%M:%S", &local);
  bool ok = std::fprintf(f, "%s\t%s\t%08x\t%08x\t%08x\n", date, time, code1, code2, code3) > 0;
  // Flushed through the stream that wrote the line, so the line is on disk
  // before the call returns and no second open can create an empty file.
  ok = sys_flush_to_disk(f) && ok;
  return std::fclose(f) == 0 && ok;
}
