// MeshPart: one task that draws one mesh with a world matrix, render flags,
// material colours, optional level of detail, billboarding, sphere culling
// and light-sphere lighting. Its draw callback takes each run of mesh parts
// of a layer, culls and sorts them and draws them as one batch.
#pragma once

#include <cstdint>

#include "math/mat4.h"
#include "math/plane.h"
#include "render/tasks/task.h"
#include "scene3d/part_records.h"

struct PartMesh;

// Draw callback of the class.
void mesh_part_draw(Task* const* tasks, int count);

// Null when the task pool is full. The matrix is copied when given, else
// identity. create_mesh_part lives one frame.
Task* create_mesh_part(uint32_t owner, const Mat4* matrix, uint32_t model, uint8_t layer);
Task* create_mesh_part_persistent(uint32_t owner, const Mat4* matrix, uint32_t model, uint8_t layer);

// Keeps the pairs whose model is above 0, sorted by distance (stable), and
// sets the shading mode from the first kept model. Null does nothing.
void mesh_part_set_lods(Task* part, const LodPair* pairs);
// The pairs of two given whose model is above 0, sorted by distance with
// equal distances in their order, the rest zero; returns how many.
int part_lods_keep(LodPair out[2], const LodPair* pairs);
void mesh_part_set_model(Task* part, uint32_t model);
uint32_t mesh_part_lod0_model(Task* part);
void mesh_part_set_pass_model(Task* part, uint32_t model);
// The model a part draws at a squared distance: the pass model in a
// light-view or mirror pass when set, else the last LOD pair whose distance
// is not greater; 0 when none qualifies.
uint32_t mesh_part_choose_model(const MeshPart* part, float distance_sq, bool pass_model_allowed);
// The shading mode a model asks for: 2 for normal-mapped meshes, else 0.
uint16_t part_mode_from_model(uint32_t model);

// True when the sphere lies on the inner side of (or touches) all six planes.
bool part_sphere_in_frustum(const Plane* planes, const Vec3* centre, float radius);
// Without a matrix the bounds' centre against the inner radius; with one,
// the matrix translation against the outer radius, then the transformed
// centre against the inner radius.
bool part_bounds_in_frustum(const Plane* planes, const Mat4* matrix, const PartMesh* bounds);
// The planes of a culling query: those of the given extents seen from the
// view (written into scratch), or the view's frustum 1 without extents.
const Plane* part_query_planes(Plane* scratch, int view, const Frustum* frustum);
// For callers outside the draw: the planes of the given extents seen from
// the view (or the view's frustum 1 without extents), the mesh drawn last
// (or the part's position alone).
bool mesh_part_is_culled(Task* part, int view, const Frustum* frustum, bool use_bounds);
