#include "shell/services/startup_trace.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

struct StartupTrace {
  int active = -1;  // -1 until the environment is read
  int64_t ns[STARTUP_PHASE_COUNT] = {};
};

StartupTrace trace;

constexpr const char* kPhaseNames[STARTUP_PHASE_COUNT] = {"main",          "graphics_begin", "shaders_begin",
                                                          "shaders_end",   "picture_begin",  "picture_end",
                                                          "first_present"};

}  // namespace

bool startup_trace_active() {
  if (trace.active < 0) trace.active = std::getenv("TL_STARTUP_TRACE") != nullptr ? 1 : 0;
  return trace.active == 1;
}

void startup_trace_mark(StartupPhase phase) {
  if (!startup_trace_active() || phase < 0 || phase >= STARTUP_PHASE_COUNT || trace.ns[phase] != 0) return;
  trace.ns[phase] =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
}

void startup_trace_report() {
  if (!startup_trace_active()) return;
  std::printf("startup");
  for (int i = 0; i < STARTUP_PHASE_COUNT; ++i) std::printf(" %s=%lld", kPhaseNames[i], static_cast<long long>(trace.ns[i]));
  std::printf("\n");
  std::fflush(stdout);
}
