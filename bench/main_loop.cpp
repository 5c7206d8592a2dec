// Frame pacing at 60 frames per second, against the frame budget of 1/60 s.
//
// BM_MainLoop600Frames runs the real main loop for 600 frames, after one
// second for start-up to settle (the viewer loads its sample arrangement
// then), and reports the mean frame period, the 99th-percentile deviation
// from 1/60 s and the main thread's CPU time as a share of one core.
//
// BM_PacingAlone600Frames paces 600 frames of 4 ms of work each and reports
// the same figures with the CPU time spent inside the wait alone.
//
// Argument 0 runs each with the system clocks; argument 1 with a wait that
// only yields through the end of the frame (the busy wait the sleep to the
// frame end replaced), as the reference measured in the same run.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/sys/sys.h"
#include "shell/app/app.h"
#include "shell/services/frame_timer.h"

namespace {

constexpr double kFrameMs = 1000.0 / 60.0;

double thread_cpu_ms() {
  timespec ts;
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double now_ms() { return static_cast<double>(sys_perf_counter()) * 1000.0 / static_cast<double>(sys_perf_frequency()); }

void report_periods(benchmark::State& state, const std::vector<double>& periods) {
  double mean = 0;
  for (double p : periods) mean += p;
  mean /= static_cast<double>(periods.size());
  std::vector<double> dev;
  for (double p : periods) dev.push_back(std::fabs(p - kFrameMs));
  std::sort(dev.begin(), dev.end());
  state.counters["mean_ms"] = mean;
  state.counters["mean_err_pct"] = (mean - kFrameMs) / kFrameMs * 100.0;
  state.counters["p99_dev_ms"] = dev[dev.size() * 99 / 100];
}

void busy_for_ms(double ms) {
  const double end = thread_cpu_ms() + ms;
  while (thread_cpu_ms() < end) {
  }
}

void yield_until(int64_t counter) {
  while (sys_perf_counter() < counter) sys_yield();
}

const FrameClock kBusyWaitClock = {sys_ms_clock, sys_perf_counter, sys_perf_frequency, sys_sleep_ms, yield_until};

void BM_MainLoop600Frames(benchmark::State& state) {
  setenv("ALSOFT_DRIVERS", "null", 0);
  frame_timer_set_clock(state.range(0) ? &kBusyWaitClock : nullptr);
  for (auto _ : state) {
    if (!app_startup(nullptr)) {
      state.SkipWithError("no window");
      return;
    }
    std::vector<double> periods;
    double previous = 0, cpu_start = 0, wall_start = 0;
    int settling = 60;
    bool ran = false;
    while (periods.size() < 600 && app_loop_pass(&ran)) {
      if (!ran) continue;
      const double now = now_ms();
      if (settling == 0) {
        cpu_start = thread_cpu_ms();
        wall_start = now;
      }
      if (previous != 0 && settling < 0) periods.push_back(now - previous);
      previous = now;
      --settling;
    }
    const double cpu = thread_cpu_ms() - cpu_start, wall = now_ms() - wall_start;
    app_shutdown();
    if (periods.empty()) continue;
    report_periods(state, periods);
    state.counters["main_cpu_pct"] = cpu / wall * 100.0;
  }
  frame_timer_set_clock(nullptr);
}
BENCHMARK(BM_MainLoop600Frames)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PacingAlone600Frames(benchmark::State& state) {
  frame_timer_set_clock(state.range(0) ? &kBusyWaitClock : nullptr);
  for (auto _ : state) {
    init_perf_timer(60);
    init_frame_timer(60);
    wait_for_next_frame();
    std::vector<double> periods;
    double wait_cpu = 0, previous = now_ms();
    const double wall_start = previous;
    while (periods.size() < 600) {
      busy_for_ms(4.0);
      const double cpu = thread_cpu_ms();
      wait_for_next_frame();
      wait_cpu += thread_cpu_ms() - cpu;
      const double now = now_ms();
      periods.push_back(now - previous);
      previous = now;
    }
    report_periods(state, periods);
    state.counters["wait_cpu_pct"] = wait_cpu / (now_ms() - wall_start) * 100.0;
  }
  frame_timer_set_clock(nullptr);
}
BENCHMARK(BM_PacingAlone600Frames)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
