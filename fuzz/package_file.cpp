// Data packages as a user hands them to the loader: every chunk is walked
// and handed to its handler, and whatever registers is read back through the
// record queries. Faults come back as codes; nothing may read out of bounds.
#include <cstddef>
#include <cstdint>

#include "assets/asset_registry.h"
#include "assets/model_records.h"
#include "assets/package_chunks.h"

namespace {

void exercise_records() {
  for (AssetHandle h = 1; h <= static_cast<AssetHandle>(count_bone_trees()); ++h) {
    const char* root = get_bone_tree_name(h);
    const int32_t children = count_child_nodes(h, root, 0);
    Mat4 m;
    get_node_model_matrix(h, root, &m);
    get_node_local_matrix(h, root, &m);
    for (int32_t i = 0; i < children && i < 256; ++i) {
      const char* child = child_node_name(h, root, i, 1);
      get_node_model_matrix(h, child, &m);
      get_node_local_matrix(h, child, &m);
    }
    if (matrix_stack_depth() != 0) __builtin_trap();
  }
  for (AssetHandle h = 1; h <= static_cast<AssetHandle>(count_animations()); ++h) {
    const int32_t tracks = get_animation_track_count(h);
    for (int32_t i = 0; i < tracks && i < 256; ++i) {
      const char* name = get_animation_track_name(h, i);
      const int32_t keys = get_animation_track_keys(h, name);
      const uint8_t* data = get_animation_track_data(h, name);
      // Every key must lie inside the copy.
      const PayloadView v = animation_view(h);
      if (data && (data < v.data || static_cast<uint64_t>(data - v.data) + uint64_t{kAnimationKeyBytes} * keys > v.size))
        __builtin_trap();
    }
  }
  for (AssetHandle h = 1; h <= static_cast<AssetHandle>(count_collisions()); ++h) {
    const int32_t n = count_collision_triangles(h);
    CollisionTriangle t;
    for (int32_t i = 0; i < n && i < 1024; ++i) {
      if (!get_collision_triangle(h, i, &t)) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    RegistryCapacities c = kRegistryCapacities;
    for (int id = ASSET_POOL_MESHES; id < ASSET_POOL_COUNT; ++id) c.pools[id] = {64, 4096, 1u << 20};
    init_asset_registry(c);
    return true;
  }();
  (void)ready;
  RegistryMark mark{};
  mark_asset_registry(&mark);
  const ChunkContext context{"fuzz", 2, nullptr};
  load_package_from_memory(context, PayloadView{data, size});
  exercise_records();
  release_asset_registry_to_mark(&mark);
  return 0;
}
