#include "assets/asset_registry.h"
#include "assets/crops.h"
#include "assets/model_records.h"
#include "assets/textures.h"

namespace {

template <typename Record>
void walk(int32_t count, Record* (*get)(AssetHandle)) {
  for (int32_t i = 0; i < count; ++i) get(handle_from_index(i));
}

}  // namespace

void walk_mesh_pool() { walk(count_meshes(), get_mesh_record); }
void walk_texture_pool() { walk(count_textures(), get_texture_record); }
void walk_crop_pool() { walk(count_crops(), get_crop_record); }
void walk_bone_tree_pool() { walk(count_bone_trees(), get_bone_tree_record); }
void walk_animation_pool() { walk(count_animations(), get_animation_record); }
void walk_collision_pool() { walk(count_collisions(), get_collision_record); }
void walk_sphere_set_pool() { walk(count_sphere_sets(), get_sphere_set_record); }
void walk_camera_path_pool() { walk(count_camera_paths(), get_camera_path_record); }
