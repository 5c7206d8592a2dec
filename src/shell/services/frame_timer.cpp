#include "shell/services/frame_timer.h"

#include <algorithm>
#include <cstring>

#include "platform/sys/sys.h"
#include "shell/services/startup_config.h"

namespace {

FrameTimer frame_timer;
PerfTimer perf_timer;

const FrameClock kSystemClock = {sys_ms_clock, sys_perf_counter, sys_perf_frequency, sys_sleep_ms};
const FrameClock* clock_source = &kSystemClock;

void set_rate_fields(int rate) {
  frame_timer.target_rate = rate;
  frame_timer.frame_us = static_cast<float>(1000000.0 / rate);
  frame_timer.frame_ms = static_cast<float>(1000.0 / rate);
  frame_timer.frame_ms_whole = static_cast<int>(1000.0 / rate - 0.5);
}

}  // namespace

void frame_timer_set_clock(const FrameClock* clock) { clock_source = clock ? clock : &kSystemClock; }

// The millisecond and counter differences are modular, so a clock that
// wrapped between two reads still gives the small true difference.
uint32_t elapsed_ms_wrap(uint32_t earlier, uint32_t later) { return later - earlier; }

int64_t elapsed_ticks_wrap(int64_t earlier, int64_t later) {
  return static_cast<int64_t>(static_cast<uint64_t>(later) - static_cast<uint64_t>(earlier));
}

uint32_t read_ms_clock_with_period(uint32_t) { return clock_source->ms(); }
uint32_t read_time_ms() { return clock_source->ms(); }
uint32_t get_time_ms() { return read_time_ms(); }
uint32_t elapsed_ms_since(uint32_t start) { return elapsed_ms_wrap(start, read_time_ms()); }

void init_frame_timer(int rate) {
  std::memset(&frame_timer, 0, sizeof frame_timer);
  frame_timer.period_min = 1;
  frame_timer.period_max = 1000000;
  frame_timer.ms_previous = frame_timer.ms_now = frame_timer.ms_at_measure =
      read_ms_clock_with_period(frame_timer.period_min);
  frame_timer.counter_previous = frame_timer.counter_now = read_perf_counter();
  set_rate_fields(rate);
  frame_timer.enabled = 1;
}

void wait_for_next_frame() {
  FrameTimer& t = frame_timer;
  bool first = true;
  for (;;) {
    t.counter_now = read_perf_counter();
    t.ms_now = read_ms_clock_with_period(t.period_min);
    if (!t.enabled) break;
    uint32_t elapsed_ms = elapsed_ms_wrap(t.ms_previous, t.ms_now);
    int64_t elapsed_counts = elapsed_ticks_wrap(t.counter_previous, t.counter_now);
    bool frame_passed = static_cast<double>(elapsed_counts) * 1000000.0 >=
                        static_cast<double>(perf_timer.frequency) * static_cast<double>(t.frame_us);
    if (perf_timer.counter_present && frame_passed) {
      if (first) clock_source->sleep(0);
      break;
    }
    // The millisecond clock paces only where no counter exists: its whole
    // milliseconds end a frame up to one millisecond early otherwise.
    if (!perf_timer.counter_present && elapsed_ms > static_cast<uint32_t>(t.frame_ms_whole)) {
      if (first) clock_source->sleep(0);
      break;
    }
    // Signed, so a frame already past its sleep budget yields instead of
    // sleeping for a wrapped-around eternity.
    int64_t nap = static_cast<int64_t>(t.frame_ms_whole) - static_cast<int64_t>(elapsed_ms) - 3;
    clock_source->sleep(static_cast<uint32_t>(std::max<int64_t>(0, nap)));
    first = false;
  }
  ++t.frames_total;
  ++t.frames_since_measure;
  if (t.frames_since_measure >= static_cast<uint32_t>(t.target_rate)) {
    uint32_t d = elapsed_ms_wrap(t.ms_at_measure, t.ms_now);
    if (d != 0) t.measured_rate = static_cast<float>(t.frames_since_measure * 1000.0 / d);
    t.ms_at_measure = t.ms_now;
    t.counter_at_measure = t.counter_now;
    t.frames_since_measure = 0;
  }
  t.ms_previous = t.ms_now;
  t.counter_previous = t.counter_now;
}

FrameTimer* set_frame_rate(int rate) {
  set_rate_fields(rate);
  return &frame_timer;
}

int get_frame_rate() { return frame_timer.target_rate; }
uint32_t get_frame_count() { return frame_timer.frames_total; }
void set_frame_timer_enabled(int enabled) { frame_timer.enabled = enabled; }
int is_frame_timer_enabled() { return frame_timer.enabled; }
const FrameTimer* get_frame_timer() { return &frame_timer; }

void get_frame_rates(float* rate, float* target) {
  *rate = frame_timer.measured_rate <= 60.0f ? frame_timer.measured_rate : 60.0f;
  *target = static_cast<float>(frame_timer.target_rate);
}

void take_counter_stamp(int64_t* out) {
  if (out) *out = read_perf_counter();
}

float frame_percent_since(const int64_t* stamp) {
  if (!stamp) return 0.0f;
  double frame_counts = static_cast<double>(perf_timer.frequency) * frame_timer.frame_us / 1000.0;
  if (frame_counts <= 0.0) return 0.0f;
  return static_cast<float>(static_cast<double>(elapsed_ticks_wrap(*stamp, read_perf_counter())) * 100000.0 /
                            frame_counts);
}

void shutdown_frame_timer() {}

void init_perf_timer(int rate) {
  std::memset(&perf_timer, 0, sizeof perf_timer);
  perf_timer.rate = rate;
  perf_timer.frequency = clock_source->frequency();
  perf_timer.counter_present = perf_timer.frequency > 0;
  mark_frame_start();
  perf_timer.initialised = 1;
}

int64_t read_perf_counter() {
  return perf_timer.counter_present && perf_timer.initialised ? clock_source->counter() : 0;
}

int64_t get_perf_frequency() { return perf_timer.frequency; }
void mark_frame_start() { perf_timer.frame_start = read_perf_counter(); }

float ticks_to_frame_fraction(int64_t t) {
  if (perf_timer.frequency <= 0) return 0.0f;
  return static_cast<float>(static_cast<double>(elapsed_ticks_wrap(perf_timer.frame_start, t)) * perf_timer.rate /
                            static_cast<double>(perf_timer.frequency));
}

float frame_time_percent() { return ticks_to_frame_fraction(read_perf_counter()) * 100.0f; }

int stamp_perf_log() {
  perf_timer.log_stamp = read_perf_counter();
  return get_startup_string("PRMLOG") ? 1 : 0;
}

void stamp_perf_mark() { perf_timer.mark_stamp = read_perf_counter(); }
float log_stamp_percent() { return ticks_to_frame_fraction(perf_timer.log_stamp) * 100.0f; }
float mark_stamp_percent() { return ticks_to_frame_fraction(perf_timer.mark_stamp) * 100.0f; }
void shutdown_perf_timer() {}
