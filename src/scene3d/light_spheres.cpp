#include "scene3d/light_spheres.h"

#include <algorithm>
#include <cstring>

#include "math/plane.h"
#include "render/tasks/task.h"
#include "render/view/view_matrices.h"
#include "render/view/view_state.h"

namespace {

LightSphereList list;

void push_front(LightSphere** head, LightSphere* s) {
  s->prev = nullptr;
  s->next = *head;
  if (*head != nullptr) (*head)->prev = s;
  *head = s;
}

void unlink_used(LightSphere* s) {
  if (s->prev != nullptr) s->prev->next = s->next;
  else list.used = s->next;
  if (s->next != nullptr) s->next->prev = s->prev;
  s->prev = s->next = nullptr;
}

void refresh_float_colour(LightSphere* s) {
  s->colour_float4[0] = static_cast<float>((s->colour >> 16) & 0xFF) / 255.0f;
  s->colour_float4[1] = static_cast<float>((s->colour >> 8) & 0xFF) / 255.0f;
  s->colour_float4[2] = static_cast<float>(s->colour & 0xFF) / 255.0f;
  s->colour_float4[3] = static_cast<float>(s->colour >> 24) / 255.0f;
}

}  // namespace

void lightsphere_init() {
  tasks_set_owner_hook(kOwnerHookLightSphere, lightsphere_release_of_owner, lightsphere_reset_pool);
  lightsphere_reset_pool();
}

void lightsphere_reset_pool() {
  std::memset(static_cast<void*>(&list), 0, sizeof(list));
  for (int i = 0; i < kLightSpherePoolSize; ++i) {
    list.spheres[i].prev = i > 0 ? &list.spheres[i - 1] : nullptr;
    list.spheres[i].next = i + 1 < kLightSpherePoolSize ? &list.spheres[i + 1] : nullptr;
  }
  list.free = &list.spheres[0];
}

LightSphere* lightsphere_create(uint32_t owner, const Vec3* centre, float radius, uint32_t colour) {
  LightSphere* s = list.free;
  if (s == nullptr) return nullptr;
  list.free = s->next;
  if (list.free != nullptr) list.free->prev = nullptr;
  std::memset(static_cast<void*>(s), 0, sizeof(*s));
  push_front(&list.used, s);
  s->flags = kLightSphereInUse | kLightSphereColoured;
  s->owner = owner;
  if (centre != nullptr) s->centre = *centre;
  s->radius = radius;
  s->parameter = 1.0f;
  s->colour = colour;
  ++list.count;
  return s;
}

LightSphere* lightsphere_create_one_frame(uint32_t owner, const Vec3* centre, float radius, uint32_t colour) {
  LightSphere* s = lightsphere_create(owner, centre, radius, colour);
  lightsphere_mark_for_reap(s);
  return s;
}

void lightsphere_mark_for_reap(LightSphere* s) {
  if (s != nullptr) s->flags |= kLightSphereReap;
}

void lightsphere_release(LightSphere* s) {
  if (s == nullptr || (s->flags & kLightSphereInUse) == 0) return;
  s->flags &= ~(kLightSphereInUse | kLightSpherePending);
  unlink_used(s);
  push_front(&list.free, s);
  --list.count;
}

void lightsphere_release_of_owner(uint32_t owner) {
  if (owner == 0) return;
  for (LightSphere* s = list.used; s != nullptr;) {
    LightSphere* next = s->next;
    if (s->owner == owner) lightsphere_release(s);
    s = next;
  }
}

void lightsphere_update_frame() {
  // The pass works on the records live when it starts: a callback may
  // release any record (its own successor included) or create new ones, and
  // every record still live gets its turn once. Records made during the pass
  // are zeroed by their creation and so carry no pending mark.
  LightSphere* pending[kLightSpherePoolSize];
  int n = 0;
  for (LightSphere* s = list.used; s != nullptr && n < kLightSpherePoolSize; s = s->next) {
    s->flags |= kLightSpherePending;
    pending[n++] = s;
  }
  for (int i = 0; i < n; ++i) {
    LightSphere* s = pending[i];
    if ((s->flags & (kLightSphereInUse | kLightSpherePending)) != (kLightSphereInUse | kLightSpherePending)) continue;
    s->flags &= ~kLightSpherePending;
    const bool done = s->update != nullptr && s->update(s) != 0;
    refresh_float_colour(s);
    if (done) {
      if (s->finish != nullptr) s->finish(s);
      lightsphere_release(s);
    }
  }
}

bool lightsphere_in_frustum(const Plane* planes, const Vec3* c, float radius) {
  for (int i = 0; i < kFrustumPlaneCount; ++i) {
    if (plane_dot_point(&planes[i], c) < -radius) return false;
  }
  return true;
}

void lightsphere_cull_views() {
  list.visible_count[0] = list.visible_count[1] = 0;
  if (list.used == nullptr) return;
  for (int view = 0; view < 2; ++view) {
    const Plane* planes = get_view_frustum_1(view);
    for (LightSphere* s = list.used; s != nullptr; s = s->next) {
      if (!lightsphere_in_frustum(planes, &s->centre, s->radius)) continue;
      s->radius_sq = s->radius * s->radius;
      list.visible[view][list.visible_count[view]++] = s;
    }
  }
}

int lightsphere_query_near(LightSphere** out, int n, uint32_t view, const Vec3* point, float radius) {
  if (view > 1 || point == nullptr) return 0;
  const Vec3 eye = *get_camera_eye(static_cast<int>(view));
  int candidates = 0;
  for (int i = 0; i < list.visible_count[view]; ++i) {
    LightSphere* s = list.visible[view][i];
    const float d = vec3_distance_sq(point, &s->centre);
    s->sort_value = d;
    if (d > radius * radius + s->radius_sq) continue;
    s->sort_value = d + vec3_distance_sq(&eye, &s->centre);
    list.scratch[candidates++] = s;
  }
  if (candidates == 0) return 0;
  // A strict ordering; equal sums come out in no defined order.
  std::sort(list.scratch, list.scratch + candidates,
            [](const LightSphere* a, const LightSphere* b) { return a->sort_value < b->sort_value; });
  const int count = std::min(candidates, std::max(n, 0));
  for (int i = 0; i < count; ++i) out[i] = list.scratch[i];
  return count;
}

void lightsphere_reap() {
  for (LightSphere* s = list.used; s != nullptr;) {
    LightSphere* next = s->next;
    if (s->flags & kLightSphereReap) lightsphere_release(s);
    s = next;
  }
}

int lightsphere_count() { return list.count; }

void lightsphere_set_debug(uint32_t on) { list.debug = on & 1u; }

const LightSphereList* lightsphere_list() { return &list; }
