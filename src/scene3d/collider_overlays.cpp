// Debug overlays of the parts' colliders: one-frame parts of the caller's
// owner on the overlay layer that show where each collider stands, as a
// camera-facing disc for a sphere and as the collision mesh's triangles (or
// the mesh of the same name, drawn solid) for a mesh collider.
#include <cmath>
#include <cstring>

#include "assets/model_records.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "scene3d/mesh_part.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "scene3d/ray_collision.h"

namespace {

constexpr uint32_t kEnabledColour = 0x8000FFFFu;
constexpr uint32_t kDisabledColour = 0x80FF0000u;
constexpr int kDiscPoints = 10;

// What a sphere overlay's hook reads from the part's hook block.
struct SphereOverlay {
  Vec3 centre;
  float radius;
};
static_assert(sizeof(SphereOverlay) <= kPrimHookBlockSize);

uint32_t colour_of(const Collider* c) { return (c->flags & kColliderEnabled) ? kEnabledColour : kDisabledColour; }

// A one-frame primitive part drawn in its colour, without lighting, depth
// writes, fog or sphere culling.
Task* overlay_part(uint32_t owner, const Mat4* matrix, PrimDrawHook hook, uintptr_t argument, uint32_t colour) {
  Task* part = create_prim_part(owner, matrix, hook, argument, kColliderOverlayLayer);
  if (part == nullptr) return nullptr;
  prim_part_set_flag_1(part, 0);
  prim_part_set_flag_3(part, 0);
  prim_part_set_flag_4(part, 0);
  prim_part_set_flag_18(part, 0);
  prim_part_set_diffuse(part, colour);
  return part;
}

void draw_collision_mesh(Task* part, uintptr_t collision) {
  const AssetHandle handle = static_cast<AssetHandle>(collision);
  prim_batch_begin(part, 0, 0);
  const int32_t n = count_collision_triangles(handle);
  for (int32_t i = 0; i < n; ++i) {
    CollisionTriangle t;
    if (!get_collision_triangle(handle, i, &t)) break;
    prim_batch_set_normal_xyz(part, t.vector1[0], t.vector1[1], t.vector1[2]);
    prim_batch_add_xyz(part, t.v0[0], t.v0[1], t.v0[2]);
    prim_batch_add_xyz(part, t.v1[0], t.v1[1], t.v1[2]);
    prim_batch_add_xyz(part, t.v2[0], t.v2[1], t.v2[2]);
  }
  prim_batch_end(part);
}

void draw_sphere_disc(Task* part, uintptr_t) {
  SphereOverlay s;
  std::memcpy(&s, prim_part_hook_block(part), sizeof(s));
  const Mat4* camera = get_camera_matrix(0);
  Vec3 p[kDiscPoints];
  for (int k = 0; k < kDiscPoints; ++k) {
    const float a = static_cast<float>(k) / static_cast<float>(kDiscPoints) * 6.2831854820251465f;
    const Vec3 local{std::cos(a) * s.radius, std::sin(a) * s.radius, 0.0f};
    mat4_transform_direction(&p[k], camera, &local);
    vec3_add(&p[k], &p[k], &s.centre);
  }
  prim_batch_begin(part, 0, 0);
  for (int k = 1; k + 1 < kDiscPoints; ++k) {
    prim_batch_add_vertex(part, &p[0]);
    prim_batch_add_vertex(part, &p[k]);
    prim_batch_add_vertex(part, &p[k + 1]);
  }
  prim_batch_end(part);
}

// The mesh named like the collider's collision mesh, drawn see-through in
// the colour with the white texture.
void solid_overlay(uint32_t owner, const Collider* c, uint32_t colour) {
  const AssetHandle mesh = find_mesh(c->model->head.package, c->model->head.name);
  Task* part = mesh != 0 ? create_mesh_part(owner, c->owner, mesh, kColliderOverlayLayer) : nullptr;
  if (part == nullptr) return;
  mesh_part_set_texture(part, get_white_texture());
  mesh_part_set_flag_1(part, 0);
  mesh_part_set_flag_0(part, 1);
  mesh_part_set_flag_3(part, 0);
  mesh_part_set_flag_4(part, 0);
  mesh_part_set_diffuse(part, colour);
}

enum OverlayKinds { kSpheresOnly, kTranslucent, kSolidOrTranslucent };

void show_chain(uint32_t owner, const Collider* chain, OverlayKinds kinds, bool solid) {
  for (const Collider* c = chain; c != nullptr; c = c->chained) {
    const uint32_t colour = colour_of(c);
    if (c->model == nullptr) {
      part_overlay_collider_sphere(owner, c, colour);
    } else if (kinds == kSpheresOnly) {
      continue;
    } else if (kinds == kSolidOrTranslucent && solid) {
      solid_overlay(owner, c, colour);
    } else {
      const AssetHandle collision = find_collision(c->model->head.package, c->model->head.name);
      if (collision != 0) create_collision_mesh_overlay(owner, c->owner, collision, colour);
    }
  }
}

}  // namespace

unsigned char* prim_part_hook_block(Task* part) { return task_data<PrimPart>(part)->hook_block; }

Task* create_collision_mesh_overlay(uint32_t owner, const Mat4* matrix, AssetHandle collision, uint32_t colour) {
  return overlay_part(owner, matrix, draw_collision_mesh, collision, colour);
}

Task* part_overlay_collider_sphere(uint32_t owner, const Collider* collider, uint32_t colour) {
  const Vec3 centre = collider_world_centre(collider);
  return create_collider_sphere_overlay(owner, &centre, collider->radius, colour);
}

Task* create_collider_sphere_overlay(uint32_t owner, const Vec3* centre, float radius, uint32_t colour) {
  Task* part = overlay_part(owner, nullptr, draw_sphere_disc, 0, colour);
  if (part == nullptr) return nullptr;
  prim_part_set_flags_12_14(part, 2);
  const SphereOverlay s{*centre, radius};
  std::memcpy(prim_part_hook_block(part), &s, sizeof(s));
  return part;
}

void mesh_part_show_colliders(Task* part, bool solid) {
  show_chain(part->owner, task_data<MeshPart>(part)->colliders, kSolidOrTranslucent, solid);
}

void model_part_show_colliders(Task* part, bool solid) {
  show_chain(part->owner, task_data<ModelPart>(part)->colliders, kSolidOrTranslucent, solid);
}

void static_part_show_colliders(Task* part) {
  show_chain(part->owner, task_data<StaticPart>(part)->colliders, kTranslucent, false);
}

void prim_part_show_colliders(Task* part) {
  show_chain(part->owner, task_data<PrimPart>(part)->colliders, kSpheresOnly, false);
}

bool mesh_part_attach_collider_by_size(Task* part, int view, const Mat4* matrix, AssetHandle collision,
                                       const Vec3* offset, float min_pixels, uint32_t category) {
  Vec3 centre;
  float radius = 0.0f;
  if (!collision_bounds(collision, &centre, &radius)) return false;
  const float t = 0.714f * radius;
  const Vec3 position{matrix->m[12], matrix->m[13], matrix->m[14]};
  const float s = projected_size_at_point(get_camera_frustum(view), get_view_matrix(view), &position, t,
                                          static_cast<float>(get_virtual_screen_width()), min_pixels);
  if (s <= t) return mesh_part_attach_collision_mesh(part, collision, category);
  return mesh_part_attach_collision_sphere(part, offset, s, category);
}
