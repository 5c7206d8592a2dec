#include <cstring>

#include "render/device/gfx_device.h"
#include "render/device/shaders.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "scene3d/part_draw.h"
#include "scene3d/part_render.h"
#include "scene3d/render_flags.h"

namespace {

// One entry per node of the link-node pool: the node, its owner and its key.
// Pointers do not fit the pool's 32-bit scratch words, so the lists are kept
// here.
struct StaticEntry {
  LinkNode* node;
  Task* owner;
  PartMesh mesh;
  uint32_t state_key;
  float distance_key;
};
StaticEntry front[LINK_POOL_NODES];
StaticEntry back[LINK_POOL_NODES];

bool node_in_pass(uint32_t word, const PartPassFlags& pass) {
  if ((word & kNodeFlagEnabled) == 0) return false;
  if (pass.light_view) return (word & kNodeFlagLightView) != 0;
  if (pass.mirror) return (word & kNodeFlagMirror) != 0;
  return true;
}

// State key descending; distance key descending (farthest first).
void static_node_sort_by_state_key(StaticEntry* nodes, int count) {
  part_quicksort(nodes, count, [](const StaticEntry& a, const StaticEntry& b) { return a.state_key > b.state_key; });
}

void static_node_sort_by_distance(StaticEntry* nodes, int count) {
  part_quicksort(nodes, count,
                 [](const StaticEntry& a, const StaticEntry& b) { return a.distance_key > b.distance_key; });
}

}  // namespace



Task* create_static_part(uint32_t owner, LinkNode* nodes, uint8_t layer) {
  Task* task = task_create(owner);
  if (task == nullptr) return nullptr;
  task_set_type(task, static_cast<int>(static_part_type_id()));
  static_part_set_nodes(task, nodes);
  task_set_layer(task, layer);
  return task;
}

void static_part_set_nodes(Task* task, LinkNode* nodes) { task_data<StaticPart>(task)->nodes = nodes; }

void static_part_draw(Task* const* tasks, int count) {
  const PartPassFlags pass = part_pass_flags();
  const int view = get_current_view();
  const PartEye eye = part_pass_eye(view, pass);

  int front_count = 0, back_count = 0;
  for (int k = 0; k < count; ++k) {
    StaticPart* part = task_data<StaticPart>(tasks[k]);
    for (LinkNode* node = part->nodes; node != nullptr; node = node->next) {
      if (!node_in_pass(node->word, pass)) continue;
      PartMesh mesh;
      if (!part_mesh_get(node->mesh, &mesh)) continue;
      const float d2 = part_distance_sq(&eye.position, &mesh.centre);
      if (d2 - mesh.far_bias > eye.far_sq) continue;
      if (!part_sphere_in_frustum(eye.planes, &mesh.centre, mesh.inner_radius)) continue;
      const bool sorted = (node->word & kNodeFlagDistanceSorted) != 0;
      if (sorted ? back_count >= LINK_POOL_NODES : front_count >= LINK_POOL_NODES) continue;
      StaticEntry& e = sorted ? back[back_count++] : front[front_count++];
      // The part's position in this draw stands for its pool index: nodes of
      // one part stay together among nodes of equal states.
      e = StaticEntry{node, tasks[k], mesh,
                      part_state_key(node_flags_as_render_flags(node->word), static_cast<uint32_t>(k)),
                      d2 + mesh.inner_radius};
      // The node keeps the key it was sorted by: a distance, or the state
      // key's bits.
      if (sorted) {
        node->value = e.distance_key;
      } else {
        std::memcpy(&node->value, &e.state_key, sizeof(node->value));
      }
    }
  }
  if (front_count + back_count == 0) return;
  static_node_sort_by_state_key(front, front_count);
  static_node_sort_by_distance(back, back_count);

  part_batch_begin(kPartBatchStatic, view);
  GpuDevice* device = gfx_device();
  Mat4 identity;
  mat4_identity(&identity);
  int32_t* last_model = part_batch_last_model();
  for (int list = 0; list < 2; ++list) {
    const StaticEntry* entries = list == 0 ? front : back;
    const int n = list == 0 ? front_count : back_count;
    for (int k = 0; k < n; ++k) {
      const StaticEntry& e = entries[k];
      StaticPart* owner = task_data<StaticPart>(e.owner);
      const int mode = owner->mode == 0 && e.mesh.normal_mapped ? 2 : owner->mode;
      ShaderPointLight lights[kPartLightCount];
      const int light_count = (e.node->word & kNodeFlagLightSpheres)
                                  ? part_query_lights(lights, view, &e.mesh.centre, e.mesh.inner_radius)
                                  : 0;
      const uint32_t flags = node_flags_as_render_flags(e.node->word);
      Mat4 world = identity;
      part_draw_mesh(device, e.owner, e.node->mesh, 0, &world, nullptr, &owner->colours, &flags, pass, mode,
                     owner->shader_data, last_model, 1.0f, light_count > 0 ? lights : nullptr, light_count);
    }
  }
  part_batch_end();
}
