// The debug menu: a scene that lists programs by name, lets the user pick one
// with the arrow keys and Enter, runs it until it reports that it is finished
// and then shows the list again. The scene runner never selects it; its entry
// is kept for builds that want to start it.
#pragma once

#include <cstdint>

#include "shell/app/scene_runner.h"

enum { DEBUG_MENU_SCRATCH = 1024 };

// One program: init and exit take the scratch area and its size; update
// returns nonzero when the program is finished; extra is optional.
struct DebugProgram {
  const char* name;
  void (*init)(void* scratch, int size);
  int (*update)(void* scratch, int size);
  void (*exit)(void* scratch, int size);
  int (*extra)(void* scratch, int size);
};

struct DebugMenuState {
  int32_t state;  // 0 list, 1 running
  int32_t cursor;
  int32_t running;
  uint8_t scratch[DEBUG_MENU_SCRATCH];
};

// Colours of the list rows: the row under the cursor and the others.
enum : uint32_t { DEBUG_MENU_SELECTED = 0xFFFF0000u, DEBUG_MENU_NORMAL = 0xFFFFFFFFu };

// The menu in the layout of a scene entry.
extern const SceneEntry debug_menu_scene;

void debug_menu_init();
// One frame; always 0.
int debug_menu_update();
// The running program's extra callback, or 0 when there is none.
int debug_menu_extra();
void debug_menu_exit();

// Lists rows instead of the program's own list (tests); null restores it.
// Either way the menu starts again at the top of its list.
void debug_menu_set_programs(const DebugProgram* rows, int count);
const DebugMenuState* debug_menu_state();
