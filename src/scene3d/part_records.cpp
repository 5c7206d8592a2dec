#include "scene3d/part_records.h"

#include <cstring>

#include "scene3d/animation.h"
#include "scene3d/ray_collision.h"

const ColourBlock kDefaultColourBlock = {0x00FFFFFFu, 0xFFFFFFFFu, 0, 0, 0.0f, 1.0f};

namespace {

struct PartSlotPool {
  PartSlot slots[kPartSlotPoolSize];
  PartSlot* used;
  PartSlot* free;
  int count;
};

PartSlotPool pool;

// The fields every class begins with: mode 0, default colours, no shader
// data, alpha 1, identity world.
template <typename Part>
void common_defaults(Part* part) {
  std::memset(static_cast<void*>(part), 0, sizeof(*part));
  part->colours = kDefaultColourBlock;
  part->colour_is_default = 1;
  part->alpha = 1.0f;
  mat4_identity(&part->world);
}

void show_on_layer(Task* task) {
  task_set_layer(task, kPartDefaultLayer);
  task_set_visible(task, true);
}

}  // namespace

void render_flags_default(uint32_t* flags) { *flags = (*flags & kRenderFlagsSpare) | kRenderFlagsDefault; }

void part_flags_default_into(uint32_t* flags) { *flags = (*flags & kNodeFlagsSpare) | kNodeFlagsDefault; }

void colour_block_set(ColourBlock* block, uint32_t ambient, uint32_t diffuse, uint32_t emissive, uint32_t specular,
                      float power, float scale) {
  *block = ColourBlock{ambient, diffuse, emissive, specular, power, scale};
}

uint16_t colour_block_is_default(const ColourBlock* b) {
  const ColourBlock& d = kDefaultColourBlock;
  return b->ambient == d.ambient && b->diffuse == d.diffuse && b->emissive == d.emissive &&
         b->specular == d.specular && b->power == d.power && b->scale == d.scale;
}

// ---------------------------------------------------------------- slots

void part_slot_pool_reset() {
  for (int i = 0; i < kPartSlotPoolSize; ++i) {
    PartSlot& s = pool.slots[i];
    s.in_use = 0;
    s.prev = i > 0 ? &pool.slots[i - 1] : nullptr;
    s.next = i + 1 < kPartSlotPoolSize ? &pool.slots[i + 1] : nullptr;
  }
  pool.free = &pool.slots[0];
  pool.used = nullptr;
  pool.count = 0;
}

void part_slot_pool_clear() { part_slot_pool_reset(); }

PartSlot* part_slot_alloc(Task* owner) {
  PartSlot* s = pool.free;
  if (s == nullptr) return nullptr;
  pool.free = s->next;
  if (pool.free != nullptr) pool.free->prev = nullptr;
  std::memset(static_cast<void*>(s), 0, sizeof(*s));
  s->colours = kDefaultColourBlock;
  s->colour_is_default = 1;
  s->alpha = 1.0f;
  render_flags_default(&s->flags);
  s->slot_flags = kPartSlotEnabled | kPartSlotAllPasses;
  s->owner = owner;
  s->in_use = 1;
  s->next = pool.used;
  if (pool.used != nullptr) pool.used->prev = s;
  pool.used = s;
  ++pool.count;
  return s;
}

void part_slot_free(PartSlot* s) {
  if (s == nullptr || !s->in_use) return;
  s->in_use = 0;
  if (s->prev != nullptr) s->prev->next = s->next;
  else pool.used = s->next;
  if (s->next != nullptr) s->next->prev = s->prev;
  s->prev = nullptr;
  s->next = pool.free;
  if (pool.free != nullptr) pool.free->prev = s;
  pool.free = s;
  --pool.count;
}

PartSlot* part_slot_from_index(uint16_t index_plus_one) {
  if (index_plus_one == 0 || index_plus_one > kPartSlotPoolSize) return nullptr;
  return &pool.slots[index_plus_one - 1];
}

uint16_t part_slot_index(const PartSlot* slot) {
  if (slot < pool.slots || slot >= pool.slots + kPartSlotPoolSize) return 0;
  return static_cast<uint16_t>(slot - pool.slots + 1);
}

int part_slot_count() { return pool.count; }

// ---------------------------------------------------------------- classes

void mesh_part_init(Task* task) {
  MeshPart* part = task_data<MeshPart>(task);
  common_defaults(part);
  render_flags_default(&part->flags);
  show_on_layer(task);
}

void mesh_part_release(Task* task) {
  MeshPart* part = task_data<MeshPart>(task);
  collider_release(part->colliders);
  part->colliders = nullptr;
}

void static_part_init(Task* task) {
  common_defaults(task_data<StaticPart>(task));
  show_on_layer(task);
}

void static_part_release(Task* task) {
  StaticPart* part = task_data<StaticPart>(task);
  collider_release(part->colliders);
  part->colliders = nullptr;
  if (part->nodes != nullptr) link_chain_free(part->nodes);
  part->nodes = nullptr;
}

void model_part_release_slots(Task* task) {
  ModelPart* part = task_data<ModelPart>(task);
  for (uint16_t& index : part->slots) {
    PartSlot* slot = part_slot_from_index(index);
    if (slot != nullptr && slot->owner == task) part_slot_free(slot);
    index = 0;
  }
}

void model_part_init(Task* task) {
  ModelPart* part = task_data<ModelPart>(task);
  common_defaults(part);
  render_flags_default(&part->flags);
  part->motion = motion_create();
  if (part->motion != nullptr) part->motion->start = 2 * kMotionOneFrame;
  model_part_release_slots(task);
  show_on_layer(task);
}

void model_part_release(Task* task) {
  ModelPart* part = task_data<ModelPart>(task);
  model_part_release_slots(task);
  collider_release(part->colliders);
  part->colliders = nullptr;
  motion_release(part->motion);
  part->motion = nullptr;
}

void prim_part_init(Task* task) {
  PrimPart* part = task_data<PrimPart>(task);
  common_defaults(part);
  render_flags_default(&part->flags);
  part->flags &= ~kRenderFlagSphereCull;
  part->vertex_template.ny = 1.0f;
  part->vertex_template.diffuse = part->colours.diffuse;
  show_on_layer(task);
}

void prim_part_release(Task* task) {
  PrimPart* part = task_data<PrimPart>(task);
  collider_release(part->colliders);
  part->colliders = nullptr;
}
