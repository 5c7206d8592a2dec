// The viewer on the real engine, headless: main-thread time of a frame while
// PLAY tours 16 points with LAG 5 at 1280 x 1024, the main thread's time per
// frame while PLAY shows new dialogue lines, and the time from start-up to
// the first frame that shows the sample arrangement.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <epoxy/gl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/sys/sys.h"
#include "platform/window/window.h"
#include "render/device/gfx_device.h"
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

// Starts the viewer on a hidden window, loads the sample arrangement and
// fills the free slots with points spread over the picture; null (the
// benchmark skipped) without a window system.
PlatformWindow* start_viewer_with_every_point(benchmark::State& state) {
  headless();
  setup_work_directory();
  if (!window_system_init()) {
    state.SkipWithError("no window system");
    return nullptr;
  }
  PlatformWindow* window = window_create("viewer bench", kWidth, kHeight, nullptr);
  const int layout[5] = {kWidth, kHeight, kWidth, kHeight, 0};
  gfx_init(window, 0, kWidth, kHeight, 32, layout);
  viewer_input_set_source(scripted_input);
  viewer_scene_init();
  one_frame();  // loads the sample arrangement
  ViewerState& s = viewer_state();
  for (int slot = point_find_free_slot(), i = 0; slot >= 0; slot = point_find_free_slot(), ++i) {
    Task* t = point_create(s.owner);
    s.points[slot] = t;
    point_set_position(t, 100.0f + 130.0f * static_cast<float>(i), 200.0f + 60.0f * static_cast<float>(i % 5));
    point_set_number(t, static_cast<uint8_t>(slot));
  }
  return window;
}

void stop_viewer(PlatformWindow* window) {
  viewer_scene_release();
  viewer_input_set_source(nullptr);
  gfx_shutdown();
  window_destroy(window);
  window_system_shutdown();
}

void BM_ViewerPlayFrame(benchmark::State& state) {
  PlatformWindow* window = start_viewer_with_every_point(state);
  if (!window) return;
  ViewerState& s = viewer_state();
  // One second each, every effect in turn.
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
  stop_viewer(window);
}
// Wall time counts: the frame ends with the present, which waits for the
// drawing; CPU time is the main thread's own.
BENCHMARK(BM_ViewerPlayFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The time the frame spends in the present, where it waits for the
// rasteriser: from the start of the draw of the back buffer onto the window
// (which waits for the frame's drawing) to the end of the buffer swap, taken
// as one span, since the rasteriser's threads may take the main thread's
// processor between the two. The swap is this program's own definition
// standing in for the library's; the draw (the only one into the window's
// framebuffer) is wrapped through the GL loader's function pointer once it
// has been resolved.
struct SDL_Window;
int64_t present_ns = 0;
long present_waits = 0;  // voluntary context switches inside the present
int64_t draw_start_ns = 0;
long draw_start_waits = 0;
PFNGLDRAWARRAYSPROC real_draw_arrays = nullptr;
// The swap hands the draw to the rasteriser and returns before it is done.
// With this set the present also waits for the rasteriser to finish, as the
// program's frame pacing does by sleeping to the next frame: otherwise the
// rasteriser's threads draw on the processors the main thread runs on, and
// the main thread waits its turn for a processor (3 to 5 ms) inside the
// frame being measured.
bool finish_in_present = false;

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Times the main thread gave up the processor to wait (for a lock, a fence,
// the rasteriser); preemption by other processes is not counted.
long voluntary_switches() {
  rusage r{};
  getrusage(RUSAGE_THREAD, &r);
  return r.ru_nvcsw;
}

// Page faults the main thread has taken: a frame that touches fresh memory
// (a buffer or texture made anew) pays for each page.
long page_faults() {
  rusage r{};
  getrusage(RUSAGE_THREAD, &r);
  return r.ru_minflt + r.ru_majflt;
}

// The main thread's own processor time: on a busy machine it shows what the
// frame costs without the time the thread waited for a processor.
int64_t thread_cpu_ns() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void GLAPIENTRY timed_draw_arrays(GLenum mode, GLint first, GLsizei count) {
  GLint target = -1;
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &target);
  if (target == 0) {
    draw_start_ns = now_ns();
    draw_start_waits = voluntary_switches();
  }
  real_draw_arrays(mode, first, count);
}

// After a first present has resolved the pointer.
void time_present_copies() {
  if (real_draw_arrays != nullptr) return;
  real_draw_arrays = epoxy_glDrawArrays;
  epoxy_glDrawArrays = timed_draw_arrays;
}

}  // namespace

extern "C" void SDL_GL_SwapWindow(SDL_Window* window) {
  using Swap = void (*)(SDL_Window*);
  static const Swap real = reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "SDL_GL_SwapWindow"));
  // Without a draw before it (before the draw is wrapped) the swap alone.
  const bool drawn = draw_start_ns != 0;
  const int64_t start = drawn ? draw_start_ns : now_ns();
  const long waits = drawn ? draw_start_waits : voluntary_switches();
  real(window);
  if (finish_in_present) glFinish();
  present_waits += voluntary_switches() - waits;
  present_ns += now_ns() - start;
  draw_start_ns = 0;
}

namespace {

// A CP932 kanji, the n-th of the first levels' rows (lead 0x88 to 0x9F, trail
// 0x40 to 0x7E and 0x80 to 0xFC), so that every line brings glyphs of its own.
void append_kanji(std::string* out, int n) {
  const int per_lead = 0x3F + 0x7D;
  int lead = 0x89 + n / per_lead, trail = 0x40 + n % per_lead;
  if (trail >= 0x7F) ++trail;
  *out += char(lead);
  *out += char(trail);
}

// Dialogue files of three lines of 14 kanji each, one file per point, no
// kanji used twice.
std::vector<std::string> write_dialogue_files(const std::filesystem::path& folder, int files) {
  std::filesystem::create_directories(folder);
  std::vector<std::string> paths;
  int next = 0;
  for (int f = 0; f < files; ++f) {
    std::string text = "#NAME\r\n[NAME" + std::to_string(f) + "]\r\n";
    for (int line = 0; line < 3; ++line) {
      text += "#TEXT1\r\n[";
      for (int k = 0; k < 14; ++k) append_kanji(&text, next++);
      text += "]\r\n";
    }
    const std::filesystem::path path = folder / ("speaker" + std::to_string(f) + ".txt");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return {};
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
    paths.push_back(path.string());
  }
  return paths;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
  return v[i];
}

// A reference frame: a fixed piece of the main thread's own work, about
// 0.3 ms on a quiet processor, then the back buffer presented again, timed
// as a dialogue frame is. It meets what the rest of the machine does to the
// main thread (other processes taking its processors, a slower processor)
// as a dialogue frame does, with none of the frame's own work.
uint64_t reference_work(uint64_t rounds) {
  uint64_t x = 0x9E3779B97F4A7C15u;
  for (uint64_t i = 0; i < rounds; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
  }
  return x;
}

// Rounds of reference_work that take 0.3 ms at best.
uint64_t reference_rounds() {
  constexpr uint64_t kTrial = 100000;
  int64_t best = INT64_MAX;
  for (int i = 0; i < 20; ++i) {
    const int64_t start = now_ns();
    benchmark::DoNotOptimize(reference_work(kTrial));
    best = std::min(best, now_ns() - start);
  }
  return kTrial * 300000 / static_cast<uint64_t>(std::max<int64_t>(best, 1));
}

double reference_frame(uint64_t rounds) {
  present_ns = 0;
  const int64_t start = now_ns();
  benchmark::DoNotOptimize(reference_work(rounds));
  gfx_present();
  return static_cast<double>(now_ns() - start - present_ns) / 1e6;
}

// The main thread's time per frame while PLAY moves from point to point every
// second and each point shows a line of new kanji: the whole frame less the
// present (from the start of its draw to the swap's end, the rasteriser
// finished). Every line is new to the font when its dialogue loads. p50, p99
// and max in milliseconds; "line_max" is the worst frame in which a line
// first appears; "cpu_" counters are the main thread's processor time
// (present included); "waiting_frames" counts frames in which the main thread
// waited outside the present (for the driver, say), so slow frames that are
// not among them were preempted by other processes; "faults_max" is the most
// page faults the main thread took in one frame; "slow_frames" counts frames
// over 2 ms. Each frame is followed by a reference frame (reference_frame),
// so both meet the same load from the rest of the machine: "ref_" counters
// are theirs.
void BM_ViewerDialogueFrame(benchmark::State& state) {
  PlatformWindow* window = start_viewer_with_every_point(state);
  if (!window) return;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tl_bench_dialogue_" + std::to_string(::getpid()));
  const std::vector<std::string> files = write_dialogue_files(folder, kViewerPointSlots);
  ViewerState& s = viewer_state();
  bool loaded = files.size() == static_cast<size_t>(kViewerPointSlots);
  for (int i = 0; loaded && i < kViewerPointSlots; ++i) {
    point_set_time(s.points[i], 1);
    point_set_effect(s.points[i], 0);
    loaded = point_load_dialogue_file(s.points[i], files[static_cast<size_t>(i)].c_str());
  }
  click_play = true;
  one_frame();
  time_present_copies();
  finish_in_present = true;
  const uint64_t rounds = reference_rounds();
  std::vector<double> frames, line_frames, cpu, reference;
  int waiting_frames = 0;
  long faults_max = 0;
  if (!loaded || !viewer_is_playing()) {
    state.SkipWithError("not playing with dialogue");
  } else {
    int current = s.current;
    for (auto _ : state) {
      present_ns = 0;
      present_waits = 0;
      const long waits = voluntary_switches(), faults = page_faults();
      const int64_t start = now_ns(), start_cpu = thread_cpu_ns();
      one_frame();
      if (voluntary_switches() - waits > present_waits) ++waiting_frames;
      faults_max = std::max(faults_max, page_faults() - faults);
      const double ms = static_cast<double>(now_ns() - start - present_ns) / 1e6;
      frames.push_back(ms);
      cpu.push_back(static_cast<double>(thread_cpu_ns() - start_cpu) / 1e6);
      if (s.current != current) line_frames.push_back(ms);
      current = s.current;
      reference.push_back(reference_frame(rounds));
    }
  }
  state.counters["p50_ms"] = percentile(frames, 0.50);
  state.counters["p99_ms"] = percentile(frames, 0.99);
  state.counters["max_ms"] = percentile(frames, 1.0);
  state.counters["new_lines"] = static_cast<double>(line_frames.size());
  state.counters["line_max_ms"] = percentile(line_frames, 1.0);
  state.counters["waiting_frames"] = waiting_frames;
  state.counters["cpu_p99_ms"] = percentile(cpu, 0.99);
  state.counters["cpu_max_ms"] = percentile(cpu, 1.0);
  const auto slow = [](const std::vector<double>& v) {
    return static_cast<double>(std::count_if(v.begin(), v.end(), [](double ms) { return ms > 2.0; }));
  };
  state.counters["slow_frames"] = slow(frames);
  state.counters["ref_slow_frames"] = slow(reference);
  state.counters["ref_p50_ms"] = percentile(reference, 0.50);
  state.counters["ref_p99_ms"] = percentile(reference, 0.99);
  state.counters["ref_max_ms"] = percentile(reference, 1.0);
  state.counters["faults_max"] = static_cast<double>(faults_max);
  state.counters["budget_ratio_p99"] = percentile(frames, 0.99) / (1000.0 / 60.0);
  finish_in_present = false;
  stop_viewer(window);
  std::filesystem::remove_all(folder);
}
// 60 frames a point: 2400 frames show 40 new lines.
BENCHMARK(BM_ViewerDialogueFrame)->Iterations(2400)->Unit(benchmark::kMillisecond)->UseRealTime();

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
