// Presets and node lookup: the layer above the registry that the 3D scene's
// setup code uses. Queuing a package with its normal-map package, finding
// meshes and collision meshes under an optional "CM_" prefix, the table of
// model presets, animation queries over two packages, the stage settings
// table, and the auxiliary nodes a mesh's model carries beside it (meshes
// named "<base>_swnod", "<base>_tnd", "<base>_lnd", the animation
// "<base>_pad", base = the mesh name cut at its first underscore).
#pragma once

#include <cstdint>
#include <string>

#include "assets/asset_handle.h"
#include "math/mat4.h"

struct ModelPresetSlot {
  const char* package;
  const char* mesh;
  const char* third;  // the slot's bone-tree node
  uint32_t colour;
  float value;
  uint32_t flags[4];  // flag 0, flag 3, field 12-14, flag-2 bit 2 of the slot
};

struct ModelPreset {
  const char* name;
  const char* package;
  const char* animation_package;
  const char* mesh;
  const char* bone_tree;
  uint32_t colour;
  float value;
  const ModelPresetSlot* slots;
  int32_t slot_count;
};

// Queues the "<name>_NRM" package first when its file exists, then the
// package itself; true when every queuing succeeded.
bool load_package_with_maps(const char* name, uint32_t flags);
// Queues each non-null name with flags 0.
void load_packages(const char* const* names, int32_t count);

// With prefixed, "CM_<name>" first and the plain name when that is absent.
AssetHandle find_collision_prefixed(const char* package, const char* name, bool prefixed);
AssetHandle find_mesh_prefixed(const char* package, const char* name, bool prefixed);

const ModelPreset* find_model_preset(const char* name);
const ModelPreset* model_preset_at(int32_t i);
int32_t model_preset_count();

// The handles a preset's model part is built from.
struct PresetModelAssets {
  AssetHandle mesh;
  AssetHandle bone_tree;
  AssetHandle animation;  // the first animation of the package or animation package
  AssetHandle slot_meshes[4];
};
// False for an unknown preset.
bool find_preset_model_assets(const char* name, PresetModelAssets* out);

// Animations whose package is a or b.
int32_t count_package_animations(const char* a, const char* b);
// The n-th of them in handle order; *package is a or b (b when both match).
// False when fewer exist.
bool nth_package_animation(const char** package, const char** name, const char* a, const char* b, int32_t n);

// Clamp addressing in U and V for each texture of these names found.
void clamp_named_textures(const char* package, const char* const* names, int32_t count);

// Node lookups from a mesh handle.
bool find_swnod_node(AssetHandle mesh, Vec3* position, float* value);
bool find_tnd_node(AssetHandle mesh, Vec3* position);
// Mode 0 looks from p at the "_lnd" node (a node straight above or below
// gets the look-at frame of a vertical look), any other mode turns towards
// it about the vertical only. Without the node: translation by p and false;
// a node at p gives translation by p and true.
bool get_lnd_matrix(AssetHandle mesh, Mat4* out, const Vec3* p, int32_t mode);
AssetHandle find_pad_animation(AssetHandle mesh);

// The name up to its first (last) underscore; the whole name without one.
std::string cut_at_first_underscore(const char* name);
std::string cut_at_last_underscore(const char* name);

// The stage settings table: rows of eight {key, value} pairs.
struct StageTablePair {
  uint32_t key;
  uint32_t value;
};
enum { STAGE_TABLE_ROW_PAIRS = 8 };
// The value of the first pair of the row with this key; null when none.
const uint32_t* stage_table_lookup(const StageTablePair* row, uint32_t key);
// The first row: keys 0, 1, 2, 4, 8, 32, 16, 64, all with value 0.
const StageTablePair* stage_table_first_row();
