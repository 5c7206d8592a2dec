#include "shell/app/app.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/font/font.h"
#include "platform/sys/sys.h"
#include "render/device/gfx_device.h"
#include "render/graphics/graphics.h"
#include "shell/app/main_window.h"
#include "shell/app/scene_runner.h"
#include "shell/services/frame_timer.h"
#include "shell/services/input.h"
#include "shell/services/shared_semaphore.h"
#include "shell/services/startup_config.h"
#include "shell/services/startup_trace.h"
#include "sound/sound_manager.h"
#include "viewer/viewer_scene.h"
#include "viewer/viewer_state.h"

namespace {

AppState app;

constexpr int kFrameRate = 60;
constexpr int kMaxClientSide = 16384;

// True from the end of start-up to the start of shutdown.
// Which exit-time work an unexpected exit has to do: none once start-up has
// failed or shutdown has begun; during start-up the start-up threads may
// still run, so the process ends without touching what they start.
enum class ExitGuard { kOff, kStarting, kRunning };
ExitGuard exit_guard = ExitGuard::kOff;

// Reading the font configuration and sound start-up wait on the system's
// services, not on the display: the first runs while the window is made,
// the second beside graphics start-up, and each is joined before what needs
// it (fonts in graphics start-up; sound before input and the first scene).
std::thread font_start, sound_start;

void finish(std::thread& start) {
  if (start.joinable() && start.get_id() != std::this_thread::get_id()) start.join();
}

// A fatal error during graphics start-up lets sound start-up finish first, so
// that stopping its worker finds the worker started.
void record_fatal_error(uint16_t origin, uint16_t detail, uint16_t sub_detail, const char* text) {
  finish(font_start);
  finish(sound_start);
  scene_runner_record_fatal_error(origin, detail, sub_detail, text);
}

// A library that ends the process from inside start-up or the loop (Xlib does
// when the window is destroyed from outside or the display connection is
// lost) runs the exit-time handlers with threads of ours still running: a
// start-up thread not yet joined, or the sound worker. Static destruction
// would then abort the process. End it cleanly instead, leaving the named
// semaphores so that nothing of this process stays in /dev/shm.
void end_unexpected_exit() {
  const ExitGuard guard = exit_guard;
  if (guard == ExitGuard::kOff) return;
  exit_guard = ExitGuard::kOff;
  std::fprintf(stderr, "tamberlune: the window or the display connection was lost\n");
  if (guard == ExitGuard::kRunning) sound_stop_worker();
  shared_semaphore_leave_all();
  std::fflush(nullptr);
  std::_Exit(1);
}

bool startup_failed() {
  exit_guard = ExitGuard::kOff;
  return false;
}

// The device's step after a successful reset.
void restyle_main_window() { restore_windowed_style(0); }

void apply_client_override(const char* key, int* side) {
  int v;
  if (get_startup_int(key, &v) && v >= 1 && v <= kMaxClientSide) *side = v;
}

// The start-up trace ends with the first presented frame whose picture is the
// sample's: the viewer loads it in its first update and draws it from the
// frame after.
void report_first_picture() {
  const ViewerState& s = viewer_state();
  if (s.run_state != 1 || s.frame < 2 || !s.picture) return;
  startup_trace_mark(STARTUP_FIRST_PRESENT);
  startup_trace_report();
  app.quit = 1;
}

}  // namespace

ClientSize choose_client_size(int w, int h) {
  if (w > 1280 && h > 1024) return {1280, 1024};
  if (w > 1024 && h > 768) return {1024, 768};
  if (w > 800 && h > 600) return {800, 600};
  return {640, 480};
}

ClientSize apply_client_overrides(ClientSize size) {
  apply_client_override("CLIENTW", &size.width);
  apply_client_override("CLIENTH", &size.height);
  return size;
}

int region_from_text(const char* text) {
  if (!text) return 0;
  switch (text[0]) {
    case 'A': return 3;
    case 'E': return 0;
    case 'J': return 2;
    case 'U': return 1;
    default: return 0;
  }
}

bool app_startup(void* instance) {
  startup_trace_mark(STARTUP_MAIN);
  // Before the start-up threads: naming the class writes the environment.
  window_system_set_class("KT");
  static const bool exit_handler_set = std::atexit(end_unexpected_exit) == 0;
  if (exit_handler_set) exit_guard = ExitGuard::kStarting;
  app = AppState{};
  fatal_exit_set_handler(record_fatal_error);
  clear_error_screen();
  setup_work_directory();
  load_startup_config("KT52.CF");
  set_region(region_from_text(get_startup_string("REGION")));
  font_start = std::thread(font_system_init);

  if (!window_system_init()) {
    finish(font_start);
    window_message_box("The display cannot be opened.", "Tamberlune");
    return startup_failed();
  }
  int sw, sh;
  window_screen_size(&sw, &sh);
  const ClientSize size = apply_client_overrides(choose_client_size(sw, sh));
  app.client_width = size.width;
  app.client_height = size.height;

  app.instance = instance;
  if (!create_main_window(instance, main_window_proc)) {
    finish(font_start);
    window_message_box("The main window cannot be created.", "Tamberlune");
    window_system_shutdown();
    return startup_failed();
  }
  init_perf_timer(kFrameRate);
  init_frame_timer(kFrameRate);

  WindowRecord* w = get_window_record(0);
  int cw, ch;
  window_get_client_size(w->window, &cw, &ch);
  const int layout[5] = {app.client_width, app.client_height, app.client_width, app.client_height, 0};
  sound_start = std::thread(sound_init);
  finish(font_start);
  gfx_device_set_restyle_hook(restyle_main_window);
  gfx_init(w->window, 0, cw, ch, 32, layout);
  finish(sound_start);
  input_set_client_window(w->window);
  init_input();
  init_scene_runner();
  if (exit_handler_set) exit_guard = ExitGuard::kRunning;
  return true;
}

bool app_loop_pass(bool* ran_frame) {
  if (ran_frame) *ran_frame = false;
  if (app.quit) return false;
  if (window_peek_message(&app.msg)) {
    if (app.msg.code == WINDOW_MSG_QUIT) return false;
    window_dispatch(get_window_record(0)->window, app.msg);
  } else if (is_update_suspended()) {
    run_frame(0);
    if (ran_frame) *ran_frame = true;
  } else {
    mark_frame_start();
    update_input();
    if (!app.paused) {
      update_frame();
      sound_update();
      run_frame(0);
      if (startup_trace_active()) report_first_picture();
    }
    wait_for_next_frame();
    sys_rand();
    if (ran_frame) *ran_frame = true;
  }
  enable_window(0);
  return true;
}

void app_shutdown() {
  exit_guard = ExitGuard::kOff;
  viewer_scene_shutdown();
  shutdown_scene_runner();
  shutdown_input();
  sound_shutdown();
  gfx_shutdown();
  gfx_device_set_restyle_hook(nullptr);
  shutdown_frame_timer();
  shutdown_perf_timer();
  shutdown_startup_config();
  shutdown_app_shell();
  release_instance_mutex(&app);
  WindowRecord* w = get_window_record(0);
  window_destroy(w->window);
  clear_window_record(0);
  window_system_shutdown();
}

int win_main(void* instance, void*, const char*, int) {
  // A program that cannot open its window has nothing to show: end with 1.
  if (!app_startup(instance)) return 1;
  while (app_loop_pass(nullptr)) {
  }
  app_shutdown();
  return 0;
}

int get_client_width() { return app.client_width; }
int get_client_height() { return app.client_height; }
WindowMessage* get_app_msg() { return &app.msg; }
void request_quit() { app.quit = 1; }

void release_instance_mutex(AppState* a) { a->instance_mutex = nullptr; }

bool is_messagebox_enabled() {
  int v;
  return get_startup_int("MESSAGEBOX", &v) && v != 0;
}

void show_error_box(const char* message, const char* file, int line) {
  std::string text(std::strlen(message) + std::strlen(file) + 256, '\0');
  int n = std::snprintf(text.data(), text.size(), "%s[%s:%d]", message, file, line);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  window_message_box(text, "Tamberlune");
}

void shutdown_app_shell() {}

bool is_update_suspended() { return false; }
