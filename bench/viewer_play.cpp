// The viewer on the real engine, headless: main-thread time of a frame while
// PLAY tours 16 points with LAG 5 at 1280 x 1024, and the time from start-up
// to the first frame that shows the sample arrangement.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "platform/sys/sys.h"
#include "platform/window/window.h"
#include "render/graphics/graphics.h"
#include "shell/app/app.h"
#include "viewer/viewer_input.h"
#include "viewer/viewer_points.h"
#include "viewer/viewer_scene.h"
#include "viewer/viewer_state.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;

void headless() {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  setenv("ALSOFT_DRIVERS", "null", 0);
  setenv("TL_MESSAGEBOX", "stderr", 0);
}

// The mouse rests in the picture, away from the points; one click of PLAY.
bool click_play = false;
void scripted_input(ViewerInput* in) {
  in->x = click_play ? kWidth - 25 : kWidth - 8;
  in->y = click_play ? 8 : kHeight - 40;
  in->left_pressed = click_play;
  click_play = false;
}

void one_frame() {
  viewer_scene_update();
  run_frame(0);
}

void BM_ViewerPlayFrame(benchmark::State& state) {
  headless();
  setup_work_directory();
  if (!window_system_init()) {
    state.SkipWithError("no window system");
    return;
  }
  PlatformWindow* window = window_create("viewer bench", kWidth, kHeight, nullptr);
  const int layout[5] = {kWidth, kHeight, kWidth, kHeight, 0};
  gfx_init(window, 0, kWidth, kHeight, 32, layout);
  viewer_input_set_source(scripted_input);
  viewer_scene_init();
  one_frame();  // loads the sample arrangement

  // Fill the free slots: points spread over the picture, one second each,
  // every effect in turn.
  ViewerState& s = viewer_state();
  for (int slot = point_find_free_slot(), i = 0; slot >= 0; slot = point_find_free_slot(), ++i) {
    Task* t = point_create(s.owner);
    s.points[slot] = t;
    point_set_position(t, 100.0f + 130.0f * static_cast<float>(i), 200.0f + 60.0f * static_cast<float>(i % 5));
    point_set_number(t, static_cast<uint8_t>(slot));
  }
  for (Task* t : s.points) {
    point_set_time(t, 1);
    point_set_effect(t, static_cast<uint8_t>(point_get_number(t) % 6));
  }
  s.lag = kViewerMaxLag;
  click_play = true;
  for (int i = 0; i < 120; ++i) one_frame();
  if (!viewer_is_playing() || points_count() != kViewerPointSlots) {
    state.SkipWithError("not playing 16 points");
  } else {
    for (auto _ : state) one_frame();
  }
  state.counters["points"] = points_count();
  state.counters["lag"] = viewer_get_lag();
  viewer_scene_release();
  viewer_input_set_source(nullptr);
  gfx_shutdown();
  window_destroy(window);
  window_system_shutdown();
}
// Wall time counts: the frame ends with the present, which waits for the
// drawing; CPU time is the main thread's own.
BENCHMARK(BM_ViewerPlayFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// From start-up to the end of the first frame whose picture is the sample's:
// the scene runner inits the viewer on the second frame, its first update
// loads the arrangement on the third, and the fourth draws it.
void BM_StartToSampleShown(benchmark::State& state) {
  headless();
  for (auto _ : state) {
    viewer_state_reset();  // as a fresh process has it
    const int64_t start = sys_perf_counter();
    if (!app_startup(nullptr)) {
      state.SkipWithError("no window");
      return;
    }
    bool ran = false;
    int frames = 0;
    while (app_loop_pass(&ran)) {
      if (!ran) continue;
      ++frames;
      const ViewerState& s = viewer_state();
      if (s.run_state == 1 && s.frame >= 2 && s.picture) break;
    }
    const double ms = static_cast<double>(sys_perf_counter() - start) * 1000.0 / sys_perf_frequency();
    state.SetIterationTime(ms / 1000.0);
    state.counters["frames"] = frames;
    app_shutdown();
  }
}
// Each repetition is one start; the first also pays for the process's first
// font and driver set-up.
BENCHMARK(BM_StartToSampleShown)->UseManualTime()->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
