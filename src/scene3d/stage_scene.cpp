#include "scene3d/stage_scene.h"

#include <cstdio>

#include "assets/model_records.h"
#include "assets/package_loader.h"
#include "assets/presets.h"
#include "render/view/view_state.h"
#include "render/tasks/task.h"

namespace {

constexpr uint32_t kStageLoadFlags = 2;
constexpr float kStageLoadBudget = 80.0f;

// The one stage. Its callbacks belong to the application; none is needed
// for the stage itself.
const StageEntry kStages[] = {
    {"stage", "s1", 500.0f, 1000.0f, 0xFFFFFFFFu, {-1.0f, -1.0f, 0.0f}, {0.0f, 1.0f, 0.0f},
     {0x00141414u, 0x00141414u, 0xFFFFFFFFu, 0xFFFFFFFFu}, 1.0471976f, 0.1f, 500.0f, 500.0f, {80.0f, 140.0f},
     nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr int32_t kStageCount = static_cast<int32_t>(sizeof kStages / sizeof kStages[0]);

const StageEntry* table = kStages;
int32_t table_count = kStageCount;
StageState current;
uint32_t hook_word;

const StageEntry& entry() { return table[current.index]; }

// The stage name, empty for an entry without one.
const char* stage_name(const StageEntry& e) { return e.stage != nullptr ? e.stage : ""; }

void run(StageCallback callback) {
  if (callback != nullptr) callback();
}

void apply_view_settings(const StageEntry& e) {
  set_fog_enable(0, 1);
  set_fog_start(0, e.fog_start);
  set_fog_end(0, e.fog_end);
  set_fog_color(0, e.fog_colour);
  set_light_direction(0, &e.light_direction);
  set_light_axis(0, &e.light_axis);
  for (int i = 0; i < 4; ++i) set_light_color(0, i, e.light_colours[i]);
  set_camera_fov(0, e.fov);
  set_near_far(0, e.near, e.far, e.far_limit);
}

}  // namespace

int32_t stage_entry_count() { return table_count; }

const StageEntry* stage_entry_at(uint32_t index) {
  return index < static_cast<uint32_t>(table_count) ? &table[index] : nullptr;
}

void stage_scene_set_table(const StageEntry* entries, int32_t count) {
  const bool own = entries == nullptr || count < 1;
  table = own ? kStages : entries;
  table_count = own ? kStageCount : count;
  current = StageState{};
}

char* stage_scene_begin(uint32_t index, int32_t word) {
  const StageEntry* e = stage_entry_at(index);
  if (e == nullptr) return nullptr;
  current = StageState{};
  current.word = word;
  current.owner = handle_alloc();
  mark_asset_registry(&current.mark);
  init_stage_instances();
  current.index = index;
  std::snprintf(current.name, sizeof current.name, "%s_dummy", stage_name(*e));
  return current.name;
}

char* stage_scene_begin_default(uint32_t index) { return stage_scene_begin(index, -1); }

bool stage_scene_update() {
  const StageEntry& e = entry();
  switch (current.state) {
    case 0:
      if (stage_name(e)[0] != '\0') enqueue_package(e.stage, kStageLoadFlags);
      apply_view_settings(e);
      current.state = 1;
      return false;
    case 1:
      if (pump_package_loader(kStageLoadBudget) != 0) return false;
      stage_hook_begin_frame();
      run(e.after_load);
      instantiate_stage(stage_name(e), stage_name(e), e.patterns, 0);
      stage_hook_after_draw();
      run(e.after_instance);
      current.state = 2;
      return false;
    default:
      stage_hook_end();
      run(e.on_done);
      return true;
  }
}

void stage_scene_end() {
  run(entry().on_release);
  stage_hook_release();
  free_stage_instances();
  release_asset_registry_to_mark(&current.mark);
  if (current.owner != 0) {
    kill_owner(current.owner);
    handle_free(current.owner);
  }
  current.owner = 0;
}

const char* stage_entry_package(uint32_t index) {
  const StageEntry* e = stage_entry_at(index);
  return e != nullptr ? e->package : nullptr;
}

uint32_t stage_current_index() { return current.index; }
const char* stage_current_subname() { return entry().stage; }

const uint32_t* stage_current_lookup(uint32_t key) {
  // One settings row per stage entry; the table holds the first.
  return current.index == 0 ? stage_table_lookup(stage_table_first_row(), key) : nullptr;
}

bool stage_find_dummy_node(Mat4* out, const char* node) {
  if (node == nullptr) return false;
  const AssetHandle tree = find_bone_tree(stage_name(entry()), current.name);
  return tree != 0 && get_node_local_matrix(tree, node, out);
}

void stage_fog_on(int view) { set_fog_enable(view, 1); }

const StageState* stage_scene_state() { return &current; }

void stage_hook_begin_frame() { hook_word = 0; }
void stage_hook_after_draw() {}
void stage_hook_end() {}
void stage_hook_release() {}
uint32_t stage_hook_state() { return hook_word; }
