#include "scene3d/sphere_world.h"

#include <cmath>
#include <cstring>

#include "assets/model_records.h"
#include "math/geometry.h"
#include "scene3d/ray_collision.h"

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

constexpr float kQueryNoHit = 1e14f;
constexpr float kEdgeNoHit = 1e13f;
constexpr float kHalfPi = 1.5707963705062866f;

// One sphere a query tests: a sphere of the object, or its own sphere.
struct QuerySphere {
  const SphereWorldObject* object;
  Vec3 centre;
  float radius;
};

// Runs visit over the spheres of every object whose group meets the mask;
// visit returns false to stop.
template <typename Visit>
void for_each_query_sphere(uint32_t mask, bool per_sphere, Visit visit) {
  for (const SphereWorldObject* o = world.used; o != nullptr; o = o->next) {
    if ((o->group & mask & kSphereGroupBits) == 0) continue;
    if (!per_sphere) {
      if (!visit(QuerySphere{o, position_of(o->matrix), o->radius})) return;
      continue;
    }
    for (const SphereWorldSphere* s = o->spheres; s != nullptr; s = s->next) {
      const Vec3 centre = s->matrix != nullptr ? s->world_centre : s->local_centre;
      if (!visit(QuerySphere{o, centre, s->radius})) return;
    }
  }
}

// The weight of a contact at distance d from the centre of a sphere of
// radius r: r at the centre, 0 at reach.
float contact_weight(float d, float r) { return r * std::cos(kHalfPi * (r == 0.0f ? 1.0f : d / r)); }

// The triangle against one sphere: the contact point and its weight.
bool triangle_test(const Vec3* const corners[3], const Vec3* n, const Vec3* p, float r, Vec3* contact,
                   float* weight) {
  Vec3 ap;
  vec3_sub(&ap, p, corners[0]);
  const float s = vec3_dot(&ap, n);
  if (std::fabs(s) > r) return false;
  Vec3 q;
  vec3_madd(&q, p, n, -s);
  bool inside = true;
  for (int i = 0; i < 3 && inside; ++i) {
    Vec3 edge, to_q, cross;
    vec3_sub(&edge, corners[(i + 1) % 3], corners[i]);
    vec3_sub(&to_q, &q, corners[i]);
    vec3_cross(&cross, &edge, &to_q);
    inside = vec3_dot(&cross, n) >= 0.0f;
  }
  if (inside) {
    *contact = q;
    *weight = contact_weight(std::fabs(s), r);
    return true;
  }
  float best = kEdgeNoHit;
  int edge = -1;
  for (int i = 0; i < 3; ++i) {
    const Vec3* a = corners[i];
    const Vec3* b = corners[(i + 1) % 3];
    if (!sphereworld_segment_hits_sphere(a, b, p, r)) continue;
    const float d2 = sphereworld_point_line_distance_sq(p, a, b);
    if (d2 < best) {
      best = d2;
      edge = i;
    }
  }
  if (edge < 0) return false;
  const Vec3* a = corners[edge];
  const Vec3* b = corners[(edge + 1) % 3];
  Vec3 e, w;
  vec3_sub(&e, b, a);
  vec3_sub(&w, p, a);
  const float len = vec3_length(&e);
  // A degenerate edge puts the contact at its start.
  const float t = len < 1e-5f ? 0.0f : clamp01(vec3_dot(&w, &e) / len / len);
  vec3_madd(contact, a, &e, t);
  *weight = contact_weight(std::sqrt(best), r);
  return true;
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

float sphereworld_point_line_distance_sq(const Vec3* p, const Vec3* a, const Vec3* b) {
  return point_line_distance_sq(a, b, p);
}

bool sphereworld_segment_hits_sphere(const Vec3* a, const Vec3* b, const Vec3* p, float r) {
  Vec3 e, w;
  vec3_sub(&e, b, a);
  vec3_sub(&w, p, a);
  const float t = vec3_dot(&e, &w);
  const float w2 = vec3_dot(&w, &w);
  if (t < 0.0f) return w2 <= r * r;
  const float l2 = vec3_dot(&e, &e);
  if (l2 > t) return w2 - t * t / l2 <= r * r;
  return vec3_distance_sq(p, b) <= r * r;
}

bool sphereworld_query_triangle(const Vec3* a, const Vec3* b, const Vec3* c, const Vec3* normal,
                                Vec3* out_point, float* out_weight, uint32_t mask, bool per_sphere) {
  if (a == nullptr || b == nullptr || c == nullptr) return false;
  Vec3 n;
  if (normal != nullptr) {
    n = *normal;
  } else {
    Vec3 ab, ac;
    vec3_sub(&ab, b, a);
    vec3_sub(&ac, c, a);
    vec3_cross(&n, &ab, &ac);
    vec3_normalize(&n, &n);
  }
  const Vec3* const corners[3] = {a, b, c};
  bool found = false;
  float best = kQueryNoHit, best_weight = 0.0f;
  Vec3 best_point{};
  for_each_query_sphere(mask, per_sphere, [&](const QuerySphere& s) {
    Vec3 contact;
    float weight = 0.0f;
    if (triangle_test(corners, &n, &s.centre, s.radius, &contact, &weight)) {
      const float d2 = vec3_distance_sq(&contact, &s.centre);
      if (d2 < best) {
        best = d2;
        best_point = contact;
        best_weight = weight;
        found = true;
      }
    }
    return true;
  });
  if (!found) return false;
  if (out_point != nullptr) *out_point = best_point;
  if (out_weight != nullptr) *out_weight = best_weight;
  return true;
}

bool sphereworld_query_collision_mesh(AssetHandle collision, const Mat4* matrix, Vec3* out_point,
                                      float* out_depth, Vec3* out_normal, uint32_t* out_attribute, uint32_t mask,
                                      bool per_sphere) {
  const CollisionRecord* rec = get_collision_record(collision);
  if (rec == nullptr) return false;
  bool found = false;
  float best = kQueryNoHit, best_depth = 0.0f;
  Vec3 best_point{}, best_normal{};
  uint32_t best_attribute = 0;
  for_each_query_sphere(mask, per_sphere, [&](const QuerySphere& s) {
    Vec3 contact, normal;
    float depth = 0.0f;
    uint32_t attribute = 0;
    if (sphere_cast_model(rec, matrix, &s.centre, s.radius, &contact, &depth, &normal, &attribute)) {
      const Vec3 position = position_of(s.object->matrix);
      const float d2 = vec3_distance_sq(&contact, &position);
      if (d2 < best) {
        best = d2;
        best_point = contact;
        best_depth = depth;
        best_normal = normal;
        best_attribute = attribute;
        found = true;
      }
    }
    return true;
  });
  if (!found) return false;
  if (out_point != nullptr) *out_point = best_point;
  if (out_depth != nullptr) *out_depth = best_depth;
  if (out_normal != nullptr) *out_normal = best_normal;
  if (out_attribute != nullptr) *out_attribute = best_attribute;
  return true;
}

bool sphereworld_query_sphere(const Vec3* centre, float radius, Vec3* out_point, uint32_t mask, bool per_sphere) {
  if (centre == nullptr) return false;
  bool found = false;
  float best = kQueryNoHit;
  Vec3 best_point{};
  for_each_query_sphere(mask, per_sphere, [&](const QuerySphere& s) {
    const float reach = radius + s.radius;
    if (!(vec3_distance_sq(&s.centre, centre) <= reach * reach)) return true;
    if (out_point == nullptr) {
      found = true;
      return false;
    }
    const Vec3 position = position_of(s.object->matrix);
    const float d2 = vec3_distance_sq(&position, centre);
    if (d2 < best) {
      Vec3 toward;
      vec3_sub(&toward, centre, &s.centre);
      vec3_normalize(&toward, &toward);
      vec3_madd(&best_point, &s.centre, &toward, s.radius);
      best = d2;
      found = true;
    }
    return true;
  });
  if (found && out_point != nullptr) *out_point = best_point;
  return found;
}
