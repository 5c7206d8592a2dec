#include "scene3d/sphere_world.h"

#include <cmath>
#include <cstring>

#include "assets/model_records.h"

namespace {

SphereWorld world;

float length_sq(const Vec3* v) {
  const float sq = vec3_length_sq(v);
  return sq < 1e-10f ? 0.0f : sq;
}

Vec3 position_of(const Mat4* m) { return m != nullptr ? Vec3{m->m[12], m->m[13], m->m[14]} : Vec3{0, 0, 0}; }

// One sphere of a pair: its centre (moved by the resolve), the matrix whose
// position the other side is pushed away from, and its radius.
struct PairSide {
  Vec3* centre;
  const Mat4* matrix;
  float radius;
};

// The sphere table of a set payload: word 1 its offset, word 2 the count,
// 16 bytes a sphere {radius, x, y, z}. Null when it does not lie inside the
// payload.
const uint8_t* sphere_table(const SphereSetRecord* set, uint32_t* count) {
  if (set == nullptr || set->data == nullptr || set->size < 12) return nullptr;
  uint32_t offset = 0, n = 0;
  std::memcpy(&offset, set->data + 4, 4);
  std::memcpy(&n, set->data + 8, 4);
  if (static_cast<uint64_t>(offset) + static_cast<uint64_t>(n) * 16 > set->size) return nullptr;
  *count = n;
  return set->data + offset;
}

void link_pools() {
  for (int i = 0; i < kSphereWorldObjects; ++i) {
    world.objects[i].prev = i > 0 ? &world.objects[i - 1] : nullptr;
    world.objects[i].next = i + 1 < kSphereWorldObjects ? &world.objects[i + 1] : nullptr;
  }
  for (int i = 0; i < kSphereWorldSpheres; ++i) {
    world.spheres[i].prev = i > 0 ? &world.spheres[i - 1] : nullptr;
    world.spheres[i].next = i + 1 < kSphereWorldSpheres ? &world.spheres[i + 1] : nullptr;
  }
  world.free_objects = &world.objects[0];
  world.free_spheres = &world.spheres[0];
}

void move_object(SphereWorldObject* o, const Vec3* d) {
  for (SphereWorldSphere* s = o->spheres; s != nullptr; s = s->next) vec3_add(&s->world_centre, &s->world_centre, d);
  vec3_add(&o->push, &o->push, d);
}

// Tests one sphere pair and pushes both objects apart by mass. True on
// contact.
bool resolve_pair(SphereWorldObject* a, const PairSide& sa, bool movable_a, SphereWorldObject* b,
                  const PairSide& sb, bool movable_b) {
  Vec3 d;
  vec3_sub(&d, sb.centre, sa.centre);
  const float d2 = length_sq(&d);
  const float r = sa.radius + sb.radius;
  if (!(d2 < r * r)) return false;
  if (!movable_a && !movable_b) return true;
  const float pen = std::sqrt(d2) - r;
  float share_a = 0.0f, share_b = 0.0f;
  const float mass_sum = a->mass + b->mass;
  if (mass_sum != 0.0f) {
    const float ratio = a->mass / mass_sum;
    if (movable_a) share_a = (1.0f - ratio) * pen;
    if (movable_b) share_b = pen * ratio;
  }
  const Vec3 pos_a = position_of(sa.matrix), pos_b = position_of(sb.matrix);
  Vec3 to_b, to_a, push_a, push_b;
  vec3_sub(&to_b, &pos_b, sa.centre);
  vec3_normalize(&to_b, &to_b);
  vec3_sub(&to_a, &pos_a, sb.centre);
  vec3_normalize(&to_a, &to_a);
  vec3_scale(&push_a, &to_b, share_a);
  vec3_scale(&push_b, &to_a, share_b);
  move_object(a, &push_a);
  move_object(b, &push_b);
  return true;
}

bool resolve(SphereWorldObject* a, SphereWorldObject* b) {
  bool movable_a = (a->group & kSphereMovable) != 0, movable_b = (b->group & kSphereMovable) != 0;
  if ((a->group | b->group) & kSphereContactOnly) movable_a = movable_b = false;
  // An object without spheres takes part as its own sphere around its
  // position; the copy moves with the pushes of this step only.
  Vec3 own_a = position_of(a->matrix), own_b = position_of(b->matrix);
  bool contact = false;
  if (a->spheres != nullptr) {
    for (SphereWorldSphere* s = a->spheres; s != nullptr; s = s->next) {
      const PairSide sa{&s->world_centre, s->matrix, s->radius};
      if (b->spheres != nullptr) {
        for (SphereWorldSphere* t = b->spheres; t != nullptr; t = t->next) {
          contact |= resolve_pair(a, sa, movable_a, b, PairSide{&t->world_centre, t->matrix, t->radius}, movable_b);
        }
      } else {
        contact |= resolve_pair(a, sa, movable_a, b, PairSide{&own_b, b->matrix, b->radius}, movable_b);
      }
    }
  } else if (b->spheres != nullptr) {
    for (SphereWorldSphere* t = b->spheres; t != nullptr; t = t->next) {
      contact |= resolve_pair(a, PairSide{&own_a, a->matrix, a->radius}, movable_a, b,
                              PairSide{&t->world_centre, t->matrix, t->radius}, movable_b);
    }
  } else {
    contact = resolve_pair(a, PairSide{&own_a, a->matrix, a->radius}, movable_a, b,
                           PairSide{&own_b, b->matrix, b->radius}, movable_b);
  }
  return contact;
}

}  // namespace

void sphereworld_reset() {
  std::memset(static_cast<void*>(&world), 0, sizeof(world));
  link_pools();
  world.initialised = 1;
}

void sphereworld_init() { sphereworld_reset(); }
void sphereworld_release_all() { sphereworld_reset(); }
void sphereworld_shutdown() { sphereworld_release_all(); }

void sphereworld_update() {
  if (world.used == nullptr) return;
  for (SphereWorldObject* o = world.used; o != nullptr; o = o->next) {
    o->push = Vec3{0, 0, 0};
    o->contacts = 0;
    for (SphereWorldSphere* s = o->spheres; s != nullptr; s = s->next) {
      if (s->matrix != nullptr) mat4_transform_point(&s->world_centre, s->matrix, &s->local_centre);
      else s->world_centre = s->local_centre;
    }
  }
  for (SphereWorldObject* a = world.used; a != nullptr; a = a->next) {
    if ((a->flags & kSphereObjectActive) == 0) continue;
    for (SphereWorldObject* b = world.used; b != a; b = b->next) {
      if ((b->flags & kSphereObjectActive) == 0) continue;
      if ((a->mask & b->group & kSphereGroupBits) == 0 || (b->mask & a->group & kSphereGroupBits) == 0) continue;
      const Vec3 pa = position_of(a->matrix), pb = position_of(b->matrix);
      const float r = a->radius + b->radius;
      const float dx = pb.x - pa.x, dz = pb.z - pa.z, dy = pb.y - pa.y;
      if (std::fabs(dx) > r || std::fabs(dz) > r || std::fabs(dy) > r) continue;
      if (!(dx * dx + dy * dy + dz * dz < r * r)) continue;
      if (resolve(a, b)) {
        a->contacts |= b->group & kSphereGroupBits;
        b->contacts |= a->group & kSphereGroupBits;
      }
    }
  }
}

SphereWorldSphere* sphereworld_alloc_spheres(int n) {
  if (!world.initialised || n < 1 || world.sphere_count + static_cast<uint32_t>(n) > kSphereWorldSpheres) {
    return nullptr;
  }
  SphereWorldSphere* first = world.free_spheres;
  SphereWorldSphere* last = first;
  for (int i = 1; i < n && last != nullptr; ++i) last = last->next;
  if (last == nullptr) return nullptr;
  world.free_spheres = last->next;
  if (world.free_spheres != nullptr) world.free_spheres->prev = nullptr;
  for (SphereWorldSphere* s = first; s != nullptr;) {
    SphereWorldSphere* next = s == last ? nullptr : s->next;
    SphereWorldSphere* prev = s == first ? nullptr : s->prev;
    std::memset(static_cast<void*>(s), 0, sizeof(*s));
    s->prev = prev;
    s->next = next;
    s = next;
  }
  world.sphere_count += static_cast<uint32_t>(n);
  return first;
}

void sphereworld_free_spheres(SphereWorldSphere* chain) {
  while (chain != nullptr) {
    SphereWorldSphere* next = chain->next;
    chain->prev = nullptr;
    chain->next = world.free_spheres;
    if (world.free_spheres != nullptr) world.free_spheres->prev = chain;
    world.free_spheres = chain;
    --world.sphere_count;
    chain = next;
  }
}

SphereWorldObject* sphereworld_create_object(const SphereSetRecord* set, const Mat4* matrix, uint32_t group,
                                             uint32_t mask, float radius) {
  SphereWorldObject* o = world.free_objects;
  if (o == nullptr) return nullptr;
  world.free_objects = o->next;
  if (world.free_objects != nullptr) world.free_objects->prev = nullptr;
  std::memset(static_cast<void*>(o), 0, sizeof(*o));
  o->next = world.used;
  if (world.used != nullptr) world.used->prev = o;
  world.used = o;
  o->flags = kSphereObjectActive;
  o->group = group;
  o->mask = mask;
  o->set = set;
  o->matrix = matrix;
  o->mass = kSphereDefaultMass;
  o->radius = radius;
  uint32_t count = 0;
  const uint8_t* table = sphere_table(set, &count);
  if (table != nullptr && count > 0 && count <= kSphereWorldSpheres) {
    o->spheres = sphereworld_alloc_spheres(static_cast<int>(count));
    if (o->spheres != nullptr) {
      o->sphere_count = count;
      const uint8_t* entry = table;
      for (SphereWorldSphere* s = o->spheres; s != nullptr; s = s->next, entry += 16) {
        float f[4];
        std::memcpy(f, entry, sizeof(f));
        s->radius = f[0];
        s->local_centre = Vec3{f[1], f[2], f[3]};
        s->reach = std::sqrt(length_sq(&s->local_centre)) + s->radius;
        s->matrix = matrix;
        s->offset = &o->offset;
      }
    }
  }
  ++world.object_count;
  return o;
}

SphereWorldObject* sphereworld_create_object_from_set(uint32_t sphere_set, const Mat4* matrix, uint32_t group,
                                                      uint32_t mask) {
  const SphereSetRecord* set = get_sphere_set_record(sphere_set);
  if (set == nullptr) return nullptr;
  return sphereworld_create_object(set, matrix, group, mask, set->bounding_radius);
}

void sphereworld_release_object(SphereWorldObject* o) {
  if (o == nullptr || (o->flags & kSphereObjectActive) == 0) return;
  sphereworld_free_spheres(o->spheres);
  o->spheres = nullptr;
  o->sphere_count = 0;
  o->flags &= ~kSphereObjectActive;
  if (o->prev != nullptr) o->prev->next = o->next;
  else world.used = o->next;
  if (o->next != nullptr) o->next->prev = o->prev;
  o->prev = nullptr;
  o->next = world.free_objects;
  if (world.free_objects != nullptr) world.free_objects->prev = o;
  world.free_objects = o;
  --world.object_count;
}

bool sphereworld_object_contacts(const SphereWorldObject* o, Vec3* out_push, uint32_t* out_contacts) {
  if (o == nullptr) return false;
  if (out_push != nullptr) *out_push = o->push;
  if (out_contacts != nullptr) *out_contacts = o->contacts;
  return o->contacts != 0;
}

void sphereworld_set_offset(SphereWorldObject* o, const Vec3* offset) {
  if (o != nullptr && offset != nullptr) o->offset = *offset;
}

bool sphereworld_any_contact(uint32_t mask) {
  for (const SphereWorldObject* o = world.used; o != nullptr; o = o->next) {
    if (o->contacts & mask) return true;
  }
  return false;
}

uint32_t sphereworld_object_count() { return world.object_count; }
uint32_t sphereworld_sphere_count() { return world.sphere_count; }
