// The scene runner that steps the application's scenes once per frame, and
// the fatal-error exit.
#pragma once

#include <cstdint>

#include "assets/asset_registry.h"
#include "shell/services/fatal_exit.h"

struct SceneEntry {
  void (*init)();
  int (*update)();  // nonzero when the scene is finished
  void (*exit)();
};

struct SceneRunner {
  uint32_t state;  // 0 reset, 1 transition, 2 init pending, 3 running
  uint32_t scene;  // index into the scene table, 0 or 1
  RegistryMark mark;
};

struct ErrorScreen {
  uint16_t codes[3];  // origin, detail, sub-detail
  uint32_t value;
  char text[64];
  const char* titles[4];  // caption per region, CP932
};

enum { SCENE_COUNT = 2, ERROR_LINE_ROWS = 12 };

// One row of a region's error-screen line table: two lines under the caption
// and a number (600 in every row).
struct ErrorLineRow {
  const char* first;
  const char* second;
  int32_t number;
};

// The runner's transition record, zeroed whenever the runner enters state 0.
struct SceneTransition {
  uint8_t bytes[20];
};

// Sound error codes that end the program.
enum : uint16_t { FATAL_ORIGIN_LOADER = 1, FATAL_ORIGIN_SOUND = 3 };

// An empty scene over a 4-byte state: init zeroes the state, update asks for
// the stage owner and drops the answer, exit and extra do nothing. No table
// of the program selects it.
void empty_scene_init();
int empty_scene_update();
void empty_scene_exit();
void empty_scene_extra();
const SceneEntry* get_empty_scene();
uint32_t get_empty_scene_state();

void init_scene_runner();
// Runs the given two-entry table instead of the program's own (tests).
void init_scene_runner_with(const SceneEntry* table);
void run_scene_runner();
void update_frame();
void shutdown_scene_runner();
const SceneRunner* get_scene_runner();
const SceneTransition* get_scene_transition();

// The fatal-error exit's handler (shell/services/fatal_exit.h), registered at
// start-up: records the codes and the text, and stops the sound worker.
void scene_runner_record_fatal_error(uint16_t origin, uint16_t detail, uint16_t sub_detail, const char* text);
void clear_error_screen();
// Fills the caption of each region: "ERROR" for regions 0, 1 and 3, the
// shop-staff caption for region 2. Runs before the program's entry.
void init_error_titles();
// The line table of a region 0 to 3.
const ErrorLineRow* get_error_lines(int region);
// Queues the region's caption and the stored text into the system-font queue,
// centred on the client area; nothing while no error is recorded.
void draw_error_screen();
const ErrorScreen* get_error_screen();
void error_screen_set_value(uint32_t value);
uint32_t error_screen_get_value();

void set_region(int region);
int get_region();
