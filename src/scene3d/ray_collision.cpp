#include "scene3d/ray_collision.h"

#include <cmath>
#include <cstring>

#include "assets/model_records.h"
#include "scene3d/ray_collision_internal.h"

namespace {

RayCollisionBlock block;

template <typename T>
void push_front(T** head, T* item) {
  item->prev = nullptr;
  item->next = *head;
  if (*head != nullptr) (*head)->prev = item;
  *head = item;
}

template <typename T>
void unlink(T** head, T* item) {
  if (item->prev != nullptr) item->prev->next = item->next;
  else *head = item->next;
  if (item->next != nullptr) item->next->prev = item->prev;
  item->prev = item->next = nullptr;
}

template <typename T>
T* pop_free(T** head) {
  T* item = *head;
  if (item == nullptr) return nullptr;
  *head = item->next;
  if (*head != nullptr) (*head)->prev = nullptr;
  return item;
}

template <typename T, int N>
T* link_free_list(T (&pool)[N]) {
  for (int i = 0; i < N; ++i) {
    pool[i].prev = i > 0 ? &pool[i - 1] : nullptr;
    pool[i].next = i + 1 < N ? &pool[i + 1] : nullptr;
  }
  return &pool[0];
}

uint32_t probe_lifetime(const RayProbe* p) { return (p->flags & kProbeLifetimeMask) >> kProbeLifetimeShift; }

void set_probe_lifetime(RayProbe* p, uint32_t lifetime) {
  p->flags = (p->flags & ~kProbeLifetimeMask) | ((lifetime << kProbeLifetimeShift) & kProbeLifetimeMask);
}

constexpr float kCastNoHit = 999.0f;
constexpr float kDownReach = -10000.0f;

bool category_passes(uint32_t filter, uint32_t category) { return filter == kCategoryAll || filter == category; }

// The bounding sphere of a collision payload: words 11-13 its centre, word
// 15 its radius. False when the payload is too short to hold them.
bool model_bounds(const CollisionRecord* rec, Vec3* centre, float* radius) {
  const PayloadView v{rec->data, rec->size};
  return v.f32_at(44, &centre->x) && v.f32_at(48, &centre->y) && v.f32_at(52, &centre->z) && v.f32_at(60, radius);
}

// A collider the segment casts may test.
bool cast_candidate(const Collider* c, uint16_t exclude_serial, uint32_t category_filter) {
  return (c->flags & kColliderEnabled) && c->serial != exclude_serial && category_passes(category_filter, c->category);
}

// The owner's position, or the origin without an owner.
Vec3 owner_position(const Mat4* owner) {
  return owner != nullptr ? Vec3{owner->m[12], owner->m[13], owner->m[14]} : Vec3{0, 0, 0};
}

Vec3 sphere_centre(const Collider* c) {
  if (c->owner == nullptr) return (c->flags & kColliderOffset) ? c->centre : Vec3{0, 0, 0};
  if ((c->flags & kColliderOffset) == 0) return owner_position(c->owner);
  Vec3 out;
  mat4_transform_point(&out, c->owner, &c->centre);
  return out;
}

void record_hit(RayProbe* probe, const Collider* c, float t, const Vec3* point, const Vec3* normal,
                uint32_t attribute) {
  probe->hit.point = *point;
  probe->hit.normal[0] = normal->x;
  probe->hit.normal[1] = normal->y;
  probe->hit.normal[2] = normal->z;
  probe->hit.attribute = attribute;
  probe->hit.category = c->category;
  probe->hit.hit_user_a = c->user_a;
  probe->hit.hit_user_b = c->user_b;
  probe->distance = t;
  probe->hit_collider = const_cast<Collider*>(c);
}

// Probes against one model collider, culled by its bounding sphere placed
// and scaled by the owner.
void model_probe_pass(Collider* c) {
  Vec3 centre = c->centre;
  float radius = c->radius;
  if (c->owner != nullptr) {
    mat4_transform_point(&centre, c->owner, &c->centre);
    radius *= mat4_max_axis_scale(c->owner);
  }
  for (RayProbe* p = block.probe_used; p != nullptr; p = p->next) {
    if ((p->flags & kProbeInUse) == 0 || !category_passes(p->category_filter, c->category)) continue;
    if (!ray_passes_within(&p->origin, &p->vector, &centre, radius)) continue;
    ModelHit hit;
    if (!ray_intersect_model(c->model, c->owner, &p->origin, &p->vector, &hit) || !(hit.t < p->distance)) continue;
    Vec3 point;
    vec3_madd(&point, &p->origin, &p->vector, hit.t);
    record_hit(p, c, hit.t, &point, &hit.normal, hit.attribute);
  }
}

void probe_pass() {
  for (RayProbe* p = block.probe_used; p != nullptr; p = p->next) {
    p->flags &= ~kProbeHit;
    p->distance = kProbeNoHit;
    p->hit_collider = nullptr;
  }
  if (block.probe_count == 0) {
    for (Collider* c = block.collider_used; c != nullptr; c = c->next) c->hit_count = 0;
    return;
  }
  for (Collider* c = block.collider_used; c != nullptr; c = c->next) {
    c->hit_count = 0;
    if ((c->flags & kColliderEnabled) == 0) continue;
    if (c->model != nullptr) {
      model_probe_pass(c);
      continue;
    }
    for (RayProbe* p = block.probe_used; p != nullptr; p = p->next) {
      if ((p->flags & kProbeInUse) == 0 || !category_passes(p->category_filter, c->category)) continue;
      float t = 0;
      Vec3 point, normal;
      if (collider_test_sphere(c, &p->origin, &p->vector, &t, &point, &normal) && t < p->distance) {
        record_hit(p, c, t, &point, &normal, 0);
      }
    }
  }
  for (RayProbe* p = block.probe_used; p != nullptr; p = p->next) {
    if ((p->flags & kProbeInUse) == 0 || p->hit_collider == nullptr) continue;
    p->flags |= kProbeHit;
    p->hit_collider->flags |= kColliderProbeHit;
    ++p->hit_collider->hit_count;
  }
}

RayProbe* probe_take(const Vec3* origin, const Vec3* vector, float length, uintptr_t user_a, uintptr_t user_b,
                     uint32_t category_filter) {
  RayProbe* p = pop_free(&block.probe_free);
  if (p == nullptr) return nullptr;
  std::memset(static_cast<void*>(p), 0, sizeof(*p));
  push_front(&block.probe_used, p);
  p->flags = kProbeInUse;
  if (origin != nullptr) p->origin = *origin;
  if (vector != nullptr) p->vector = *vector;
  p->length = length;
  p->hit.user_a = user_a;
  p->hit.user_b = user_b;
  p->distance = kProbeNoHit;
  p->category_filter = category_filter;
  ++block.probe_count;
  return p;
}

// The nearest hit of the segment over the colliders the casts may test.
struct CastHit {
  float t;
  ModelHit model;
  bool sphere;
  Vec3 sphere_normal;
};

bool cast_colliders(const Vec3* origin, const Vec3* vector, bool spheres, uint16_t exclude_serial,
                    uint32_t category_filter, CastHit* out) {
  if (origin == nullptr || vector == nullptr) return false;
  bool found = false;
  out->t = kCastNoHit;
  for (const Collider* c = block.collider_used; c != nullptr; c = c->next) {
    if (!cast_candidate(c, exclude_serial, category_filter)) continue;
    if (c->model != nullptr) {
      ModelHit hit;
      if (ray_intersect_model(c->model, c->owner, origin, vector, &hit) && hit.t < out->t) {
        out->t = hit.t;
        out->model = hit;
        out->sphere = false;
        found = true;
      }
    } else if (spheres) {
      float t = 0.0f;
      Vec3 normal;
      if (collider_test_sphere(c, origin, vector, &t, nullptr, &normal) && t < out->t) {
        out->t = t;
        out->sphere = true;
        out->sphere_normal = normal;
        found = true;
      }
    }
  }
  return found;
}

}  // namespace

RayCollisionBlock* raycol_block() { return &block; }

void raycol_reset_pools() {
  std::memset(static_cast<void*>(&block), 0, sizeof(block));
  block.collider_free = link_free_list(block.colliders);
  block.probe_free = link_free_list(block.probes);
}

void raycol_init() { raycol_reset_pools(); }
void raycol_release() { raycol_reset_pools(); }
void raycol_clear() { raycol_reset_pools(); }

void raycol_update_frame() {
  for (RayProbe* p = block.probe_used; p != nullptr;) {
    RayProbe* next = p->next;
    const uint32_t lifetime = probe_lifetime(p);
    if ((p->flags & kProbeInUse) && lifetime > 0) {
      set_probe_lifetime(p, lifetime - 1);
      if (lifetime == 1) ray_probe_release(p);
    }
    p = next;
  }
  if (block.collider_count > 0) probe_pass();
  for (RayProbe* p = block.probe_used; p != nullptr;) {
    RayProbe* next = p->next;
    if ((p->flags & kProbeInUse) && (p->flags & kProbeHit) && p->callback != nullptr) {
      p->callback(&p->hit, p->hit_collider);
    }
    p = next;
  }
}

uint16_t collider_next_serial() {
  block.serial = block.serial >= 65535 ? 1 : static_cast<uint16_t>(block.serial + 1);
  return block.serial;
}

Collider* collider_create_mesh(AssetHandle collision, const Mat4* owner, uint32_t category, uint16_t serial,
                               uintptr_t user_a, uintptr_t user_b) {
  if (get_collision_record(collision) == nullptr || block.collider_free == nullptr) return nullptr;
  Collider* c = pop_free(&block.collider_free);
  std::memset(static_cast<void*>(c), 0, sizeof(*c));
  c->flags = kColliderInUse | kColliderEnabled | kColliderGround;
  c->serial = serial;
  c->owner = owner;
  collider_set_model(c, collision, category, user_a, user_b);
  push_front(&block.collider_used, c);
  ++block.collider_count;
  return c;
}

void collider_set_model(Collider* c, AssetHandle collision, uint32_t category, uintptr_t user_a,
                        uintptr_t user_b) {
  const CollisionRecord* rec = get_collision_record(collision);
  if (c == nullptr || rec == nullptr) return;
  Vec3 centre{0, 0, 0};
  float radius = 0.0f;
  // The registrar checked the header, which holds the bounding sphere.
  model_bounds(rec, &centre, &radius);
  c->user_a = user_a != 0 ? user_a : reinterpret_cast<uintptr_t>(get_collision_name(collision));
  c->user_b = user_b;
  c->category = category;
  c->centre = centre;
  c->radius = radius;
  c->model = rec;
}

Collider* collider_create_sphere(const Vec3* offset, float radius, const Mat4* owner, uint32_t category,
                                 uint16_t serial, uintptr_t user_a, uintptr_t user_b) {
  Collider* c = pop_free(&block.collider_free);
  if (c == nullptr) return nullptr;
  std::memset(static_cast<void*>(c), 0, sizeof(*c));
  c->flags = kColliderInUse | kColliderEnabled | kColliderGround;
  c->serial = serial;
  c->owner = owner;
  collider_set_sphere(c, offset, radius, category, user_a, user_b);
  push_front(&block.collider_used, c);
  ++block.collider_count;
  return c;
}

void collider_set_sphere(Collider* c, const Vec3* offset, float radius, uint32_t category, uintptr_t user_a,
                         uintptr_t user_b) {
  if (c == nullptr) return;
  c->user_a = user_a;
  c->user_b = user_b;
  c->category = category;
  c->radius = radius;
  if (offset != nullptr) {
    c->centre = *offset;
    c->flags |= kColliderOffset;
  } else {
    c->centre = Vec3{0, 0, 0};
    c->flags &= ~kColliderOffset;
  }
  c->model = nullptr;
}

void collider_release(Collider* c) {
  // A chain may only run forward through live colliders; a freed one ends it.
  while (c != nullptr && (c->flags & kColliderInUse)) {
    Collider* chained = c->chained;
    c->flags &= ~(kColliderInUse | kColliderEnabled | kColliderGround);
    c->chained = nullptr;
    unlink(&block.collider_used, c);
    push_front(&block.collider_free, c);
    --block.collider_count;
    c = chained;
  }
}

RayProbe* ray_probe_create(const Vec3* origin, const Vec3* vector, float length, uintptr_t user_a,
                           uintptr_t user_b, uint32_t category_filter) {
  return probe_take(origin, vector, length, user_a, user_b, category_filter);
}

RayProbe* ray_probe_create_timed(const Vec3* origin, const Vec3* vector, float length, uintptr_t user_a,
                                 uintptr_t user_b, RayProbeCallback callback, uint32_t category_filter) {
  RayProbe* p = probe_take(origin, vector, length, user_a, user_b, category_filter);
  if (p == nullptr) return nullptr;
  set_probe_lifetime(p, 2);
  p->callback = callback;
  return p;
}

void ray_probe_release(RayProbe* p) {
  if (p == nullptr || (p->flags & kProbeInUse) == 0) return;
  p->flags &= ~(kProbeInUse | kProbeHit | kProbeLifetimeMask);
  unlink(&block.probe_used, p);
  push_front(&block.probe_free, p);
  --block.probe_count;
}

RayProbe* ray_probe_find_of_owner(const Collider* collider, int n) {
  for (RayProbe* p = block.probe_used; p != nullptr; p = p->next) {
    if (p->hit_collider == collider && n-- == 0) return p;
  }
  return nullptr;
}

bool ray_probe_hit(const RayProbe* p) { return p != nullptr && (p->flags & kProbeHit) != 0; }

bool ray_passes_within(const Vec3* o, const Vec3* v, const Vec3* c, float r) {
  const float vv = vec3_dot(v, v);
  if (vv == 0.0f) return false;
  Vec3 oc;
  vec3_sub(&oc, o, c);
  const float along = vec3_dot(v, &oc);
  float d2 = vec3_dot(&oc, &oc) - along * along / vv;
  if (d2 < 0.0f) d2 = 0.0f;
  return d2 <= r * r;
}

bool segment_passes_within(const Vec3* a, const Vec3* b, const Vec3* c, float r) {
  Vec3 ab, ac;
  vec3_sub(&ab, b, a);
  vec3_sub(&ac, c, a);
  const float len2 = vec3_dot(&ab, &ab);
  const float t = vec3_dot(&ac, &ab);
  if (t <= 0.0f || len2 == 0.0f) return vec3_dot(&ac, &ac) <= r * r;
  if (t >= len2) return vec3_distance_sq(c, b) <= r * r;
  float d2 = vec3_dot(&ac, &ac) - t * t / len2;
  if (d2 < 0.0f) d2 = 0.0f;
  return d2 <= r * r;
}

bool collider_test_sphere(const Collider* c, const Vec3* o, const Vec3* v, float* out_t, Vec3* out_point,
                          Vec3* out_normal) {
  const Vec3 centre = sphere_centre(c);
  Vec3 end;
  vec3_add(&end, o, v);
  if (!segment_passes_within(o, &end, &centre, c->radius)) return false;
  const float a = vec3_dot(v, v);
  if (a <= 1e-9f) return false;
  Vec3 m;
  vec3_sub(&m, o, &centre);
  const float b = vec3_dot(v, &m);
  const float cc = vec3_dot(&m, &m) - c->radius * c->radius;
  const float disc = b * b - a * cc;
  if (disc < 0.0f) return false;
  // A segment that starts inside the sphere hits it at its origin, not at the
  // entry point behind it.
  float t = (-b - std::sqrt(disc)) / a;
  if (t < 0.0f) t = 0.0f;
  Vec3 point, d, normal;
  vec3_madd(&point, o, v, t);
  vec3_sub(&d, &point, &centre);
  vec3_normalize(&normal, &d);
  if (out_t != nullptr) *out_t = t;
  if (out_point != nullptr) *out_point = point;
  if (out_normal != nullptr) *out_normal = normal;
  return true;
}

bool ray_cast_segment(const Vec3* origin, const Vec3* vector, Vec3* out_point, Vec3* out_normal,
                      uint32_t* out_attribute, uint16_t exclude_serial, uint32_t category_filter) {
  CastHit hit;
  if (!cast_colliders(origin, vector, false, exclude_serial, category_filter, &hit)) return false;
  if (out_point != nullptr) vec3_madd(out_point, origin, vector, hit.t);
  if (out_normal != nullptr) *out_normal = hit.model.normal;
  if (out_attribute != nullptr) *out_attribute = hit.model.attribute;
  return true;
}

bool ray_cast_segment_t(const Vec3* origin, const Vec3* vector, float* out_t, Vec3* out_normal,
                        uint32_t* out_attribute, uint16_t exclude_serial, uint32_t category_filter) {
  CastHit hit;
  if (!cast_colliders(origin, vector, true, exclude_serial, category_filter, &hit)) return false;
  if (out_t != nullptr) *out_t = hit.t;
  if (out_normal != nullptr) *out_normal = hit.sphere ? hit.sphere_normal : hit.model.normal;
  if (out_attribute != nullptr) *out_attribute = hit.sphere ? 0 : hit.model.attribute;
  return true;
}

bool ray_cast_segment_ex(const Vec3* origin, const Vec3* vector, Vec3* out_point, Vec3* out_normal,
                         uint32_t* out_attribute, Vec3 out_triangle[3], Vec3 out_leaf_box[2],
                         uint16_t exclude_serial, uint32_t category_filter) {
  CastHit hit;
  if (!cast_colliders(origin, vector, false, exclude_serial, category_filter, &hit)) return false;
  if (out_point != nullptr) vec3_madd(out_point, origin, vector, hit.t);
  if (out_normal != nullptr) *out_normal = hit.model.normal;
  if (out_attribute != nullptr) *out_attribute = hit.model.attribute;
  if (out_triangle != nullptr) {
    for (int k = 0; k < 3; ++k) out_triangle[k] = hit.model.triangle[k];
  }
  if (out_leaf_box != nullptr) {
    out_leaf_box[0] = hit.model.leaf_box[0];
    out_leaf_box[1] = hit.model.leaf_box[1];
  }
  return true;
}

bool ray_cast_down(const Vec3* point, float* out_height, Vec3* out_normal, uint32_t* out_attribute,
                   uint16_t exclude_serial, uint32_t category_filter) {
  if (point == nullptr) return false;
  bool found = false;
  ModelHit best{};
  best.t = kCastNoHit;
  for (const Collider* c = block.collider_used; c != nullptr; c = c->next) {
    if (c->model == nullptr || (c->flags & kColliderGround) == 0 ||
        !cast_candidate(c, exclude_serial, category_filter)) {
      continue;
    }
    ModelHit hit;
    if (ray_intersect_model_down(c->model, c->owner, point, &hit) && hit.t < best.t) {
      best = hit;
      found = true;
    }
  }
  if (!found) return false;
  if (out_height != nullptr) *out_height = point->y + best.t * kDownReach;
  if (out_normal != nullptr) *out_normal = best.normal;
  if (out_attribute != nullptr) *out_attribute = best.attribute;
  return true;
}

bool ray_cast_model(const CollisionRecord* model, const Mat4* matrix, const Vec3* origin, const Vec3* vector,
                    Vec3* out_point, Vec3* out_normal, uint32_t* out_attribute) {
  ModelHit hit;
  if (!ray_intersect_model(model, matrix, origin, vector, &hit)) return false;
  if (out_point != nullptr) vec3_madd(out_point, origin, vector, hit.t);
  if (out_normal != nullptr) *out_normal = hit.normal;
  if (out_attribute != nullptr) *out_attribute = hit.attribute;
  return true;
}

bool ray_cast_model_t(const CollisionRecord* model, const Mat4* matrix, const Vec3* origin, const Vec3* vector,
                      float* out_t, Vec3* out_normal, uint32_t* out_attribute) {
  ModelHit hit;
  if (!ray_intersect_model(model, matrix, origin, vector, &hit)) return false;
  if (out_t != nullptr) *out_t = hit.t;
  if (out_normal != nullptr) *out_normal = hit.normal;
  if (out_attribute != nullptr) *out_attribute = hit.attribute;
  return true;
}

bool ray_cast_model_ex(const CollisionRecord* model, const Mat4* matrix, const Vec3* origin, const Vec3* vector,
                       Vec3* out_point, Vec3* out_slide, Vec3* out_normal, uint32_t* out_attribute) {
  ModelHit hit;
  if (!ray_intersect_model(model, matrix, origin, vector, &hit)) return false;
  if (out_point != nullptr) vec3_madd(out_point, origin, vector, hit.t);
  if (out_slide != nullptr) {
    // The end of the segment dropped onto the plane of the world triangle.
    Vec3 end, e1, e2, n, to_end;
    vec3_add(&end, origin, vector);
    vec3_sub(&e1, &hit.triangle[1], &hit.triangle[0]);
    vec3_sub(&e2, &hit.triangle[2], &hit.triangle[0]);
    vec3_cross(&n, &e1, &e2);
    vec3_normalize(&n, &n);
    vec3_sub(&to_end, &end, &hit.triangle[0]);
    vec3_madd(out_slide, &end, &n, -vec3_dot(&to_end, &n));
  }
  if (out_normal != nullptr) *out_normal = hit.normal;
  if (out_attribute != nullptr) *out_attribute = hit.attribute;
  return true;
}

uint32_t raycol_collider_count() { return block.collider_count; }
uint32_t raycol_probe_count() { return block.probe_count; }

Vec3 collider_world_centre(const Collider* collider) { return sphere_centre(collider); }

bool collision_bounds(AssetHandle collision, Vec3* centre, float* radius) {
  const CollisionRecord* rec = get_collision_record(collision);
  return rec != nullptr && model_bounds(rec, centre, radius);
}
