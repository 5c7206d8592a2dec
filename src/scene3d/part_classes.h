// Static, model and primitive parts: their draw callbacks, constructors,
// the model part's slots and motion operations, and the primitive part's
// immediate batch of 36-byte vertices, drawn from its draw hook.
#pragma once

#include <cstdint>

#include "assets/asset_handle.h"
#include "assets/link_pool.h"
#include "math/mat4.h"
#include "math/plane.h"
#include "render/tasks/task.h"
#include "scene3d/part_records.h"

struct BonePose;
struct Collider;

// Draw callbacks.
void static_part_draw(Task* const* tasks, int count);
void model_part_draw(Task* const* tasks, int count);
void prim_part_draw(Task* const* tasks, int count);

// Constructors: null when the task pool is full. Static and model parts are
// persistent; create_prim_part lives one frame.
Task* create_static_part(uint32_t owner, LinkNode* nodes, uint8_t layer);
Task* create_model_part(uint32_t owner, const Mat4* matrix, uint32_t model, uint8_t layer);
Task* create_prim_part(uint32_t owner, const Mat4* matrix, PrimDrawHook hook, uintptr_t argument, uint8_t layer);
Task* create_prim_part_persistent(uint32_t owner, const Mat4* matrix, PrimDrawHook hook, uintptr_t argument,
                                  uint8_t layer);

// The part takes the chain; its release returns it to the link-node pool.
void static_part_set_nodes(Task* part, LinkNode* nodes);

// ---------------------------------------------------------------- slots
// Index 0..19; any other index, or an empty slot where one is needed, does
// nothing.
void model_part_set_slot(Task* part, int index, uint32_t mesh, const char* bone_name);
void model_part_set_slot_matrix(Task* part, int index, uint32_t mesh, const Mat4* matrix);
void model_part_set_slot_mesh(Task* part, int index, uint32_t mesh);
void model_part_slot_enable(Task* part, int index, uint32_t on);
void part_slot_set_flag2_bit2(Task* part, int index, uint32_t on);
void model_part_release_slot(Task* part, int index);
void part_slot_set_diffuse(Task* part, int index, uint32_t argb);
void part_slot_set_flag_0(Task* part, int index, uint32_t on);
void part_slot_set_flag_1(Task* part, int index, uint32_t on);
void part_slot_set_flag_2(Task* part, int index, uint32_t on);
void part_slot_set_flag_3(Task* part, int index, uint32_t on);
void part_slot_set_flag_4(Task* part, int index, uint32_t on);
void part_slot_set_ambient(Task* part, int index, uint32_t argb);
void part_slot_set_emissive(Task* part, int index, uint32_t argb);
void part_slot_set_colour_c3_w(Task* part, int index, uint32_t specular, float power);
void part_slot_set_scale(Task* part, int index, float scale);
// RenderFlags fields of a slot, as the parts' flag-range setters.
void part_slot_set_flags_7_11(Task* part, int index, uint32_t value);
void part_slot_set_flags_12_14(Task* part, int index, uint32_t value);
void part_slot_set_flags_19_21(Task* part, int index, uint32_t value);
void part_slot_set_flags_22_24(Task* part, int index, uint32_t value);
void part_slot_set_flags_25_26(Task* part, int index, uint32_t value);
void part_slot_set_flags_27_28(Task* part, int index, uint32_t value);
// min(size, 40) bytes of shader data are copied when given.
void model_part_slot_set_mode_and_params(Task* part, int index, uint16_t mode, const void* data, uint32_t size);
// The part's shading mode and shader data into the slot.
void model_part_slot_copy_mode(Task* part, int index);
const ColourBlock* part_slot_colour_block(Task* part, int index);
uint16_t part_slot_mode(Task* part, int index);
const void* part_slot_shader_data(Task* part, int index);
uint32_t part_slot_mesh(Task* part, int index);
const Mat4* part_slot_matrix(Task* part, int index);
uint32_t part_slot_diffuse(Task* part, int index);
PartSlot* model_part_slot(Task* part, int index);

// ---------------------------------------------------------------- motion
// Each forwards to the part's player; without a player (the player pool was
// full when the part was made) setters do nothing and getters return 0.
// Binds a bone tree (-1 keeps it) and an animation, then poses the part.
void model_part_set_motion(Task* part, int32_t tree, int32_t animation);
void model_part_update_motion(Task* part, int32_t frame);
uint32_t model_part_frame(Task* part);
uint32_t model_part_length(Task* part);
uint32_t model_part_loops_done(Task* part);
uint32_t model_part_frames_played(Task* part);
bool model_part_is_playing(Task* part, uint32_t limit);
bool model_part_at_end(Task* part);
void model_part_set_frame(Task* part, int32_t frame);
void model_part_set_loop(Task* part, uint32_t on);
void model_part_set_speed(Task* part, float frames_per_update);
uint32_t model_part_bone_tree(Task* part);
int32_t model_part_find_bone(Task* part, const char* name);
// The bone's world pose with the part's world matrix; null when missing.
BonePose* model_part_bone_matrix(Task* part, int32_t index, uint32_t force);
MotionPlayer* model_part_player(Task* part);
// For callers outside the draw, planes as mesh_part_is_culled takes them:
// the root bone's placed position (or the part's) against the inner radius
// of the model drawn last when use_bounds is set, else the point alone.
bool model_part_is_culled(Task* part, int view, const Frustum* frustum, bool use_bounds);
bool model_part_is_playing_to_limit(Task* part);
bool model_part_was_fading(Task* part);
bool model_part_at_start(Task* part);
// Start and loop points in whole frames.
uint32_t model_part_start_frame(Task* part);
void model_part_set_start_frame(Task* part, uint32_t frame);
uint32_t model_part_loop_frame(Task* part);
void model_part_set_loop_frame(Task* part, uint32_t frame);
uint32_t model_part_motion_id(Task* part);
void model_part_set_loop_limit(Task* part, uint32_t count);
// With fade, a cross-fade from the current pose starts first.
void model_part_set_mirror(Task* part, uint32_t on, uint32_t fade);
void model_part_set_reverse(Task* part, uint32_t on);
void model_part_set_crossfade(Task* part, int32_t updates);
void model_part_arm_crossfade(Task* part);
void model_part_set_root_lock(Task* part, uint32_t mode);
// The root bone's current transform; null (false) without a root bone.
Mat4* model_part_root_matrix(Task* part, Mat4* out);
bool model_part_root_xyz(Task* part, Vec3* out);
bool model_part_root_xz(Task* part, float* out_x, float* out_z);
bool model_part_root_angles(Task* part, Vec3* out);
// Root travel of the last update: as sampled, turned by the world matrix,
// and either with y dropped.
Vec3* model_part_root_delta(Task* part, Vec3* out);
Vec3* model_part_root_delta_world(Task* part, Vec3* out);
Vec3* model_part_root_delta_flat(Task* part, Vec3* out);
Vec3* model_part_root_delta_flat_world(Task* part, Vec3* out);
// Length of the travel (0 below a squared length of 1e-10); flat: in x, z.
float model_part_root_step(Task* part);
float model_part_root_step_flat(Task* part);
uint32_t model_part_node_count(Task* part);
const char* model_part_bone_name(Task* part, int32_t index);
uint32_t model_part_root_bone(Task* part);  // 255 = none
BonePose* model_part_bone_matrix_by_name(Task* part, const char* name);
bool model_part_bone_ik(Task* part, int32_t index, const Vec3* target, float weight, int32_t chain);
bool model_part_bone_look_at(Task* part, int32_t index, const Vec3* target, const Vec3* up, float weight);
bool model_part_bone_local_override(Task* part, int32_t index, const Mat4* m, float weight, uint32_t remap);
bool model_part_bone_world_override(Task* part, int32_t index, const Mat4* m, float weight, uint32_t remap);
bool model_part_bone_ik_by_name(Task* part, const char* name, const Vec3* target, float weight, int32_t chain);
bool model_part_bone_look_at_by_name(Task* part, const char* name, const Vec3* target, const Vec3* up, float weight);
bool model_part_bone_local_override_by_name(Task* part, const char* name, const Mat4* m, float weight,
                                            uint32_t remap);
bool model_part_bone_world_override_by_name(Task* part, const char* name, const Mat4* m, float weight,
                                            uint32_t remap);
bool model_part_set_springs(Task* part, const char* name, uint32_t on);

// ---------------------------------------------------------------- bones
// The bone tree as one-frame 3D lines of the owner, without depth writes:
// for each bone a line from its parent's position (red) to its own (green)
// and its three axes, 0.1 long, in red, green and blue. Bones are placed by
// the player's poses when given, else by the tree's stored matrices over
// the base matrix (none: identity). A non-zero label word draws nothing.
void draw_bone_tree_lines(uint32_t owner, AssetHandle tree, const Mat4* base, uint32_t label,
                          const MotionPlayer* poses);
// The part's bone tree over its world matrix, posed by its player when
// posed is set. The lines keep their own colours; colour is not read.
void model_part_draw_skeleton(Task* part, uint32_t colour, bool posed);
// The pose of the player's bone with that hash and name; null when absent.
BonePose* part_find_pose(MotionPlayer* player, uint32_t hash, const char* name);
// Replaces the part's Colliders with one mesh Collider per bone that has a
// collision mesh "CM_<bone>" in the bone tree's package, owned by the bone's
// pose. tree -1 means the player's bone tree. The first old Collider's
// enabled and ground bits carry over (enabled, not ground, without one).
void model_part_bind_bone_colliders(Task* part, int32_t tree, uint32_t category);
uint32_t model_part_collider_total(Task* part);
Collider* model_part_collider_at(Task* part, uint32_t n);
// Flag 1 enables and clears the ground bit, flag 2 sets the ground bit: on
// every Collider, or on the first named so (false when none or no name).
void model_part_colliders_set_flag_1(Task* part);
void model_part_colliders_set_flag_2(Task* part);
bool model_part_collider_set_flag_1_by_name(Task* part, const char* name);
bool model_part_collider_set_flag_2_by_name(Task* part, const char* name);

constexpr int kBonePairLevels = 128;
using BonePairFn = void (*)(Task* part, BonePose* parent, const char* parent_name, BonePose* child,
                            const char* child_name, void* argument);
// Calls fn for each parent and child of the bone tree, children before
// their parents' later siblings. Nesting past 128 levels is not descended.
void model_part_for_each_bone_pair(Task* part, BonePairFn fn, void* argument);

// ---------------------------------------------------------------- prims
void prim_part_set_draw_hook(Task* part, PrimDrawHook hook, uintptr_t argument);
// The part's 16 bytes for its draw hook's own data.
constexpr int kPrimHookBlockSize = 16;
unsigned char* prim_part_hook_block(Task* part);
void prim_part_set_bounds(Task* part, const Vec3* local_centre, float radius);

constexpr int kPrimBatchVertices = 16384;
// Primitives drawn from n vertices of a batch type (0 triangles, 1 lines,
// 2 points).
uint32_t prim_count_from_vertices(int type, uint32_t n);
void prim_batch_begin(Task* part, int type, uint32_t texture);
// The template the next vertices copy: normal (0, 1, 0), the colour, u = v = 0.
void prim_batch_reset_template(Task* part, uint32_t colour);
void prim_batch_add_vertex(Task* part, const Vec3* position);
void prim_batch_add_xyz(Task* part, float x, float y, float z);
void prim_batch_set_normal(Task* part, const Vec3* normal);
void prim_batch_set_colour(Task* part, uint32_t argb);
void prim_batch_set_normal_xyz(Task* part, float x, float y, float z);
void prim_batch_set_uv_xy(Task* part, float u, float v);
void prim_batch_set_uv(Task* part, const float* uv);
void prim_batch_flush(Task* part);
void prim_batch_end(Task* part);
void prim_draw_vertices(Task* part, int type, uint32_t texture, const PrimVertex* vertices, uint32_t count);
// Without indices the quad index list is used; index counts beyond it are
// clipped to it.
void prim_draw_indexed_vertices(Task* part, int type, uint32_t texture, const PrimVertex* vertices,
                                uint32_t vertex_count, const uint16_t* indices, uint32_t index_count);

