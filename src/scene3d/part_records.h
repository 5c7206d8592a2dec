// The records of the four 3D part classes (the type data of their tasks),
// their material colours and render-flag defaults, and the pool of extra
// mesh slots that model parts carry.
//
// Pointers that the 32-bit layout held in fixed-size records are kept small
// here: a model part names its slots by pool index, so every record fits the
// task's data area (checked at compile time).
#pragma once

#include <cstdint>

#include "assets/link_pool.h"
#include "math/mat4.h"
#include "math/vec.h"
#include "render/tasks/task.h"

struct Collider;
struct MotionPlayer;

constexpr uint8_t kPartDefaultLayer = 52;
constexpr int kPartShaderDataSize = 40;
constexpr int kModelPartSlotCount = 20;
constexpr int kPartSlotPoolSize = 256;

// RenderFlags on a zero word; bits 29-31 are the caller's.
constexpr uint32_t kRenderFlagsDefault = 0x02C4009Eu;
constexpr uint32_t kRenderFlagsSpare = 0xE0000000u;
constexpr uint32_t kRenderFlagSphereCull = 1u << 18;
// NodeFlags on a zero word; bits 26-31 are the caller's.
constexpr uint32_t kNodeFlagsDefault = 0x0058013Du;
constexpr uint32_t kNodeFlagsSpare = 0xFC000000u;

void render_flags_default(uint32_t* flags);
void part_flags_default_into(uint32_t* flags);

struct ColourBlock {
  uint32_t ambient;
  uint32_t diffuse;
  uint32_t emissive;
  uint32_t specular;
  float power;
  float scale;
};
extern const ColourBlock kDefaultColourBlock;
void colour_block_set(ColourBlock* block, uint32_t ambient, uint32_t diffuse, uint32_t emissive,
                      uint32_t specular, float power, float scale);
// 1 exactly when all six fields equal the defaults (floats compared exactly).
uint16_t colour_block_is_default(const ColourBlock* block);

struct LodPair {
  uint32_t model;
  float distance_sq;
};

struct MeshPart {
  uint16_t mode;
  uint16_t colour_is_default;
  uint8_t shader_data[kPartShaderDataSize];
  ColourBlock colours;
  float alpha;
  Mat4 world;
  uint32_t model_this_frame;
  uint32_t pass_model;
  LodPair lods[2];
  uint32_t flags;
  Collider* colliders;
  uint32_t texture_override;
  Vec3 sphere_centre;
  float sphere_radius;
};

struct StaticPart {
  uint16_t mode;
  uint16_t colour_is_default;
  uint8_t shader_data[kPartShaderDataSize];
  ColourBlock colours;
  float alpha;
  Mat4 world;
  Collider* colliders;
  LinkNode* nodes;
};

struct ModelPart {
  uint16_t mode;
  uint16_t colour_is_default;
  uint8_t shader_data[kPartShaderDataSize];
  ColourBlock colours;
  float alpha;
  Mat4 world;
  uint32_t model_this_frame;
  uint32_t pass_model;
  LodPair lods[2];
  uint32_t flags;
  Collider* colliders;
  MotionPlayer* motion;
  uint32_t texture_override;
  uint16_t slots[kModelPartSlotCount];  // part-slot pool index + 1; 0 = empty
};

// 36 bytes, position, normal, diffuse, one texture-coordinate set.
struct PrimVertex {
  float x, y, z;
  float nx, ny, nz;
  uint32_t diffuse;
  float u, v;
};
static_assert(sizeof(PrimVertex) == 36);

using PrimDrawHook = void (*)(Task* task, uintptr_t argument);

struct PrimPart {
  uint16_t mode;
  uint16_t colour_is_default;
  uint8_t shader_data[kPartShaderDataSize];
  ColourBlock colours;
  float alpha;
  Mat4 world;
  uint32_t flags;
  Collider* colliders;
  PrimDrawHook draw_hook;
  uintptr_t hook_argument;
  uint32_t has_local_centre;
  Vec3 local_centre;
  float radius;
  Vec3 world_centre;
  uint32_t default_texture;
  uint16_t batch_type;
  uint16_t vertex_count;
  uint16_t primitive_count;
  uint16_t vertex_in_primitive;
  uint16_t vertices_per_primitive;
  uint16_t primitives_per_batch;
  PrimVertex* vertex_buffer;
  PrimVertex vertex_template;
  unsigned char hook_block[16];
};

static_assert(sizeof(MeshPart) <= kTaskDataSize);
static_assert(sizeof(StaticPart) <= kTaskDataSize);
static_assert(sizeof(ModelPart) <= kTaskDataSize);
static_assert(sizeof(PrimPart) <= kTaskDataSize);

// Slot flags.
constexpr uint32_t kPartSlotEnabled = 1u << 0;
constexpr uint32_t kPartSlotSkinned = 1u << 1;
constexpr uint32_t kPartSlotAllPasses = 1u << 2;

struct PartSlot {
  uint16_t mode;
  uint16_t colour_is_default;
  uint8_t shader_data[kPartShaderDataSize];
  ColourBlock colours;
  float alpha;
  uint32_t mesh;
  uint32_t flags;       // RenderFlags
  uint32_t slot_flags;  // bit 0 enabled, bit 1 skinned, bit 2 every shader pass
  const Mat4* matrix;   // null: the part's world matrix
  Task* owner;
  uint32_t in_use;
  PartSlot* prev;
  PartSlot* next;
};

// Links the 256 slots into the free list in pool order; the used list
// empties. Nothing a slot refers to is released.
void part_slot_pool_reset();
// The component clear of a scene change: the same relink.
void part_slot_pool_clear();
// A slot with its defaults, owned by the part; null when none is free.
PartSlot* part_slot_alloc(Task* owner);
// Null, or a slot already free, is ignored.
void part_slot_free(PartSlot* slot);
PartSlot* part_slot_from_index(uint16_t index_plus_one);
uint16_t part_slot_index(const PartSlot* slot);
int part_slot_count();

// Create and destroy callbacks of the four classes.
void mesh_part_init(Task* task);
void mesh_part_release(Task* task);
void static_part_init(Task* task);
void static_part_release(Task* task);
void model_part_init(Task* task);
void model_part_release(Task* task);
void prim_part_init(Task* task);
void prim_part_release(Task* task);
// Frees every slot of the model part.
void model_part_release_slots(Task* task);
