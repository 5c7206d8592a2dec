// Model and stage instancing: turns a loaded bone tree whose named nodes
// name meshes into parts of the 3D scene, either one mesh part per node
// placed with the node's composed matrix, or one chain of link nodes that a
// static part draws. Node-name suffixes ("_nd" draws nothing, "_ad") and a
// caller's pattern table with callbacks steer the result. A stage is the
// model "<base>_s" with the collision mesh "<base>_wall". Everything is made
// under one task owner, so freeing the stage removes all of it at once.
#pragma once

#include <cstdint>

#include "assets/asset_handle.h"
#include "math/mat4.h"
#include "render/tasks/task.h"

struct LinkNode;

enum : uint32_t {
  INSTANCE_STATIC = 0x1,         // one chain for the whole model
  INSTANCE_LAYER_50 = 0x2,       // layer 50, distance-sorted, no z writes
  INSTANCE_BILLBOARD_1 = 0x4,    // mesh parts: field 15-17 = 1
  INSTANCE_CULL_2 = 0x8,         // field 12-14 = 2
  INSTANCE_SKIP_LIGHTING = 0x10,  // without it the lighting bit is set
  INSTANCE_SKIP_FOG = 0x20,       // without it the fog bit is set
  INSTANCE_LAYER_51 = 0x40,      // without INSTANCE_LAYER_50: layer 51, distance-sorted
  INSTANCE_COLLISION = 0x80,     // attach the collision mesh of the same name
  INSTANCE_SHADOW_PASSES = 0x100,  // light-view and mirror bits
};

constexpr int32_t kStageInstanceEntries = 16;
constexpr uint8_t kInstanceLayer50 = 50, kInstanceLayer51 = 51, kInstanceLayerDefault = 53;

// One row of a caller's pattern table; a null pattern ends the table.
struct InstancePattern {
  const char* pattern;
  // Called once a mesh part is set up.
  void (*mesh_part)(Task* part, AssetHandle mesh, const char* node);
  TaskUpdateFn update;    // installed as the part's update
  TaskDestroyFn destroy;  // installed as the part's own destroy callback
  // Called with the node's flag word before it joins the chain.
  void (*static_node)(uint32_t* flags, AssetHandle mesh, const char* node);
};

struct StageInstanceEntry {
  uint32_t flags;
  int32_t part_count;
  LinkNode* chain;  // static mode: the committed chain, freed with the stage
};

struct StageInstances {
  StageInstanceEntry entries[kStageInstanceEntries];
  Task* results[1];  // per stage pattern row ("_s")
  AssetHandle collision;
  int32_t entry_count;
  uint32_t owner;
};

void init_stage_instances();
// Kills every part of the owner, frees the chains and the owner.
void free_stage_instances();
// Instances "<base>_s" (base = the name cut at its last underscore) and
// finds the collision mesh "<base>_wall"; returns its handle.
AssetHandle instantiate_stage(const char* package, const char* stage, const InstancePattern* table, uint32_t extra);
// Null when the model has no bone tree, all entries are used, or no static
// part was made (per-node mode makes none).
Task* instantiate_model(const char* package, const char* model, const InstancePattern* table, uint32_t flags,
                        uint32_t extra);

// The part count of the first entry whose flags without INSTANCE_COLLISION
// equal the value; 0 when none.
int32_t stage_part_count(uint32_t flags);
// The result of the stage pattern row with this suffix.
Task* find_stage_instance(const char* suffix);
uint32_t get_stage_owner();
const StageInstances* get_stage_instances();
// Against the stage's collision mesh; false without one.
bool stage_ray_cast(const Vec3* origin, const Vec3* vector, Vec3* point, Vec3* normal, uint32_t* attribute);
bool stage_ray_cast_ex(const Vec3* origin, const Vec3* vector, Vec3* point, Vec3* slide, Vec3* normal,
                       uint32_t* attribute);

// The part of name from its last underscore (or the whole name) equals suffix.
bool name_has_suffix(const char* name, const char* suffix);
// '*' matches any rest of at least one character; '#' a run of decimal
// digits (at least one at the end of the name).
bool instance_pattern_matches(const char* pattern, const char* name);
// The node flag word a static node starts from, for these flags and node.
uint32_t instance_static_node_flags(uint32_t flags, const char* node);
uint8_t instance_layer(uint32_t flags);
