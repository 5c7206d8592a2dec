#include "scene3d/collision_world.h"

#include <cmath>
#include <cstring>

#include "render/view/view_matrices.h"

namespace {

CollisionWorld world;

void take_planes() {
  if (world.custom_frustum) {
    Mat4 projection, view_projection;
    mat4_perspective_from_frustum(&projection, &world.frustum);
    mat4_multiply(&view_projection, &projection, get_view_matrix(0));  // the view first
    frustum_planes_from_matrix(world.planes, &view_projection);
  } else {
    std::memcpy(world.planes, get_view_frustum_1(0), sizeof(world.planes));
  }
}

void move_body(CollisionBody* b, float dx, float dz) {
  b->position.x += dx;
  b->position.z += dz;
  b->push.x += dx;
  b->push.z += dz;
}

// The unit XZ direction from one point to another; false when they share x
// and z.
bool xz_direction(const Vec3* from, const Vec3* to, float* dx, float* dz) {
  const float x = to->x - from->x, z = to->z - from->z;
  const float len = std::sqrt(x * x + z * z);
  if (len == 0.0f) return false;
  *dx = x / len;
  *dz = z / len;
  return true;
}

// Pushes an overlapping pair apart; true when the pair overlaps.
bool separate(CollisionBody* a, CollisionBody* b) {
  bool moves_a = (a->group & kBodyMovable) != 0, moves_b = (b->group & kBodyMovable) != 0;
  if ((a->group | b->group) & kBodyFixedPair) moves_a = moves_b = false;
  const float dy = a->position.y - b->position.y;
  const float hsum = a->height + b->height;
  if (hsum * hsum < dy * dy) return false;
  const float dx = a->position.x - b->position.x, dz = a->position.z - b->position.z;
  const float d2 = dx * dx + dz * dz;
  const float rsum = a->radius + b->radius;
  if (!(d2 < rsum * rsum)) return false;
  if (!moves_a && !moves_b) return true;
  const float pen = std::sqrt(d2) - rsum;
  const float wsum = a->weight + b->weight;
  if (wsum == 0.0f) return true;
  const float ratio = a->weight / wsum;
  const float share_a = moves_a ? (1.0f - ratio) * pen : 0.0f;
  const float share_b = moves_b ? pen * ratio : 0.0f;
  float ux = 0, uz = 0;
  if (xz_direction(&a->position, &b->position, &ux, &uz)) {
    move_body(a, ux * share_a, uz * share_a);
    move_body(b, -ux * share_b, -uz * share_b);
  }
  return true;
}

// Moves a bounded body back inside any plane it is closer to than its
// radius, in x and z only.
void keep_inside(CollisionBody* b) {
  for (const Plane& plane : world.planes) {
    Plane unit;
    plane_normalize(&unit, &plane);
    const float distance = plane_dot_point(&unit, &b->position);
    if (distance < 0.0f || distance >= b->radius) continue;
    const float move = b->radius - distance;
    move_body(b, unit.a * move, unit.c * move);
  }
}

}  // namespace

void collworld_clear() {
  std::memset(static_cast<void*>(&world), 0, sizeof(world));
  for (int i = 0; i < kCollisionBodies; ++i) {
    world.bodies[i].prev = i > 0 ? &world.bodies[i - 1] : nullptr;
    world.bodies[i].next = i + 1 < kCollisionBodies ? &world.bodies[i + 1] : nullptr;
  }
  world.free = &world.bodies[0];
}

void collworld_init() { collworld_clear(); }
void collworld_shutdown() { collworld_clear(); }
void collworld_reset() { collworld_clear(); }

void collworld_step() {
  if (world.used == nullptr) return;
  take_planes();
  for (CollisionBody* b = world.used; b != nullptr; b = b->next) {
    if (b->owner != nullptr) mat4_transform_point(&b->position, b->owner, &b->local);
    else b->position = b->local;
    b->push = Vec3{0, 0, 0};
    b->contacts = 0;
  }
  for (CollisionBody* a = world.used; a != nullptr; a = a->next) {
    if ((a->flags & kBodyInUse) == 0) continue;
    for (CollisionBody* b = world.used; b != a; b = b->next) {
      if ((b->flags & kBodyInUse) == 0) continue;
      if ((a->mask & b->group & kBodyGroupBits) == 0 || (b->mask & a->group & kBodyGroupBits) == 0) continue;
      if (separate(a, b)) {
        a->contacts |= b->group & kBodyGroupBits;
        b->contacts |= a->group & kBodyGroupBits;
      }
    }
  }
  for (CollisionBody* b = world.used; b != nullptr; b = b->next) {
    if (b->flags & kBodyBounded) keep_inside(b);
  }
}

void collworld_set_frustum(const Frustum* frustum) {
  if (frustum != nullptr) {
    world.frustum = *frustum;
    world.custom_frustum = 1;
  } else {
    world.custom_frustum = 0;
  }
}

CollisionBody* collworld_body_create(const Mat4* owner, float radius, float half_height, const Vec3* local,
                                     uint32_t group, uint32_t mask) {
  CollisionBody* b = world.free;
  if (b == nullptr) return nullptr;
  world.free = b->next;
  if (world.free != nullptr) world.free->prev = nullptr;
  std::memset(static_cast<void*>(b), 0, sizeof(*b));
  b->next = world.used;
  if (world.used != nullptr) world.used->prev = b;
  world.used = b;
  b->flags = kBodyInUse;
  b->group = group;
  b->mask = mask;
  b->owner = owner;
  if (local != nullptr) b->local = *local;
  b->radius = radius;
  b->height = half_height;
  b->weight = kBodyDefaultWeight;
  ++world.count;
  return b;
}

void collworld_body_release(CollisionBody* b) {
  if (b == nullptr || (b->flags & kBodyInUse) == 0) return;
  b->flags &= ~kBodyInUse;
  if (b->prev != nullptr) b->prev->next = b->next;
  else world.used = b->next;
  if (b->next != nullptr) b->next->prev = b->prev;
  b->prev = nullptr;
  b->next = world.free;
  if (world.free != nullptr) world.free->prev = b;
  world.free = b;
  --world.count;
}

bool collworld_body_push(const CollisionBody* b, Vec3* out_push) {
  if (b == nullptr) return false;
  if (out_push != nullptr) *out_push = b->push;
  return b->contacts != 0;
}

uint32_t collworld_count() { return world.count; }
