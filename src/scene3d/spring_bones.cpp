// Spring bones: descendants of a named bone hang as a chain of particles
// that fall under gravity, keep their rest length from their parent, stop on
// the ground, and turn their parent bone to point at them.
#include <cmath>
#include <cstring>

#include "assets/asset_registry.h"
#include "scene3d/animation.h"
#include "scene3d/bone_stream.h"
#include "scene3d/ray_collision.h"

namespace {

constexpr float kGravity = 0.01f;
constexpr int kConstraintPasses = 10;
constexpr float kStiffness = 0.75f;
constexpr float kDamping = 0.97f;
constexpr float kBounce = -0.25f;
constexpr float kGroundLift = 0.2f;
constexpr float kTinySquare = 1e-10f;


Vec3 position_of(const Mat4& m) { return Vec3{m.m[12], m.m[13], m.m[14]}; }

float safe_length(const Vec3& v) {
  const float sq = vec3_length_sq(&v);
  return sq < kTinySquare ? 0.0f : std::sqrt(sq);
}

Vec3 safe_normal(const Vec3& v) {
  const float len = safe_length(v);
  if (len == 0.0f) return Vec3{0.0f, 0.0f, 0.0f};
  Vec3 out;
  return *vec3_scale(&out, &v, 1.0f / len);
}

void set_row(Mat4* m, int row, const Vec3& v) {
  m->m[row * 4 + 0] = v.x;
  m->m[row * 4 + 1] = v.y;
  m->m[row * 4 + 2] = v.z;
  m->m[row * 4 + 3] = 0.0f;
}

// The ground straight down from just above the particle, over the ground
// colliders; 0.0 where there is none.
float ground_under(const Vec3& pos, uint16_t exclude) {
  const Vec3 from{pos.x, pos.y + 1.0f, pos.z};
  float height = 0.0f;
  return ray_cast_down(&from, &height, nullptr, nullptr, exclude, kCategoryAll) ? height : 0.0f;
}

}  // namespace


Mat4* spring_orient_bone(Mat4* out, const Mat4* in, const Vec3* origin, const Vec3* point, bool use_point) {
  Vec3 d;
  vec3_sub(&d, point, origin);
  const Mat4 source = *in;
  Mat4 m = source;
  // A particle on top of its parent gives no direction: the bone keeps its
  // turn. One along the z axis has no (0, x, y) helper: y stands in for it.
  if (vec3_length_sq(&d) >= kTinySquare) {
    const Vec3 r0 = safe_normal(d);
    Vec3 helper{0.0f, r0.x, r0.y};
    if (vec3_length_sq(&helper) < kTinySquare) helper = Vec3{0.0f, 1.0f, 0.0f};
    Vec3 r2 = safe_normal(helper), r1;
    vec3_cross(&r1, &r0, &r2);
    vec3_cross(&r2, &r1, &r0);
    r1 = safe_normal(r1);
    r2 = safe_normal(r2);
    vec3_negate(&r1, &r1);
    set_row(&m, 0, r0);
    set_row(&m, 1, r1);
    set_row(&m, 2, r2);
  }
  const Vec3 t = use_point ? *point : position_of(source);
  m.m[12] = t.x;
  m.m[13] = t.y;
  m.m[14] = t.z;
  m.m[15] = 1.0f;
  *out = m;
  return out;
}

bool bone_set_springs(MotionPlayer* p, const char* name, uint32_t on) {
  if (p == nullptr) return false;
  p->flags = (p->flags & ~kMotionSprings) | (on ? uint32_t{kMotionSprings} : 0u);
  if (get_bone_tree_record(p->bone_tree) == nullptr) return false;
  const PayloadView v = bone_tree_view(p->bone_tree);
  const uint32_t hash = name != nullptr ? hash_name(name) : 0;
  BonePose* b = p->bones;
  int32_t node = 0, depth = 0, found_depth = -1;
  bool result = true;
  bone_stream_walk(v, [&](const BoneStreamOp& o) {
    if (o.op == BONE_OP_PUSH) ++depth;
    else if (o.op == BONE_OP_POP) --depth;
    if (o.op != BONE_OP_NODE) return true;
    BonePose* current = b;
    if (b != nullptr) b = b->next;
    const int32_t index = node++;
    if (found_depth < 0) {
      uint32_t node_hash = 0;
      const char* node_name = bone_node_name(v, o.at, &node_hash);
      const bool found = name == nullptr ? index == 0
                                         : node_name != nullptr && node_hash == hash && std::strcmp(node_name, name) == 0;
      if (found) found_depth = depth;
      return true;
    }
    if (depth <= found_depth) {
      result = false;
      return false;
    }
    if (current == nullptr) return true;
    if (on) {
      if (current->particle == nullptr) {
        SpringParticle* s = anim_aux_alloc();
        if (s != nullptr) {
          s->pos = s->prev = position_of(current->world);
          s->vel = Vec3{0.0f, 0.0f, 0.0f};
          if (current->parent != nullptr) {
            const Vec3 parent = position_of(current->parent->world);
            Vec3 d;
            s->rest_length = safe_length(*vec3_sub(&d, &s->pos, &parent));
          }
          current->particle = s;
        }
      }
      current->flags |= kBoneSpring;
    } else {
      anim_aux_free(current->particle);
      current->particle = nullptr;
      current->flags &= ~kBoneSpring;
    }
    return true;
  });
  return result;
}

void spring_bones_step(MotionPlayer* p, const Mat4* inverse_world, uint16_t exclude) {
  if (p == nullptr) return;
  for (BonePose* b = p->bones; b != nullptr; b = b->next) {
    SpringParticle* s = b->particle;
    if (s == nullptr) continue;
    s->pos.x += s->vel.x;
    s->pos.y += s->vel.y - kGravity;
    s->pos.z += s->vel.z;
  }
  for (int pass = 0; pass < kConstraintPasses; ++pass) {
    for (BonePose* b = p->bones; b != nullptr; b = b->next) {
      SpringParticle* s = b->particle;
      if (s == nullptr || b->parent == nullptr) continue;
      Vec3 held = position_of(b->parent->world);
      Vec3* anchor = b->parent->particle != nullptr ? &b->parent->particle->pos : &held;
      Vec3 d;
      vec3_sub(&d, &s->pos, anchor);
      const Vec3 n = safe_normal(d);
      const float c = (s->rest_length - safe_length(d)) * kStiffness;
      vec3_madd(anchor, anchor, &n, -c);
      vec3_madd(&s->pos, &s->pos, &n, c);
    }
  }
  for (BonePose* b = p->bones; b != nullptr; b = b->next) {
    SpringParticle* s = b->particle;
    if (s == nullptr) continue;
    Vec3 moved;
    vec3_scale(&s->vel, vec3_sub(&moved, &s->pos, &s->prev), kDamping);
    const float floor = ground_under(s->pos, exclude) + kGroundLift * s->rest_length;
    if (s->pos.y < floor) {
      s->vel.y *= kBounce;
      s->pos.y = floor;
    }
    s->prev = s->pos;
    BonePose* r = b->parent;
    if (r == nullptr) continue;
    const Vec3 origin = position_of(r->world);
    spring_orient_bone(&r->world, &r->world, &origin, &s->pos, false);
    mat4_multiply(&r->pose, inverse_world, &r->world);
    spring_orient_bone(&b->world, &b->world, &origin, &s->pos, true);
    mat4_multiply(&b->pose, inverse_world, &b->world);
  }
}
