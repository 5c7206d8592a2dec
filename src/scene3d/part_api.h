// The small operations the part classes share on their own fields: type
// tests, matrices, textures, alpha, render-flag bits and fields, colours,
// shading modes and collider chains. Flag setters store the lowest bit of
// their argument, field setters the field's width; every colour setter
// rewrites the is-default flag. Mesh-part LODs, creation and culling live in
// mesh_part.h.
#pragma once

#include <cstdint>

#include "assets/asset_handle.h"
#include "math/mat4.h"
#include "math/plane.h"
#include "render/tasks/task.h"
#include "scene3d/part_records.h"

struct Collider;
struct RayHit;

uint32_t model_part_type_id();
uint32_t static_part_type_id();
uint32_t prim_part_type_id();
bool task_is_model_part(const Task* task);
bool task_is_static_part(const Task* task);
bool task_is_prim_part(const Task* task);

// The operations the classes share, by class. Every class has the matrix,
// colour and collider-chain operations; the classes with a render-flag word
// (all but StaticPart) have alpha and flag setters; the classes that hold a
// Collider chain of their own making (all but ModelPart) have the first
// Collider's flag operations: flag 1 enables it and clears its ground bit,
// flag 2 sets the ground bit; nothing without a chain.
// MeshPart.
Mat4* mesh_part_matrix(Task* part);
void mesh_part_set_colours(Task* part, uint32_t ambient, uint32_t diffuse, uint32_t emissive, uint32_t specular,
                           float power, float scale);
void mesh_part_set_ambient(Task* part, uint32_t argb);
void mesh_part_set_diffuse(Task* part, uint32_t argb);
void mesh_part_set_diffuse_2(Task* part, uint32_t argb);
void mesh_part_set_emissive(Task* part, uint32_t argb);
void mesh_part_set_colour_c3_w(Task* part, uint32_t specular, float power);
void mesh_part_set_scale(Task* part, float scale);
uint32_t mesh_part_diffuse(Task* part);
ColourBlock* mesh_part_colour_block(Task* part);
void mesh_part_detach_colliders(Task* part);
uint32_t mesh_part_collider_count(Task* part);
bool mesh_part_collider_hit(Task* part, uint32_t n, RayHit* out);
uint16_t mesh_part_collider_serial(Task* part);
void mesh_part_set_alpha(Task* part, float alpha);
void mesh_part_set_flag_0(Task* part, uint32_t value);
void mesh_part_set_flag_1(Task* part, uint32_t value);
void mesh_part_set_flag_2(Task* part, uint32_t value);
void mesh_part_set_flag_3(Task* part, uint32_t value);
void mesh_part_set_flag_4(Task* part, uint32_t value);
void mesh_part_set_flag_5(Task* part, uint32_t value);
void mesh_part_set_flag_6(Task* part, uint32_t value);
void mesh_part_set_flag_18(Task* part, uint32_t value);
void mesh_part_set_flags_7_11(Task* part, uint32_t value);
void mesh_part_set_flags_12_14(Task* part, uint32_t value);
void mesh_part_set_flags_19_21(Task* part, uint32_t value);
void mesh_part_set_flags_22_24(Task* part, uint32_t value);
void mesh_part_set_flags_25_26(Task* part, uint32_t value);
void mesh_part_set_flags_27_28(Task* part, uint32_t value);
void mesh_part_collider_set_flag_1(Task* part);
void mesh_part_collider_set_flag_2(Task* part);
Collider* mesh_part_collider(Task* part);

// ModelPart.
Mat4* model_part_matrix(Task* part);
void model_part_set_colours(Task* part, uint32_t ambient, uint32_t diffuse, uint32_t emissive, uint32_t specular,
                            float power, float scale);
void model_part_set_ambient(Task* part, uint32_t argb);
void model_part_set_diffuse(Task* part, uint32_t argb);
void model_part_set_diffuse_2(Task* part, uint32_t argb);
void model_part_set_emissive(Task* part, uint32_t argb);
void model_part_set_colour_c3_w(Task* part, uint32_t specular, float power);
void model_part_set_scale(Task* part, float scale);
uint32_t model_part_diffuse(Task* part);
ColourBlock* model_part_colour_block(Task* part);
void model_part_detach_colliders(Task* part);
uint32_t model_part_collider_count(Task* part);
bool model_part_collider_hit(Task* part, uint32_t n, RayHit* out);
uint16_t model_part_collider_serial(Task* part);
void model_part_set_alpha(Task* part, float alpha);
void model_part_set_flag_0(Task* part, uint32_t value);
void model_part_set_flag_1(Task* part, uint32_t value);
void model_part_set_flag_2(Task* part, uint32_t value);
void model_part_set_flag_3(Task* part, uint32_t value);
void model_part_set_flag_4(Task* part, uint32_t value);
void model_part_set_flag_5(Task* part, uint32_t value);
void model_part_set_flag_6(Task* part, uint32_t value);
void model_part_set_flag_18(Task* part, uint32_t value);
void model_part_set_flags_7_11(Task* part, uint32_t value);
void model_part_set_flags_12_14(Task* part, uint32_t value);
void model_part_set_flags_19_21(Task* part, uint32_t value);
void model_part_set_flags_22_24(Task* part, uint32_t value);
void model_part_set_flags_25_26(Task* part, uint32_t value);
void model_part_set_flags_27_28(Task* part, uint32_t value);

// StaticPart.
Mat4* static_part_matrix(Task* part);
void static_part_set_colours(Task* part, uint32_t ambient, uint32_t diffuse, uint32_t emissive, uint32_t specular,
                             float power, float scale);
void static_part_set_ambient(Task* part, uint32_t argb);
void static_part_set_diffuse(Task* part, uint32_t argb);
void static_part_set_diffuse_2(Task* part, uint32_t argb);
void static_part_set_emissive(Task* part, uint32_t argb);
void static_part_set_colour_c3_w(Task* part, uint32_t specular, float power);
void static_part_set_scale(Task* part, float scale);
uint32_t static_part_diffuse(Task* part);
ColourBlock* static_part_colour_block(Task* part);
void static_part_detach_colliders(Task* part);
uint32_t static_part_collider_count(Task* part);
bool static_part_collider_hit(Task* part, uint32_t n, RayHit* out);
uint16_t static_part_collider_serial(Task* part);
void static_part_collider_set_flag_1(Task* part);
void static_part_collider_set_flag_2(Task* part);
Collider* static_part_collider(Task* part);

// PrimPart.
Mat4* prim_part_matrix(Task* part);
void prim_part_set_colours(Task* part, uint32_t ambient, uint32_t diffuse, uint32_t emissive, uint32_t specular,
                           float power, float scale);
void prim_part_set_ambient(Task* part, uint32_t argb);
void prim_part_set_diffuse(Task* part, uint32_t argb);
void prim_part_set_diffuse_2(Task* part, uint32_t argb);
void prim_part_set_emissive(Task* part, uint32_t argb);
void prim_part_set_colour_c3_w(Task* part, uint32_t specular, float power);
void prim_part_set_scale(Task* part, float scale);
uint32_t prim_part_diffuse(Task* part);
ColourBlock* prim_part_colour_block(Task* part);
void prim_part_detach_colliders(Task* part);
uint32_t prim_part_collider_count(Task* part);
bool prim_part_collider_hit(Task* part, uint32_t n, RayHit* out);
uint16_t prim_part_collider_serial(Task* part);
void prim_part_set_alpha(Task* part, float alpha);
void prim_part_set_flag_0(Task* part, uint32_t value);
void prim_part_set_flag_1(Task* part, uint32_t value);
void prim_part_set_flag_2(Task* part, uint32_t value);
void prim_part_set_flag_3(Task* part, uint32_t value);
void prim_part_set_flag_4(Task* part, uint32_t value);
void prim_part_set_flag_5(Task* part, uint32_t value);
void prim_part_set_flag_6(Task* part, uint32_t value);
void prim_part_set_flag_18(Task* part, uint32_t value);
void prim_part_set_flags_7_11(Task* part, uint32_t value);
void prim_part_set_flags_12_14(Task* part, uint32_t value);
void prim_part_set_flags_19_21(Task* part, uint32_t value);
void prim_part_set_flags_22_24(Task* part, uint32_t value);
void prim_part_set_flags_25_26(Task* part, uint32_t value);
void prim_part_set_flags_27_28(Task* part, uint32_t value);
void prim_part_collider_set_flag_1(Task* part);
void prim_part_collider_set_flag_2(Task* part);
Collider* prim_part_collider(Task* part);

void mesh_part_set_flags_15_17(Task* part, uint32_t value);

void mesh_part_set_texture(Task* part, uint32_t texture);
uint32_t mesh_part_texture(Task* part);
void model_part_set_texture(Task* part, uint32_t texture);
uint32_t model_part_texture(Task* part);
// The primitive batch's default texture.
void prim_part_set_texture(Task* part, uint32_t texture);

// Shading mode and shader data: min(size, 40) bytes are copied when size is
// non-zero. The model part's also go into every slot it holds.
void part_set_mode_and_params(Task* part, uint16_t mode, const void* data, uint32_t size);
void model_part_set_mode_and_params(Task* part, uint16_t mode, const void* data, uint32_t size);
void static_part_set_mode_and_params(Task* part, uint16_t mode, const void* data, uint32_t size);
void prim_part_set_mode_and_params(Task* part, uint16_t mode, const void* data, uint32_t size);
// The mode of the first LOD model (mesh and model parts) or 0.
void mesh_part_reset_mode(Task* part);
void model_part_reset_mode(Task* part);
void static_part_reset_mode(Task* part);
void prim_part_reset_mode(Task* part);

void model_part_set_lods(Task* part, const LodPair* pairs);
void model_part_set_model(Task* part, uint32_t model);
uint32_t model_part_lod0_model(Task* part);
void model_part_set_pass_model(Task* part, uint32_t model);

// A sphere Collider moving with the part's world matrix: re-shapes the first
// of the chain, or starts one with its ground bit clear. False when the
// collider pool is full.
bool mesh_part_attach_collision_sphere(Task* part, const Vec3* offset, float radius, uint32_t category);
bool prim_part_attach_collision_sphere(Task* part, const Vec3* offset, float radius, uint32_t category);

// A collision-mesh Collider moving with the part's world matrix: re-targets
// the first of the chain, or starts one (ground bit clear for mesh parts,
// set for static parts). False when the handle has no collision mesh or the
// collider pool is full.
bool mesh_part_attach_collision_mesh(Task* part, AssetHandle collision, uint32_t category);
bool static_part_attach_collision_mesh(Task* part, AssetHandle collision, uint32_t category);

// A sphere that covers at least min_pixels on the view's screen where the
// matrix stands: the radius grown to the size those pixels take at that
// depth, attached as mesh_part_attach_collision_sphere does.
bool mesh_part_attach_sphere_by_size(Task* part, int view, const Mat4* matrix, float radius, const Vec3* offset,
                                     float min_pixels, uint32_t category);

// The collision mesh when its bounding sphere (0.714 of its radius) is seen
// at least min_pixels wide where the matrix stands, else a sphere grown to
// the size those pixels take there. False for a handle without a collision
// mesh or a full collider pool.
bool mesh_part_attach_collider_by_size(Task* part, int view, const Mat4* matrix, AssetHandle collision,
                                       const Vec3* offset, float min_pixels, uint32_t category);

// ---------------------------------------------------------------- collider overlays
// One-frame parts of the owner on layer 45 that show colliders: cyan for
// an enabled collider, red otherwise, both half transparent. Null when the
// task pool is full.
constexpr uint8_t kColliderOverlayLayer = 45;
// Every triangle of the collision mesh, placed by the matrix (none: as
// stored), in the colour.
Task* create_collision_mesh_overlay(uint32_t owner, const Mat4* matrix, AssetHandle collision, uint32_t colour);
// A disc facing view 0's camera where the collider's sphere stands.
Task* part_overlay_collider_sphere(uint32_t owner, const Collider* collider, uint32_t colour);
Task* create_collider_sphere_overlay(uint32_t owner, const Vec3* centre, float radius, uint32_t colour);
// For each collider of the part's chain, under the part's owner: a disc for
// a sphere; for a collision mesh its triangles, or with solid the mesh of
// the same package and name, see-through and unlit. Static parts show mesh
// triangles only, primitive parts spheres only.
void mesh_part_show_colliders(Task* part, bool solid);
void model_part_show_colliders(Task* part, bool solid);
void static_part_show_colliders(Task* part);
void prim_part_show_colliders(Task* part);

// A part's new Collider with the next serial, owned by the matrix; null when
// the pool is full (or, for a mesh, the handle has no collision mesh).
Collider* part_new_sphere_collider(const Vec3* offset, float radius, const Mat4* owner, uint32_t category);
Collider* part_new_mesh_collider(AssetHandle collision, const Mat4* owner, uint32_t category);
// The asset hash the part classes match names by.
uint32_t part_name_hash(const char* name);

// For callers outside the draw, planes as mesh_part_is_culled takes them.
// The primitive part's sphere is its local centre (or position) with its
// radius when use_radius is set, else the point alone.
bool prim_part_is_culled(Task* part, int view, const Frustum* frustum, bool use_radius);
