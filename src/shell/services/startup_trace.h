// Start-up phases, timed for the start-up benchmark. When the environment
// variable TL_STARTUP_TRACE is set, the program notes the steady clock
// (CLOCK_MONOTONIC, in nanoseconds) at the edges of its start-up phases,
// prints them on one line to stdout once the first frame that shows the
// sample arrangement has been presented, and quits. Without it every call
// does nothing.
#pragma once

#include <cstdint>

enum StartupPhase {
  STARTUP_MAIN,            // the program's own code starts
  STARTUP_GRAPHICS_BEGIN,  // graphics start-up, after the window is made
  STARTUP_SHADERS_BEGIN,   // shader compilation at graphics start-up
  STARTUP_SHADERS_END,
  STARTUP_PICTURE_BEGIN,   // the sample arrangement and its picture load
  STARTUP_PICTURE_END,
  STARTUP_FIRST_PRESENT,   // the first frame that shows the picture is presented
  STARTUP_PHASE_COUNT
};

bool startup_trace_active();
// Notes the time of the phase edge; only the first note of each counts.
void startup_trace_mark(StartupPhase phase);
// The line: "startup main=<ns> graphics_begin=<ns> ... first_present=<ns>",
// 0 for an edge never noted.
void startup_trace_report();
