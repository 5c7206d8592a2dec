#include "shell/app/debug_menu.h"

#include <cstring>

#include "render/graphics/graphics.h"
#include "render/tasks/task.h"
#include "render/text/text_queue.h"
#include "render/view/view_state.h"
#include "shell/services/input.h"
#include "sound/sound_command.h"
#include "sound/sound_manager.h"
#include "viewer/viewer_scene.h"

namespace {

// Sound commands the menu posts on entry.
enum : uint32_t { SOUND_STOP_BGM = 2, SOUND_MENU_ENTRY = 23 };

void viewer_init(void*, int) { viewer_scene_init(); }
int viewer_update(void*, int) { return viewer_scene_update(); }
void viewer_exit(void*, int) { viewer_scene_release(); }

const DebugProgram kPrograms[] = {
    {"GM", viewer_init, viewer_update, viewer_exit, nullptr},
};

DebugMenuState menu;
const DebugProgram* programs = kPrograms;
int program_count = 1;

void draw_list() {
  int queue = gfx_text_buffer_main();
  text_queue_printf(queue, 0, 0, 16, 100, 100, DEBUG_MENU_NORMAL, "DM");
  for (int i = 0; i < program_count; ++i) {
    uint32_t colour = i == menu.cursor ? DEBUG_MENU_SELECTED : DEBUG_MENU_NORMAL;
    text_queue_printf(queue, 0, 0, 16, 100, 132 + 16 * i, colour, "%s", programs[i].name);
  }
}

}  // namespace

const SceneEntry debug_menu_scene = {debug_menu_init, debug_menu_update, debug_menu_exit};

void debug_menu_init() {
  std::memset(&menu, 0, sizeof menu);
  gfx_reset_components();
  sound_post_command(SOUND_STOP_BGM, 0);
  sound_stop_nonlooping();
  sound_post_command(SOUND_MENU_ENTRY, 0);
}

int debug_menu_update() {
  if (menu.state == 0) {
    gfx_set_clear_colour(0);
    draw_list();
    menu.cursor += is_key_pressed(VK_DOWN) - is_key_pressed(VK_UP);
    if (menu.cursor < 0 || menu.cursor >= program_count) menu.cursor = 0;
    const DebugProgram& row = programs[menu.cursor];
    if (is_key_pressed(VK_RETURN) && row.init && row.update) {
      row.init(menu.scratch, DEBUG_MENU_SCRATCH);
      menu.state = 1;
    }
    return 0;
  }
  const DebugProgram& row = programs[menu.cursor];
  menu.running = 1;
  if (row.update(menu.scratch, DEBUG_MENU_SCRATCH)) {
    menu.running = 0;
    if (row.exit) row.exit(menu.scratch, DEBUG_MENU_SCRATCH);
    tasks_reset();
    menu.state = 0;
  }
  return 0;
}

int debug_menu_extra() {
  if (menu.state != 1) return 0;
  const DebugProgram& row = programs[menu.cursor];
  return row.extra ? row.extra(menu.scratch, DEBUG_MENU_SCRATCH) : 0;
}

void debug_menu_exit() {}

void debug_menu_set_programs(const DebugProgram* rows, int count) {
  programs = rows && count > 0 ? rows : kPrograms;
  program_count = rows && count > 0 ? count : 1;
  std::memset(&menu, 0, sizeof menu);
}

const DebugMenuState* debug_menu_state() { return &menu; }
