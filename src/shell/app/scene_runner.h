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

enum { SCENE_COUNT = 2 };

// Sound error codes that end the program.
enum : uint16_t { FATAL_ORIGIN_LOADER = 1, FATAL_ORIGIN_SOUND = 3 };

void init_scene_runner();
// Runs the given two-entry table instead of the program's own (tests).
void init_scene_runner_with(const SceneEntry* table);
void run_scene_runner();
void update_frame();
void shutdown_scene_runner();
const SceneRunner* get_scene_runner();

// The fatal-error exit's handler (shell/services/fatal_exit.h), registered at
// start-up: records the codes and the text, and stops the sound worker.
void scene_runner_record_fatal_error(uint16_t origin, uint16_t detail, uint16_t sub_detail, const char* text);
void clear_error_screen();
// Queues the region's caption and the stored text into the system-font queue,
// centred on the client area; nothing while no error is recorded.
void draw_error_screen();
const ErrorScreen* get_error_screen();
void error_screen_set_value(uint32_t value);
uint32_t error_screen_get_value();

void set_region(int region);
int get_region();
