// Runs the real main loop for 600 frames, after one second for start-up to
// settle (the viewer loads its sample arrangement then), and reports the mean
// frame period and the 99th-percentile deviation from 1/60 s.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/sys/sys.h"
#include "shell/app/app.h"

namespace {

void BM_MainLoop600Frames(benchmark::State& state) {
  setenv("ALSOFT_DRIVERS", "null", 0);
  for (auto _ : state) {
    if (!app_startup(nullptr)) {
      state.SkipWithError("no window");
      return;
    }
    std::vector<double> periods;
    int64_t previous = 0;
    int settling = 60;
    bool ran = false;
    while (periods.size() < 600 && app_loop_pass(&ran)) {
      if (!ran) continue;
      int64_t now = sys_perf_counter();
      if (previous && settling <= 0)
        periods.push_back(static_cast<double>(now - previous) * 1000.0 / sys_perf_frequency());
      previous = now;
      --settling;
    }
    app_shutdown();
    if (periods.empty()) continue;
    double mean = 0;
    for (double p : periods) mean += p;
    mean /= static_cast<double>(periods.size());
    std::vector<double> dev;
    for (double p : periods) dev.push_back(std::fabs(p - 1000.0 / 60.0));
    std::sort(dev.begin(), dev.end());
    state.counters["mean_ms"] = mean;
    state.counters["p99_dev_ms"] = dev[dev.size() * 99 / 100];
    state.counters["mean_err_pct"] = (mean - 1000.0 / 60.0) / (1000.0 / 60.0) * 100.0;
  }
}
BENCHMARK(BM_MainLoop600Frames)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
