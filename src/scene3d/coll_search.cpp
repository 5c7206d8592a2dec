// Searches of one collision mesh: segments through its node tree and leaves,
// straight-down searches, and the sphere sweep. Every read of the payload
// goes through its bounds-checked view; a tree that points outside the
// payload or overfills the node ring falls back to testing every leaf, so
// no package can make a query read out of bounds or lose hits.
#include <cmath>
#include <cstring>

#include "assets/model_records.h"
#include "math/geometry.h"
#include "scene3d/ray_collision_internal.h"

namespace {

constexpr uint32_t kEndOfTree = 0xFFFFFFFFu;
constexpr float kModelNoHit = 999.9f;
constexpr float kSweepNoHit = 1e12f;
constexpr float kHalfPi = 1.5707963705062866f;
constexpr float kDownReach = -10000.0f;
constexpr float kIdentityTolerance = 1e-5f;

// Byte offsets of the payload's header words.
constexpr uint64_t kCellCountAt = 4, kCellsAt = 64, kSharedAt = 72, kSharedCountAt = 76, kLevelsAt = 80,
                   kLevelCountAt = 84;
constexpr uint64_t kLevelBytes = 28, kLevelEndAt = 16, kLevelNodesAt = 24;
constexpr uint64_t kNodeBytes = 44;  // before the child indices

struct Model {
  PayloadView v;
  uint32_t cells, cell_at, shared_at, shared_count, level_at, level_count;
};

// A culling volume: box (centre, half extents) and bounding sphere.
struct Volume {
  Vec3 box_centre, half, sphere_centre;
  float radius;
};

struct Triangle {
  Vec3 p[3];
  Vec3 n;
  Vec3 sphere_centre;
  float radius;
  uint32_t attribute;
};

bool model_open(const CollisionRecord* rec, Model* m) {
  if (rec == nullptr || rec->data == nullptr) return false;
  m->v = PayloadView{rec->data, rec->size};
  return m->v.u32_at(kCellCountAt, &m->cells) && m->v.u32_at(kCellsAt, &m->cell_at) &&
         m->v.u32_at(kSharedAt, &m->shared_at) && m->v.u32_at(kSharedCountAt, &m->shared_count) &&
         m->v.u32_at(kLevelsAt, &m->level_at) && m->v.u32_at(kLevelCountAt, &m->level_count);
}

bool read_f32s(const PayloadView& v, uint64_t at, uint64_t n, float* out) {
  if (!v.span_at(at, n, 4)) return false;
  std::memcpy(out, v.data + at, 4 * n);
  return true;
}

Vec3 vec_at(const float* f) { return Vec3{f[0], f[1], f[2]}; }

// Box centre, half extents, sphere centre and radius: ten floats.
bool read_volume(const PayloadView& v, uint64_t at, Volume* out) {
  float f[10];
  if (!read_f32s(v, at, 10, f)) return false;
  *out = Volume{vec_at(f), vec_at(f + 3), vec_at(f + 6), f[9]};
  return true;
}

bool read_cell(const Model& m, uint32_t i, uint32_t* tri_count, uint32_t* tri_at, Volume* vol) {
  if (i >= m.cells) return false;
  const uint64_t at = m.cell_at + uint64_t{kCollisionCellBytes} * i;
  return m.v.u32_at(at, tri_count) && m.v.u32_at(at + 4, tri_at) && read_volume(m.v, at + 8, vol);
}

// Vertices, normal, sphere centre and radius: sixteen floats.
void fill_triangle(const float* f, uint32_t attribute, Triangle* t) {
  *t = Triangle{{vec_at(f), vec_at(f + 3), vec_at(f + 6)}, vec_at(f + 9), vec_at(f + 12), f[15], attribute};
}

bool read_triangle(const PayloadView& v, uint64_t at, Triangle* t) {
  float f[16];
  uint32_t attribute = 0;
  if (!read_f32s(v, at, 16, f) || !v.u32_at(at + 68, &attribute)) return false;
  fill_triangle(f, attribute, t);
  return true;
}

// A shared triangle and the list of cells it lies in.
bool read_shared(const Model& m, uint32_t i, Triangle* t, uint32_t* list_count, uint32_t* list_at) {
  const uint64_t at = m.shared_at + uint64_t{kCollisionEntryBytes} * i;
  float f[16];
  uint32_t attribute = 0;
  if (!m.v.u32_at(at, list_count) || !read_f32s(m.v, at + 4, 16, f) || !m.v.u32_at(at + 72, &attribute) ||
      !m.v.u32_at(at + 76, list_at)) {
    return false;
  }
  fill_triangle(f, attribute, t);
  return true;
}

bool is_zero(const Vec3& v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }

// p lies inside the triangle by the three edge tests against its normal.
bool inside_triangle(const Vec3* a, const Vec3* b, const Vec3* c, const Vec3* n, const Vec3* p) {
  const Vec3* corners[3] = {a, b, c};
  for (int i = 0; i < 3; ++i) {
    Vec3 to_p, edge, cross;
    vec3_sub(&to_p, p, corners[i]);
    vec3_sub(&edge, corners[(i + 1) % 3], corners[i]);
    vec3_cross(&cross, &to_p, &edge);
    if (vec3_dot(&cross, n) < 0.0f) return false;
  }
  return true;
}

// The vertical line through p passes within r of c.
bool line_within_xz(const Vec3* p, const Vec3* c, float r) {
  const float dx = p->x - c->x, dz = p->z - c->z;
  return std::fabs(dx) <= r && std::fabs(dz) <= r && dx * dx + dz * dz <= r * r;
}

// (x, z) of p lies inside the triangle's shadow on the ground plane, on the
// same side of each edge as the inside test of an upward-facing triangle
// takes, so that the pre-test never refuses a point that test accepts.
bool inside_xz(const Triangle& t, const Vec3* p) {
  for (int i = 0; i < 3; ++i) {
    const Vec3& a = t.p[i];
    const Vec3& b = t.p[(i + 1) % 3];
    if ((b.x - a.x) * (p->z - a.z) - (b.z - a.z) * (p->x - a.x) < 0.0f) return false;
  }
  return true;
}

struct Query {
  Vec3 o, v;
  Vec3 lo, hi;  // the segment's box
  bool down;    // vertical-line culling in x and z
};

Query make_query(const Vec3& o, const Vec3& v, bool down) {
  Query q{o, v, o, o, down};
  const float end[3] = {o.x + v.x, o.y + v.y, o.z + v.z};
  float* lo[3] = {&q.lo.x, &q.lo.y, &q.lo.z};
  float* hi[3] = {&q.hi.x, &q.hi.y, &q.hi.z};
  for (int k = 0; k < 3; ++k) {
    if (end[k] < *lo[k]) *lo[k] = end[k];
    if (end[k] > *hi[k]) *hi[k] = end[k];
  }
  return q;
}

bool box_overlaps(const Query& q, const Volume& vol) {
  const bool x = q.lo.x <= vol.box_centre.x + vol.half.x && q.hi.x >= vol.box_centre.x - vol.half.x;
  const bool y = q.lo.y <= vol.box_centre.y + vol.half.y && q.hi.y >= vol.box_centre.y - vol.half.y;
  const bool z = q.lo.z <= vol.box_centre.z + vol.half.z && q.hi.z >= vol.box_centre.z - vol.half.z;
  return q.down ? x && z : x && y && z;
}

bool sphere_passes(const Query& q, const Vec3* c, float r) {
  return q.down ? line_within_xz(&q.o, c, r) : ray_passes_within(&q.o, &q.v, c, r);
}

bool volume_passes(const Query& q, const Volume& vol) {
  if (!sphere_passes(q, &vol.sphere_centre, vol.radius) || !box_overlaps(q, vol)) return false;
  return q.down || ray_segment_hits_box(&q.o, &q.v, &vol.box_centre, &vol.half);
}

struct Search {
  const Model* m;
  Query q;
  bool found;
  float t;
  Triangle tri;
  uint32_t cell;
};

// The downward search in the record's own space: the start's (x, z) inside
// the triangle seen from above, then the segment test.
bool ray_triangle_test_down(const Triangle& tri, const Query& q, float* t) {
  return inside_xz(tri, &q.o) && ray_triangle_test(&tri.p[0], &tri.p[1], &tri.p[2], &tri.n, &q.o, &q.v, t);
}

void test_triangle(Search* s, const Triangle& tri, uint32_t cell) {
  if (is_zero(tri.n) || !sphere_passes(s->q, &tri.sphere_centre, tri.radius)) return;
  float t = 0.0f;
  const bool hit = s->q.down ? ray_triangle_test_down(tri, s->q, &t)
                             : ray_triangle_test(&tri.p[0], &tri.p[1], &tri.p[2], &tri.n, &s->q.o, &s->q.v, &t);
  if (!hit || !(t < s->t)) return;
  s->found = true;
  s->t = t;
  s->tri = tri;
  s->cell = cell;
}

// A leaf that passes joins the candidate list (or is counted as dropped when
// the list is full) and its triangles are tested at once either way.
void test_leaf(Search* s, uint32_t cell) {
  uint32_t count = 0, at = 0;
  Volume vol;
  if (!read_cell(*s->m, cell, &count, &at, &vol) || !volume_passes(s->q, vol)) return;
  RayCollisionBlock* b = raycol_block();
  if (b->candidate_count < kRayCandidateLeaves) b->candidates[b->candidate_count++] = cell;
  else ++b->candidates_dropped;
  if (!s->m->v.span_at(at, count, kCollisionTriangleBytes)) return;
  for (uint32_t j = 0; j < count; ++j) {
    Triangle tri;
    if (read_triangle(s->m->v, at + uint64_t{kCollisionTriangleBytes} * j, &tri)) test_triangle(s, tri, cell);
  }
}

bool ring_push(RayCollisionBlock* b, uint32_t index) {
  if (b->ring_tail - b->ring_head >= static_cast<uint32_t>(kRayNodeRing)) return false;
  b->node_ring[b->ring_tail++ % kRayNodeRing] = index;
  return true;
}

uint32_t ring_pop(RayCollisionBlock* b) { return b->node_ring[b->ring_head++ % kRayNodeRing]; }

// Walks the node levels, leaving the leaves to test in the ring. False when
// the tree points outside the payload, never reaches its end mark or queues
// more than the ring holds: the caller then tests every leaf.
bool walk_tree(const Search& s) {
  const Model& m = *s.m;
  RayCollisionBlock* b = raycol_block();
  b->ring_head = b->ring_tail = 0;
  if (m.level_count == 0) return m.cells == 0 || ring_push(b, 0);
  for (uint32_t level = 0; level < m.level_count; ++level) {
    const uint64_t entry = m.level_at + kLevelBytes * level;
    uint32_t top_count = 0, end = 0, nodes = 0, stride_children = 0;
    if (!m.v.u32_at(entry, &top_count) || !m.v.u32_at(entry + kLevelEndAt, &end) ||
        !m.v.u32_at(entry + kLevelNodesAt, &nodes)) {
      return false;
    }
    const uint32_t todo = level == 0 ? top_count : b->ring_tail - b->ring_head;
    // The node stride comes from the level's first node.
    if (todo > 0 && !m.v.u32_at(nodes, &stride_children)) return false;
    const uint64_t stride = kNodeBytes + 4ull * stride_children;
    for (uint32_t i = 0; i < todo; ++i) {
      const uint32_t index = level == 0 ? i : ring_pop(b);
      const uint64_t at = nodes + stride * index;
      uint32_t children = 0;
      Volume vol;
      if (!m.v.span_at(at, 1, stride) || !m.v.u32_at(at, &children) || !read_volume(m.v, at + 4, &vol)) {
        return false;
      }
      if (!volume_passes(s.q, vol)) continue;
      // Only the children the node has, and no more than its stride holds.
      if (children > stride_children) children = stride_children;
      for (uint32_t c = 0; c < children; ++c) {
        const uint32_t child = payload_u32(m.v, at + kNodeBytes + 4ull * c);
        // A leaf the payload does not have: the tree cannot be trusted.
        if ((end == kEndOfTree && child >= m.cells) || !ring_push(b, child)) return false;
      }
    }
    if (end == kEndOfTree) return true;
  }
  return false;
}

bool cell_listed(const Model& m, uint32_t list_count, uint32_t list_at, uint32_t* cell) {
  const RayCollisionBlock* b = raycol_block();
  if (!m.v.span_at(list_at, list_count, 4)) return false;
  for (uint32_t i = 0; i < list_count; ++i) {
    const uint32_t listed = payload_u32(m.v, list_at + 4ull * i);
    for (uint32_t k = 0; k < b->candidate_count; ++k) {
      if (b->candidates[k] == listed) {
        *cell = listed;
        return true;
      }
    }
  }
  return false;
}

void run_search(Search* s) {
  const Model& m = *s->m;
  RayCollisionBlock* b = raycol_block();
  b->candidate_count = 0;
  b->candidates_dropped = 0;
  if (walk_tree(*s)) {
    while (b->ring_head != b->ring_tail) test_leaf(s, ring_pop(b));
  } else {
    b->candidate_count = 0;
    b->candidates_dropped = 0;
    for (uint32_t cell = 0; cell < m.cells; ++cell) test_leaf(s, cell);
  }
  // Shared triangles of the candidate leaves; all of them when leaves were
  // dropped from the list, so that no hit is lost.
  for (uint32_t i = 0; i < m.shared_count; ++i) {
    Triangle tri;
    uint32_t list_count = 0, list_at = 0, cell = 0;
    if (!read_shared(m, i, &tri, &list_count, &list_at)) break;
    const bool listed = cell_listed(m, list_count, list_at, &cell);
    if (!listed && b->candidates_dropped == 0) continue;
    if (!listed) cell = list_count > 0 && m.v.span_at(list_at, 1, 4) ? payload_u32(m.v, list_at) : 0;
    test_triangle(s, tri, cell);
  }
}

// The search's hit, turned into the caller's space by the matrix.
void fill_hit(const Search& s, const Mat4* matrix, ModelHit* out) {
  out->t = s.t;
  out->attribute = s.tri.attribute;
  Volume vol{};
  uint32_t count = 0, at = 0;
  read_cell(*s.m, s.cell, &count, &at, &vol);
  if (matrix == nullptr) {
    out->normal = s.tri.n;
    for (int k = 0; k < 3; ++k) out->triangle[k] = s.tri.p[k];
    out->leaf_box[0] = vol.box_centre;
    out->leaf_box[1] = vol.half;
    return;
  }
  mat4_transform_direction(&out->normal, matrix, &s.tri.n);
  for (int k = 0; k < 3; ++k) mat4_transform_point(&out->triangle[k], matrix, &s.tri.p[k]);
  mat4_transform_point(&out->leaf_box[0], matrix, &vol.box_centre);
  // The half extents of the box that holds the turned box.
  const float* e = matrix->m;
  const Vec3& h = vol.half;
  out->leaf_box[1] = Vec3{std::fabs(h.x * e[0]) + std::fabs(h.y * e[4]) + std::fabs(h.z * e[8]),
                          std::fabs(h.x * e[1]) + std::fabs(h.y * e[5]) + std::fabs(h.z * e[9]),
                          std::fabs(h.x * e[2]) + std::fabs(h.y * e[6]) + std::fabs(h.z * e[10])};
}

bool search_model(const CollisionRecord* rec, const Mat4* matrix, const Vec3* origin, const Vec3* vector,
                  bool down, ModelHit* out) {
  Model m;
  if (!model_open(rec, &m) || origin == nullptr || vector == nullptr) return false;
  Vec3 o = *origin, v = *vector;
  if (matrix != nullptr) {
    Mat4 inverse;
    if (mat4_invert(&inverse, matrix) == nullptr) return false;
    mat4_transform_point(&o, &inverse, origin);
    mat4_transform_direction(&v, &inverse, vector);
  }
  Search s{&m, make_query(o, v, down), false, kModelNoHit, {}, 0};
  run_search(&s);
  if (!s.found) return false;
  if (out != nullptr) fill_hit(s, matrix, out);
  return true;
}

// The sphere against one triangle: the contact point and depth.
bool sphere_triangle_test(const Triangle& tri, const Vec3* centre, float r, Vec3* contact, float* depth) {
  Vec3 to_centre;
  vec3_sub(&to_centre, centre, &tri.p[0]);
  const float dist = vec3_dot(&to_centre, &tri.n);
  if (std::fabs(dist) > r) return false;
  Vec3 p;
  vec3_madd(&p, centre, &tri.n, -dist);
  if (inside_triangle(&tri.p[0], &tri.p[1], &tri.p[2], &tri.n, &p)) {
    *contact = p;
    *depth = r * std::cos(std::fabs(r == 0.0f ? 1.0f : dist / r) * kHalfPi);
    return true;
  }
  float best = 0.0f;
  int edge = -1;
  for (int i = 0; i < 3; ++i) {
    const Vec3* a = &tri.p[i];
    const Vec3* b = &tri.p[(i + 1) % 3];
    if (!segment_passes_within(a, b, centre, r)) continue;
    const float d2 = point_line_distance_sq(a, b, centre);
    if (edge < 0 || d2 < best) {
      best = d2;
      edge = i;
    }
  }
  if (edge < 0) return false;
  const Vec3& a = tri.p[edge];
  const Vec3& b = tri.p[(edge + 1) % 3];
  Vec3 ab, ac;
  vec3_sub(&ab, &b, &a);
  vec3_sub(&ac, centre, &a);
  const float len2 = vec3_dot(&ab, &ab);
  // A degenerate edge puts the contact at its start.
  const float s = len2 < 1e-10f ? 0.0f : clamp01(vec3_dot(&ac, &ab) / len2);
  vec3_madd(contact, &a, &ab, s);
  *depth = r * std::cos((r == 0.0f ? 1.0f : std::sqrt(best) / r) * kHalfPi);
  return true;
}

struct Sweep {
  Vec3 centre;
  float radius;
  bool found;
  float best;
  Vec3 contact;
  float depth;
  Vec3 normal;
  uint32_t attribute;
};

bool spheres_overlap(const Vec3* a, float ra, const Vec3* b, float rb) {
  return vec3_distance_sq(a, b) <= (ra + rb) * (ra + rb);
}

void sweep_triangle(Sweep* s, const Triangle& tri) {
  if (is_zero(tri.n) || !spheres_overlap(&tri.sphere_centre, tri.radius, &s->centre, s->radius)) return;
  Vec3 contact;
  float depth = 0.0f;
  if (!sphere_triangle_test(tri, &s->centre, s->radius, &contact, &depth)) return;
  const float d2 = vec3_distance_sq(&contact, &s->centre);
  if (!(d2 < s->best)) return;
  s->found = true;
  s->best = d2;
  s->contact = contact;
  s->depth = depth;
  s->normal = tri.n;
  s->attribute = tri.attribute;
}

}  // namespace

bool ray_triangle_test(const Vec3* a, const Vec3* b, const Vec3* c, const Vec3* n, const Vec3* o, const Vec3* v,
                       float* out_t) {
  float d = vec3_dot(v, n);
  if (d > 0.0f) return false;
  if (d > -1e-5f) d = -1e-5f;
  Vec3 to_a;
  vec3_sub(&to_a, a, o);
  const float t = vec3_dot(&to_a, n) / d;
  if (!(t >= 0.0f && t <= 1.0f)) return false;
  Vec3 p;
  vec3_madd(&p, o, v, t);
  if (!inside_triangle(a, b, c, n, &p)) return false;
  if (out_t != nullptr) *out_t = t;
  return true;
}

bool ray_segment_hits_box(const Vec3* origin, const Vec3* vector, const Vec3* centre, const Vec3* half) {
  Vec3 lo, hi;
  vec3_sub(&lo, centre, half);
  vec3_add(&hi, centre, half);
  return segment_box_test(origin, vector, &lo, &hi) != 0;
}

bool ray_intersect_model(const CollisionRecord* model, const Mat4* matrix, const Vec3* origin,
                         const Vec3* vector, ModelHit* out) {
  return search_model(model, matrix, origin, vector, false, out);
}

bool ray_intersect_model_ex(const CollisionRecord* model, const Mat4* matrix, const Vec3* origin,
                            const Vec3* vector, ModelHit* out) {
  return ray_intersect_model(model, matrix, origin, vector, out);
}

bool ray_intersect_model_down(const CollisionRecord* model, const Mat4* matrix, const Vec3* point,
                              ModelHit* out) {
  const Vec3 down{0.0f, kDownReach, 0.0f};
  if (matrix != nullptr && mat4_differs_from_identity(matrix, kIdentityTolerance)) {
    return search_model(model, matrix, point, &down, false, out);
  }
  return search_model(model, nullptr, point, &down, true, out);
}

bool sphere_cast_model(const CollisionRecord* model, const Mat4* matrix, const Vec3* centre, float radius,
                       Vec3* out_contact, float* out_depth, Vec3* out_normal, uint32_t* out_attribute) {
  Model m;
  if (!model_open(model, &m) || centre == nullptr) return false;
  Sweep s{*centre, radius, false, kSweepNoHit, {}, 0.0f, {}, 0};
  if (matrix != nullptr) {
    Mat4 inverse;
    if (mat4_invert(&inverse, matrix) == nullptr) return false;
    mat4_transform_point(&s.centre, &inverse, centre);
  }
  for (uint32_t cell = 0; cell < m.cells; ++cell) {
    uint32_t count = 0, at = 0;
    Volume vol;
    if (!read_cell(m, cell, &count, &at, &vol) ||
        !spheres_overlap(&vol.sphere_centre, vol.radius, &s.centre, s.radius) ||
        !m.v.span_at(at, count, kCollisionTriangleBytes)) {
      continue;
    }
    for (uint32_t j = 0; j < count; ++j) {
      Triangle tri;
      if (read_triangle(m.v, at + uint64_t{kCollisionTriangleBytes} * j, &tri)) sweep_triangle(&s, tri);
    }
  }
  for (uint32_t i = 0; i < m.shared_count; ++i) {
    Triangle tri;
    uint32_t list_count = 0, list_at = 0;
    if (!read_shared(m, i, &tri, &list_count, &list_at)) break;
    sweep_triangle(&s, tri);
  }
  if (!s.found) return false;
  // The contact goes back to world space with the normal.
  if (matrix != nullptr) {
    mat4_transform_point(&s.contact, matrix, &s.contact);
    mat4_transform_direction(&s.normal, matrix, &s.normal);
  }
  if (out_contact != nullptr) *out_contact = s.contact;
  if (out_depth != nullptr) *out_depth = s.depth;
  if (out_normal != nullptr) *out_normal = s.normal;
  if (out_attribute != nullptr) *out_attribute = s.attribute;
  return true;
}
