// The light spheres' debug view: F9 switches it; while on, every light
// sphere shows as a camera-facing heptagon in its own colour.
#include <cmath>
#include <cstring>

#include "assets/asset_registry.h"
#include "render/view/view_matrices.h"
#include "scene3d/light_spheres.h"
#include "scene3d/part_api.h"
#include "scene3d/part_classes.h"
#include "shell/services/input.h"

namespace {

constexpr int kDebugKey = VK_F9;
constexpr uint8_t kRingLayer = 45;
constexpr int kRingPoints = 7;
constexpr uint32_t kUncolouredRing = 0x60FF0000u;

struct Ring {
  Vec3 centre;
  float radius;
};
static_assert(sizeof(Ring) <= kPrimHookBlockSize);

}  // namespace

void lightsphere_debug_pass() {
  const LightSphereList* list = lightsphere_list();
  if (is_key_pressed(kDebugKey)) lightsphere_set_debug(list->debug ^ 1u);
  if (list->debug != 1) return;
  for (const LightSphere* s = list->used; s != nullptr; s = s->next) {
    const uint32_t colour =
        (s->flags & kLightSphereColoured) ? ((s->colour & 0x00FFFFFFu) | 0x80000000u) : kUncolouredRing;
    lightsphere_debug_ring(s->owner, &s->centre, s->radius, colour);
  }
}

Task* lightsphere_debug_ring(uint32_t owner, const Vec3* centre, float radius, uint32_t colour) {
  Task* part = create_prim_part(owner, nullptr, lightsphere_debug_ring_draw, 0, kRingLayer);
  if (part == nullptr) return nullptr;
  const Ring ring{*centre, radius};
  std::memcpy(prim_part_hook_block(part), &ring, sizeof(ring));
  prim_part_set_flag_1(part, 0);
  prim_part_set_flag_3(part, 0);
  prim_part_set_flag_4(part, 0);
  prim_part_set_flags_12_14(part, 2);
  prim_part_set_diffuse(part, colour);
  prim_part_set_flag_18(part, 0);
  prim_part_set_flags_7_11(part, 2);
  prim_part_set_texture(part, get_white_texture());
  prim_part_set_mode_and_params(part, 0, nullptr, 0);
  return part;
}

void lightsphere_debug_ring_draw(Task* part, uintptr_t) {
  Ring ring;
  std::memcpy(&ring, prim_part_hook_block(part), sizeof(ring));
  const Mat4* camera = get_camera_matrix(0);
  Vec3 p[kRingPoints];
  for (int i = 0; i < kRingPoints; ++i) {
    const float angle = static_cast<float>(i) / 7.0f * 6.2831854820251465f;
    const Vec3 local{std::cos(angle) * ring.radius, std::sin(angle) * ring.radius, 0.0f};
    mat4_transform_direction(&p[i], camera, &local);
    vec3_add(&p[i], &p[i], &ring.centre);
  }
  prim_batch_begin(part, 0, 0);
  for (int j = 1; j + 1 < kRingPoints; ++j) {
    prim_batch_add_vertex(part, &p[0]);
    prim_batch_add_vertex(part, &p[j]);
    prim_batch_add_vertex(part, &p[j + 1]);
  }
  prim_batch_end(part);
}
