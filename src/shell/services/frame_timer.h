// Frame pacing at a fixed rate, the performance counter with its frame-start
// stamp, and the millisecond clock.
#pragma once

#include <cstdint>

struct FrameTimer {
  int enabled;
  uint32_t period_min, period_max;
  uint32_t ms_previous, ms_now;
  int64_t counter_previous, counter_now;
  uint32_t frames_total;
  int target_rate;
  float frame_us;
  float frame_ms;
  int frame_ms_whole;
  float measured_rate;
  uint32_t frames_since_measure;
  uint32_t ms_at_measure;
  int64_t counter_at_measure;
};

struct PerfTimer {
  int rate;
  int initialised;
  int counter_present;
  int64_t frequency;
  int64_t frame_start;
  int64_t log_stamp;
  int64_t mark_stamp;
};

// The clocks the timers read; tests substitute their own. Null restores the
// system clocks.
struct FrameClock {
  uint32_t (*ms)();
  int64_t (*counter)();
  int64_t (*frequency)();
  void (*sleep)(uint32_t ms);
};
void frame_timer_set_clock(const FrameClock* clock);

// Frame timer.
void init_frame_timer(int rate);
void wait_for_next_frame();
FrameTimer* set_frame_rate(int rate);
int get_frame_rate();
uint32_t get_frame_count();
void set_frame_timer_enabled(int enabled);
int is_frame_timer_enabled();
void get_frame_rates(float* rate, float* target);
void take_counter_stamp(int64_t* out);
float frame_percent_since(const int64_t* stamp);
uint32_t read_ms_clock_with_period(uint32_t period);
const FrameTimer* get_frame_timer();
void shutdown_frame_timer();

// Performance timer.
void init_perf_timer(int rate);
int64_t read_perf_counter();
int64_t get_perf_frequency();
void mark_frame_start();
float ticks_to_frame_fraction(int64_t t);
float frame_time_percent();
int stamp_perf_log();
void stamp_perf_mark();
float log_stamp_percent();
float mark_stamp_percent();
void shutdown_perf_timer();

// Millisecond clock and wrap-safe differences.
uint32_t get_time_ms();
uint32_t read_time_ms();
uint32_t elapsed_ms_since(uint32_t start);
uint32_t elapsed_ms_wrap(uint32_t earlier, uint32_t later);
int64_t elapsed_ticks_wrap(int64_t earlier, int64_t later);
