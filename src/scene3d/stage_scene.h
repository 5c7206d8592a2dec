// The stage scene: a table of stage entries, each naming a data package and
// a stage with the fog, light, camera and clip settings of view 0 and four
// callbacks of the application. Begin prepares a stage, the update applies
// the settings, loads the package, instances the stage and runs the
// callbacks, and the end releases everything the stage made: its tasks,
// instances and every asset registered since the begin.
//
// Main thread only.
#pragma once

#include <cstdint>

#include "assets/asset_registry.h"
#include "math/mat4.h"
#include "scene3d/instancing.h"

using StageCallback = void (*)();

struct StageEntry {
  const char* package;
  const char* stage;  // null or "": no package is loaded, names are empty
  float fog_start, fog_end;
  uint32_t fog_colour;
  Vec3 light_direction;
  Vec3 light_axis;
  uint32_t light_colours[4];
  float fov;  // radians
  float near, far, far_limit;
  float extra[2];  // not read by the stage scene
  const InstancePattern* patterns;  // handed to instantiate_stage
  StageCallback after_load;         // before instancing
  StageCallback after_instance;
  StageCallback on_done;            // every update of the done state
  StageCallback on_release;
};

constexpr int kStageNameSize = 64;

struct StageState {
  int32_t state;  // 0 settings, 1 loading, 2 done
  uint32_t index;
  int32_t word;  // the caller's, -1 by default
  uint32_t owner;
  RegistryMark mark;
  char name[kStageNameSize];  // the stage name and "_dummy"
};

int32_t stage_entry_count();
const StageEntry* stage_entry_at(uint32_t index);
// The table begin and the accessors read from now on, set between stages
// (the state starts afresh); null (or a count below 1) puts back the
// built-in table of one stage. The entries must outlive their use.
void stage_scene_set_table(const StageEntry* entries, int32_t count);

// Zeroes the state, takes an owner handle and a registry mark, clears the
// stage instances and makes the name "<stage>_dummy". Returns the name, or
// null (nothing changed) for an index outside the table.
char* stage_scene_begin(uint32_t index, int32_t word);
char* stage_scene_begin_default(uint32_t index);
// One step: state 0 queues the package (none for an entry without a stage
// name) and applies view 0's settings; state 1 pumps the loader (80 percent
// of a frame) and, once it is done, instances the stage by its name (an
// empty one without a stage name); state 2 reports done (true), and keeps
// doing so.
bool stage_scene_update();
// The release callback, then the stage's instances, the registry back to
// the mark (which also stops a load still under way), the owner's tasks and
// the owner.
void stage_scene_end();

const char* stage_entry_package(uint32_t index);  // null outside the table
uint32_t stage_current_index();
const char* stage_current_subname();
const uint32_t* stage_current_lookup(uint32_t key);
// The local matrix of the named node of the bone tree "<stage>_dummy" in
// the stage's package; false when either is missing.
bool stage_find_dummy_node(Mat4* out, const char* node);
void stage_fog_on(int view);
const StageState* stage_scene_state();

// Hooks around the stage's steps; only the first has state (one word it
// clears).
void stage_hook_begin_frame();
void stage_hook_after_draw();
void stage_hook_end();
void stage_hook_release();
uint32_t stage_hook_state();
