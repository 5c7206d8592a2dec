#include "shell/app/scene_runner.h"

#include <cstdio>
#include <cstring>

#include "render/graphics/graphics.h"
#include "render/text/text_queue.h"
#include "scene3d/instancing.h"
#include "shell/app/app.h"
#include "sound/sound_manager.h"
#include "viewer/viewer_scene.h"

namespace {

const SceneEntry kScenes[SCENE_COUNT] = {
    {viewer_scene_init, viewer_scene_update, viewer_scene_release},
    {nullptr, nullptr, nullptr},
};

SceneRunner runner;
SceneTransition transition;
const SceneEntry* scenes = kScenes;
int region = 0;

uint32_t empty_scene_state;
const SceneEntry kEmptyScene = {empty_scene_init, empty_scene_update, empty_scene_exit};

// "お店の人を呼んで下さい。" in CP932.
const char kShopTitle[] =
    "\x82\xa8\x93\x58\x82\xcc\x90\x6c\x82\xf0\x8c\xc4\x82\xf1\x82\xc5\x89\xba\x82\xb3\x82\xa2\x81\x42";

ErrorScreen error_screen;

// Every region's rows hold no lines yet; the number is 600 throughout.
constexpr ErrorLineRow kNoLines[ERROR_LINE_ROWS] = {
    {"", nullptr, 600}, {"", nullptr, 600}, {"", nullptr, 600}, {"", nullptr, 600},
    {"", nullptr, 600}, {"", nullptr, 600}, {"", nullptr, 600}, {"", nullptr, 600},
    {"", nullptr, 600}, {"", nullptr, 600}, {"", nullptr, 600}, {"", nullptr, 600},
};
const ErrorLineRow* const kErrorLines[4] = {kNoLines, kNoLines, kNoLines, kNoLines};

struct ErrorTitles {
  ErrorTitles() { init_error_titles(); }
} error_titles;

}  // namespace

void empty_scene_init() { empty_scene_state = 0; }
int empty_scene_update() {
  get_stage_owner();
  return 0;
}
void empty_scene_exit() {}
void empty_scene_extra() {}
const SceneEntry* get_empty_scene() { return &kEmptyScene; }
uint32_t get_empty_scene_state() { return empty_scene_state; }

void init_scene_runner() { init_scene_runner_with(kScenes); }

void init_scene_runner_with(const SceneEntry* table) {
  std::memset(&runner, 0, sizeof runner);
  scenes = table;
  mark_asset_registry(&runner.mark);
}

void run_scene_runner() {
  const SceneEntry& s = scenes[runner.scene];
  switch (runner.state) {
    case 0:
      std::memset(&transition, 0, sizeof transition);
      [[fallthrough]];
    case 1:
      runner.state = 2;
      break;
    case 2:
      if (s.init) s.init();
      runner.state = 3;
      break;
    default:
      if (s.update && s.update()) {
        if (s.exit) s.exit();
        runner.scene ^= 1;
        runner.state = 2;
      }
      break;
  }
}

void update_frame() {
  run_scene_runner();
  if (int code = sound_error_code()) fatal_error_exit(FATAL_ORIGIN_SOUND, static_cast<uint16_t>(code), 0, nullptr);
}

void shutdown_scene_runner() { release_asset_registry_to_mark(&runner.mark); }

const SceneRunner* get_scene_runner() { return &runner; }
const SceneTransition* get_scene_transition() { return &transition; }

void scene_runner_record_fatal_error(uint16_t origin, uint16_t detail, uint16_t sub_detail, const char* text) {
  error_screen.codes[0] = origin;
  error_screen.codes[1] = detail;
  error_screen.codes[2] = sub_detail;
  if (text) std::snprintf(error_screen.text, sizeof error_screen.text, "%s", text);
  // The worker must not run on while the process tears down around it.
  sound_stop_worker();
}

void draw_error_screen() {
  if (error_screen.codes[0] == 0) return;
  const int queue = gfx_text_buffer_d3dx();
  const int x = get_client_width() / 2;
  const int half_height = get_client_height() / 2;
  const int r = get_region() & 3;
  text_queue_printf(queue, TEXT_ANCHOR_CENTRE_X, 1, 32.0f, x, half_height - 100, 0xFFFFFFFFu, "%s",
                    error_screen.titles[r]);
  int y = half_height - 26;
  // Origins past the table have no lines of their own.
  if (error_screen.codes[0] < ERROR_LINE_ROWS) {
    const ErrorLineRow& row = kErrorLines[r][error_screen.codes[0]];
    for (const char* line : {row.first, row.second}) {
      if (!line) continue;
      text_queue_printf(queue, TEXT_ANCHOR_CENTRE_X, 0, 16.0f, x, y, 0xFFFFFFFFu, "%s", line);
      y += 24;
    }
  }
  text_queue_printf(queue, TEXT_ANCHOR_CENTRE_X, 0, 16.0f, x, y, 0xFFFFFFFFu, "%s", error_screen.text);
}

void init_error_titles() {
  error_screen.titles[0] = "ERROR";
  error_screen.titles[1] = "ERROR";
  error_screen.titles[2] = kShopTitle;
  error_screen.titles[3] = "ERROR";
}

const ErrorLineRow* get_error_lines(int r) { return kErrorLines[r & 3]; }

void clear_error_screen() {
  std::memset(error_screen.codes, 0, sizeof error_screen.codes);
  error_screen.value = 0;
  std::memset(error_screen.text, 0, sizeof error_screen.text);
}

const ErrorScreen* get_error_screen() { return &error_screen; }
void error_screen_set_value(uint32_t value) { error_screen.value = value; }
uint32_t error_screen_get_value() { return error_screen.value; }

void set_region(int r) { region = r; }
int get_region() { return region; }
