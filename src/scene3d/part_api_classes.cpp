// The operations the part classes share, one named function each over the
// class's own record.
#include <cstring>

#include "scene3d/part_api.h"
#include "scene3d/ray_collision.h"

namespace {

template <typename Part>
Part* data(Task* task) {
  return task_data<Part>(task);
}

template <typename Part>
void set_colours(Task* task, const ColourBlock& colours) {
  Part* part = data<Part>(task);
  part->colours = colours;
  part->colour_is_default = colour_block_is_default(&part->colours);
}

template <typename Part, typename Edit>
void edit_colours(Task* task, Edit edit) {
  ColourBlock c = data<Part>(task)->colours;
  edit(&c);
  set_colours<Part>(task, c);
}

template <typename Part>
void set_field(Task* task, int shift, int width, uint32_t value) {
  uint32_t& flags = data<Part>(task)->flags;
  const uint32_t mask = ((1u << width) - 1u) << shift;
  flags = (flags & ~mask) | ((value << shift) & mask);
}

template <typename Part>
Mat4* world_of(Task* part) {
  return &data<Part>(part)->world;
}

template <typename Part>
void set_all_colours(Task* part, uint32_t ambient, uint32_t diffuse, uint32_t emissive, uint32_t specular, float power,
                     float scale) {
  set_colours<Part>(part, ColourBlock{ambient, diffuse, emissive, specular, power, scale});
}

template <typename Part>
void set_ambient_of(Task* part, uint32_t argb) {
  edit_colours<Part>(part, [argb](ColourBlock* c) { c->ambient = argb; });
}

template <typename Part>
void set_diffuse_of(Task* part, uint32_t argb) {
  edit_colours<Part>(part, [argb](ColourBlock* c) { c->diffuse = argb; });
}

template <typename Part>
void set_emissive_of(Task* part, uint32_t argb) {
  edit_colours<Part>(part, [argb](ColourBlock* c) { c->emissive = argb; });
}

template <typename Part>
void set_specular_of(Task* part, uint32_t argb, float power) {
  edit_colours<Part>(part, [argb, power](ColourBlock* c) {
    c->specular = argb;
    c->power = power;
  });
}

template <typename Part>
void set_scale_of(Task* part, float value) {
  edit_colours<Part>(part, [value](ColourBlock* c) { c->scale = value; });
}

template <typename Part>
void detach(Task* part) {
  collider_release(data<Part>(part)->colliders);
  data<Part>(part)->colliders = nullptr;
}

template <typename Part>
uint32_t chain_count(Task* part) {
  uint32_t n = 0;
  for (const Collider* c = data<Part>(part)->colliders; c != nullptr; c = c->chained) n += c->hit_count;
  return n;
}

template <typename Part>
bool chain_hit(Task* part, uint32_t n, RayHit* out) {
  uint32_t start = 0;
  for (const Collider* c = data<Part>(part)->colliders; c != nullptr; c = c->chained) {
    if (n < start + c->hit_count) {
      const RayProbe* probe = ray_probe_find_of_owner(c, static_cast<int>(n - start));
      if (probe == nullptr) return false;
      if (out != nullptr) *out = probe->hit;
      return true;
    }
    start += c->hit_count;
  }
  return false;
}

template <typename Part>
uint16_t serial(Task* part) {
  const Collider* c = data<Part>(part)->colliders;
  return c != nullptr ? c->serial : 0;
}

template <typename Part>
void enable_first(Task* part) {
  Collider* c = data<Part>(part)->colliders;
  if (c != nullptr) c->flags = (c->flags | kColliderEnabled) & ~kColliderGround;
}

template <typename Part>
void ground_first(Task* part) {
  Collider* c = data<Part>(part)->colliders;
  if (c != nullptr) c->flags |= kColliderGround;
}

}  // namespace

// MeshPart.
Mat4* mesh_part_matrix(Task* part) { return world_of<MeshPart>(part); }
void mesh_part_set_colours(Task* part, uint32_t ambient, uint32_t diffuse, uint32_t emissive, uint32_t specular,
                           float power, float scale) {
  set_all_colours<MeshPart>(part, ambient, diffuse, emissive, specular, power, scale);
}
void mesh_part_set_ambient(Task* part, uint32_t argb) { set_ambient_of<MeshPart>(part, argb); }
void mesh_part_set_diffuse(Task* part, uint32_t argb) { set_diffuse_of<MeshPart>(part, argb); }
void mesh_part_set_diffuse_2(Task* part, uint32_t argb) { set_diffuse_of<MeshPart>(part, argb); }
void mesh_part_set_emissive(Task* part, uint32_t argb) { set_emissive_of<MeshPart>(part, argb); }
void mesh_part_set_colour_c3_w(Task* part, uint32_t specular, float power) {
  set_specular_of<MeshPart>(part, specular, power);
}
void mesh_part_set_scale(Task* part, float scale) { set_scale_of<MeshPart>(part, scale); }
uint32_t mesh_part_diffuse(Task* part) { return data<MeshPart>(part)->colours.diffuse; }
ColourBlock* mesh_part_colour_block(Task* part) { return &data<MeshPart>(part)->colours; }
void mesh_part_detach_colliders(Task* part) { detach<MeshPart>(part); }
uint32_t mesh_part_collider_count(Task* part) { return chain_count<MeshPart>(part); }
bool mesh_part_collider_hit(Task* part, uint32_t n, RayHit* out) { return chain_hit<MeshPart>(part, n, out); }
uint16_t mesh_part_collider_serial(Task* part) { return serial<MeshPart>(part); }
void mesh_part_set_alpha(Task* part, float alpha) { data<MeshPart>(part)->alpha = alpha; }
void mesh_part_set_flag_0(Task* part, uint32_t v) { set_field<MeshPart>(part, 0, 1, v); }
void mesh_part_set_flag_1(Task* part, uint32_t v) { set_field<MeshPart>(part, 1, 1, v); }
void mesh_part_set_flag_2(Task* part, uint32_t v) { set_field<MeshPart>(part, 2, 1, v); }
void mesh_part_set_flag_3(Task* part, uint32_t v) { set_field<MeshPart>(part, 3, 1, v); }
void mesh_part_set_flag_4(Task* part, uint32_t v) { set_field<MeshPart>(part, 4, 1, v); }
void mesh_part_set_flag_5(Task* part, uint32_t v) { set_field<MeshPart>(part, 5, 1, v); }
void mesh_part_set_flag_6(Task* part, uint32_t v) { set_field<MeshPart>(part, 6, 1, v); }
void mesh_part_set_flag_18(Task* part, uint32_t v) { set_field<MeshPart>(part, 18, 1, v); }
void mesh_part_set_flags_7_11(Task* part, uint32_t v) { set_field<MeshPart>(part, 7, 5, v); }
void mesh_part_set_flags_12_14(Task* part, uint32_t v) { set_field<MeshPart>(part, 12, 3, v); }
void mesh_part_set_flags_19_21(Task* part, uint32_t v) { set_field<MeshPart>(part, 19, 3, v); }
void mesh_part_set_flags_22_24(Task* part, uint32_t v) { set_field<MeshPart>(part, 22, 3, v); }
void mesh_part_set_flags_25_26(Task* part, uint32_t v) { set_field<MeshPart>(part, 25, 2, v); }
void mesh_part_set_flags_27_28(Task* part, uint32_t v) { set_field<MeshPart>(part, 27, 2, v); }
void mesh_part_collider_set_flag_1(Task* part) { enable_first<MeshPart>(part); }
void mesh_part_collider_set_flag_2(Task* part) { ground_first<MeshPart>(part); }
Collider* mesh_part_collider(Task* part) { return data<MeshPart>(part)->colliders; }

void mesh_part_set_flags_15_17(Task* part, uint32_t v) { set_field<MeshPart>(part, 15, 3, v); }

// ModelPart.
Mat4* model_part_matrix(Task* part) { return world_of<ModelPart>(part); }
void model_part_set_colours(Task* part, uint32_t ambient, uint32_t diffuse, uint32_t emissive, uint32_t specular,
                            float power, float scale) {
  set_all_colours<ModelPart>(part, ambient, diffuse, emissive, specular, power, scale);
}
void model_part_set_ambient(Task* part, uint32_t argb) { set_ambient_of<ModelPart>(part, argb); }
void model_part_set_diffuse(Task* part, uint32_t argb) { set_diffuse_of<ModelPart>(part, argb); }
void model_part_set_diffuse_2(Task* part, uint32_t argb) { set_diffuse_of<ModelPart>(part, argb); }
void model_part_set_emissive(Task* part, uint32_t argb) { set_emissive_of<ModelPart>(part, argb); }
void model_part_set_colour_c3_w(Task* part, uint32_t specular, float power) {
  set_specular_of<ModelPart>(part, specular, power);
}
void model_part_set_scale(Task* part, float scale) { set_scale_of<ModelPart>(part, scale); }
uint32_t model_part_diffuse(Task* part) { return data<ModelPart>(part)->colours.diffuse; }
ColourBlock* model_part_colour_block(Task* part) { return &data<ModelPart>(part)->colours; }
void model_part_detach_colliders(Task* part) { detach<ModelPart>(part); }
uint32_t model_part_collider_count(Task* part) { return chain_count<ModelPart>(part); }
bool model_part_collider_hit(Task* part, uint32_t n, RayHit* out) { return chain_hit<ModelPart>(part, n, out); }
uint16_t model_part_collider_serial(Task* part) { return serial<ModelPart>(part); }
void model_part_set_alpha(Task* part, float alpha) { data<ModelPart>(part)->alpha = alpha; }
void model_part_set_flag_0(Task* part, uint32_t v) { set_field<ModelPart>(part, 0, 1, v); }
void model_part_set_flag_1(Task* part, uint32_t v) { set_field<ModelPart>(part, 1, 1, v); }
void model_part_set_flag_2(Task* part, uint32_t v) { set_field<ModelPart>(part, 2, 1, v); }
void model_part_set_flag_3(Task* part, uint32_t v) { set_field<ModelPart>(part, 3, 1, v); }
void model_part_set_flag_4(Task* part, uint32_t v) { set_field<ModelPart>(part, 4, 1, v); }
void model_part_set_flag_5(Task* part, uint32_t v) { set_field<ModelPart>(part, 5, 1, v); }
void model_part_set_flag_6(Task* part, uint32_t v) { set_field<ModelPart>(part, 6, 1, v); }
void model_part_set_flag_18(Task* part, uint32_t v) { set_field<ModelPart>(part, 18, 1, v); }
void model_part_set_flags_7_11(Task* part, uint32_t v) { set_field<ModelPart>(part, 7, 5, v); }
void model_part_set_flags_12_14(Task* part, uint32_t v) { set_field<ModelPart>(part, 12, 3, v); }
void model_part_set_flags_19_21(Task* part, uint32_t v) { set_field<ModelPart>(part, 19, 3, v); }
void model_part_set_flags_22_24(Task* part, uint32_t v) { set_field<ModelPart>(part, 22, 3, v); }
void model_part_set_flags_25_26(Task* part, uint32_t v) { set_field<ModelPart>(part, 25, 2, v); }
void model_part_set_flags_27_28(Task* part, uint32_t v) { set_field<ModelPart>(part, 27, 2, v); }

// StaticPart.
Mat4* static_part_matrix(Task* part) { return world_of<StaticPart>(part); }
void static_part_set_colours(Task* part, uint32_t ambient, uint32_t diffuse, uint32_t emissive, uint32_t specular,
                             float power, float scale) {
  set_all_colours<StaticPart>(part, ambient, diffuse, emissive, specular, power, scale);
}
void static_part_set_ambient(Task* part, uint32_t argb) { set_ambient_of<StaticPart>(part, argb); }
void static_part_set_diffuse(Task* part, uint32_t argb) { set_diffuse_of<StaticPart>(part, argb); }
void static_part_set_diffuse_2(Task* part, uint32_t argb) { set_diffuse_of<StaticPart>(part, argb); }
void static_part_set_emissive(Task* part, uint32_t argb) { set_emissive_of<StaticPart>(part, argb); }
void static_part_set_colour_c3_w(Task* part, uint32_t specular, float power) {
  set_specular_of<StaticPart>(part, specular, power);
}
void static_part_set_scale(Task* part, float scale) { set_scale_of<StaticPart>(part, scale); }
uint32_t static_part_diffuse(Task* part) { return data<StaticPart>(part)->colours.diffuse; }
ColourBlock* static_part_colour_block(Task* part) { return &data<StaticPart>(part)->colours; }
void static_part_detach_colliders(Task* part) { detach<StaticPart>(part); }
uint32_t static_part_collider_count(Task* part) { return chain_count<StaticPart>(part); }
bool static_part_collider_hit(Task* part, uint32_t n, RayHit* out) { return chain_hit<StaticPart>(part, n, out); }
uint16_t static_part_collider_serial(Task* part) { return serial<StaticPart>(part); }
void static_part_collider_set_flag_1(Task* part) { enable_first<StaticPart>(part); }
void static_part_collider_set_flag_2(Task* part) { ground_first<StaticPart>(part); }
Collider* static_part_collider(Task* part) { return data<StaticPart>(part)->colliders; }

// PrimPart.
Mat4* prim_part_matrix(Task* part) { return world_of<PrimPart>(part); }
void prim_part_set_colours(Task* part, uint32_t ambient, uint32_t diffuse, uint32_t emissive, uint32_t specular,
                           float power, float scale) {
  set_all_colours<PrimPart>(part, ambient, diffuse, emissive, specular, power, scale);
}
void prim_part_set_ambient(Task* part, uint32_t argb) { set_ambient_of<PrimPart>(part, argb); }
void prim_part_set_diffuse(Task* part, uint32_t argb) { set_diffuse_of<PrimPart>(part, argb); }
void prim_part_set_diffuse_2(Task* part, uint32_t argb) { set_diffuse_of<PrimPart>(part, argb); }
void prim_part_set_emissive(Task* part, uint32_t argb) { set_emissive_of<PrimPart>(part, argb); }
void prim_part_set_colour_c3_w(Task* part, uint32_t specular, float power) {
  set_specular_of<PrimPart>(part, specular, power);
}
void prim_part_set_scale(Task* part, float scale) { set_scale_of<PrimPart>(part, scale); }
uint32_t prim_part_diffuse(Task* part) { return data<PrimPart>(part)->colours.diffuse; }
ColourBlock* prim_part_colour_block(Task* part) { return &data<PrimPart>(part)->colours; }
void prim_part_detach_colliders(Task* part) { detach<PrimPart>(part); }
uint32_t prim_part_collider_count(Task* part) { return chain_count<PrimPart>(part); }
bool prim_part_collider_hit(Task* part, uint32_t n, RayHit* out) { return chain_hit<PrimPart>(part, n, out); }
uint16_t prim_part_collider_serial(Task* part) { return serial<PrimPart>(part); }
void prim_part_set_alpha(Task* part, float alpha) { data<PrimPart>(part)->alpha = alpha; }
void prim_part_set_flag_0(Task* part, uint32_t v) { set_field<PrimPart>(part, 0, 1, v); }
void prim_part_set_flag_1(Task* part, uint32_t v) { set_field<PrimPart>(part, 1, 1, v); }
void prim_part_set_flag_2(Task* part, uint32_t v) { set_field<PrimPart>(part, 2, 1, v); }
void prim_part_set_flag_3(Task* part, uint32_t v) { set_field<PrimPart>(part, 3, 1, v); }
void prim_part_set_flag_4(Task* part, uint32_t v) { set_field<PrimPart>(part, 4, 1, v); }
void prim_part_set_flag_5(Task* part, uint32_t v) { set_field<PrimPart>(part, 5, 1, v); }
void prim_part_set_flag_6(Task* part, uint32_t v) { set_field<PrimPart>(part, 6, 1, v); }
void prim_part_set_flag_18(Task* part, uint32_t v) { set_field<PrimPart>(part, 18, 1, v); }
void prim_part_set_flags_7_11(Task* part, uint32_t v) { set_field<PrimPart>(part, 7, 5, v); }
void prim_part_set_flags_12_14(Task* part, uint32_t v) { set_field<PrimPart>(part, 12, 3, v); }
void prim_part_set_flags_19_21(Task* part, uint32_t v) { set_field<PrimPart>(part, 19, 3, v); }
void prim_part_set_flags_22_24(Task* part, uint32_t v) { set_field<PrimPart>(part, 22, 3, v); }
void prim_part_set_flags_25_26(Task* part, uint32_t v) { set_field<PrimPart>(part, 25, 2, v); }
void prim_part_set_flags_27_28(Task* part, uint32_t v) { set_field<PrimPart>(part, 27, 2, v); }
void prim_part_collider_set_flag_1(Task* part) { enable_first<PrimPart>(part); }
void prim_part_collider_set_flag_2(Task* part) { ground_first<PrimPart>(part); }
Collider* prim_part_collider(Task* part) { return data<PrimPart>(part)->colliders; }
