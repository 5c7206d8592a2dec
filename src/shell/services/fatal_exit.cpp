#include "shell/services/fatal_exit.h"

#include <cstdio>
#include <cstdlib>

#include "shell/services/shared_semaphore.h"

namespace {

FatalExitHandler handler = nullptr;

}  // namespace

void fatal_exit_set_handler(FatalExitHandler h) { handler = h; }

void fatal_error_exit(uint16_t origin, uint16_t detail, uint16_t sub_detail, const char* text) {
  std::fprintf(stderr, "tamberlune: fatal error %u %u %u%s%s\n", origin, detail, sub_detail, text ? ": " : "",
               text ? text : "");
  if (handler) handler(origin, detail, sub_detail, text);
  shared_semaphore_leave_all();
  std::fflush(nullptr);
  std::_Exit(1);
}
