// Inverse kinematics and look-at for one-shot bone overrides: an analytic
// solver for two-bone chains (upper and lower limb), cyclic coordinate
// descent for longer ones.
#include <algorithm>
#include <cmath>
#include <vector>

#include "math/quat.h"
#include "scene3d/animation.h"

namespace {

constexpr float kMinBone = 1e-5f;

Vec3 position_of(const Mat4& m) { return Vec3{m.m[12], m.m[13], m.m[14]}; }

// b relative to a: b x inverse(a).
Mat4 anim_transform_by_inverse(const Mat4& a, const Mat4& b) {
  Mat4 inv, out;
  mat4_invert(&inv, &a);
  mat4_multiply(&out, &inv, &b);
  return out;
}

Vec3 without_part_along(const Vec3& v, const Vec3& unit) {
  Vec3 out;
  return *vec3_madd(&out, &v, &unit, -vec3_dot(&v, &unit));
}

// An orthonormal frame: row 0 along x, row 2 the part of hint across x,
// row 1 = row 2 x row 0. False when hint runs along x.
bool frame_from(const Vec3& x, const Vec3& hint, Mat4* out) {
  Vec3 r0, r1, r2 = without_part_along(hint, x);
  if (vec3_length_sq(&r2) < 1e-12f) return false;
  vec3_normalize(&r0, &x);
  vec3_normalize(&r2, &r2);
  vec3_cross(&r1, &r2, &r0);
  mat4_identity(out);
  const Vec3 rows[3] = {r0, r1, r2};
  for (int i = 0; i < 3; ++i) {
    out->m[i * 4 + 0] = rows[i].x;
    out->m[i * 4 + 1] = rows[i].y;
    out->m[i * 4 + 2] = rows[i].z;
  }
  return true;
}

}  // namespace

void ik_solve_two_bone(BonePose* root, BonePose* middle, BonePose* end, const Vec3* goal_model) {
  Mat4 root_inv;
  mat4_invert(&root_inv, &root->pose);
  Vec3 goal;
  mat4_transform_point(&goal, &root_inv, goal_model);
  Mat4 mid_local = anim_transform_by_inverse(root->pose, middle->pose);
  const Mat4 end_local = anim_transform_by_inverse(middle->pose, end->pose);
  const Vec3 p = position_of(mid_local);
  const Vec3 end_offset = position_of(end_local);
  const float u = vec3_length(&p), l = vec3_length(&end_offset);
  if (u < kMinBone || l < kMinBone) return;

  float d = vec3_length(&goal);
  if (!(d > kMinBone)) return;
  Vec3 g;
  vec3_scale(&g, &goal, 1.0f / d);
  if (d >= u + l) {
    d = (u + l) * 0.999f;
    vec3_scale(&goal, &g, d);
  }

  // Bend the middle joint so that the end lies d from the root. A goal
  // nearer than |u - l| cannot be reached: the cosines are held to [-1, 1].
  const float bend = std::acos(std::clamp((d * d - u * u - l * l) / (2.0f * u * l), -1.0f, 1.0f));
  const Vec3 angles{0.0f, bend, 0.0f};
  mat4_rotation_from_euler(&mid_local, &angles);

  // Where the middle joint must go: on the circle of radius h about the goal
  // line, at the point nearest its current bend direction.
  const float c = std::clamp((u * u + d * d - l * l) / (2.0f * d * u), -1.0f, 1.0f);
  Vec3 base;
  vec3_scale(&base, &g, c * u);
  const float h = u * std::sqrt(std::max(0.0f, 1.0f - c * c));
  Vec3 q;
  vec3_sub(&q, &p, &base);
  q = without_part_along(q, g);
  Vec3 e1 = without_part_along(Vec3{0.0f, 1.0f, 0.0f}, g);
  if (vec3_length_sq(&e1) < 1e-12f) e1 = without_part_along(Vec3{1.0f, 0.0f, 0.0f}, g);
  vec3_normalize(&e1, &e1);
  Vec3 e2, qe;
  vec3_cross(&e2, &g, &e1);
  float theta = std::atan2(vec3_length(vec3_cross(&qe, &q, &e1)), vec3_dot(&q, &e1));
  auto candidate = [&](float a) {
    Vec3 dir, n;
    vec3_scale(&dir, &e1, std::cos(a));
    vec3_madd(&dir, &dir, &e2, std::sin(a));
    return *vec3_madd(&n, &base, &dir, h);
  };
  Vec3 target = candidate(theta);
  if (vec3_distance_sq(&target, &p) > 1.0f) target = candidate(-theta);

  // Turn the root so that the middle joint lands on the target and the bend
  // opens towards the goal: the frame (middle, end) as they stand after the
  // bend is carried onto the frame (target, goal).
  Mat4 bent_end;
  mat4_multiply(&bent_end, &mid_local, &end_local);
  const Vec3 end_now = position_of(bent_end);
  Mat4 from, to, from_t, rotation;
  if (!frame_from(p, end_now, &from) || !frame_from(target, goal, &to)) {
    if (!frame_from(p, Vec3{0.0f, 0.0f, 1.0f}, &from) && !frame_from(p, Vec3{0.0f, 1.0f, 0.0f}, &from)) return;
    if (!frame_from(target, Vec3{0.0f, 0.0f, 1.0f}, &to) && !frame_from(target, Vec3{0.0f, 1.0f, 0.0f}, &to)) return;
  }
  mat4_transpose(&from_t, &from);
  mat4_multiply(&rotation, &to, &from_t);

  mat4_multiply(&root->pose, &root->pose, &rotation);
  mat4_multiply(&middle->pose, &root->pose, &mid_local);
  mat4_multiply(&end->pose, &middle->pose, &end_local);
}

namespace {

// The product of locals 0..upto: a joint's pose in model space.
Mat4 chain_product(const std::vector<Mat4>& locals, int upto) {
  Mat4 m = locals[0];
  for (int i = 1; i <= upto; ++i) mat4_multiply(&m, &m, &locals[i]);
  return m;
}

// One pass of cyclic coordinate descent: each joint in turn (root first for
// three records, else from the one above the end down to the root) turns
// the effector towards the goal.
void ik_ccd_pass(std::vector<Mat4>& locals, const Vec3* goal) {
  const int n = static_cast<int>(locals.size());
  for (int step = 0; step < n - 1; ++step) {
    const int k = n == 3 ? step : n - 2 - step;
    const Mat4 joint = chain_product(locals, k);
    const Mat4 all = chain_product(locals, n - 1);
    Mat4 inv;
    mat4_invert(&inv, &joint);
    const Vec3 effector_model = position_of(all);
    Vec3 g, e;
    mat4_transform_point(&g, &inv, goal);
    mat4_transform_point(&e, &inv, &effector_model);
    if (vec3_length_sq(&g) < 1e-6f || vec3_length_sq(&e) < 1e-6f) continue;
    Vec3 gd, ed;
    vec3_normalize(&gd, &g);
    vec3_normalize(&ed, &e);
    Quat r;
    quat_rotation_arc(&r, &ed, &gd);
    Mat4 turn;
    mat4_identity(&turn);
    quat_to_rotation(&turn, &r);
    mat4_multiply(&locals[k], &locals[k], &turn);
  }
}

}  // namespace

void ik_solve_chain(BonePose** chain, int n, const Vec3* goal, int extra_passes) {
  if (n < 2) return;
  std::vector<Mat4> locals(static_cast<size_t>(n));
  locals[0] = chain[0]->pose;
  for (int i = 1; i < n; ++i) locals[i] = anim_transform_by_inverse(chain[i - 1]->pose, chain[i]->pose);
  const int passes = 1 + std::max(0, extra_passes);
  for (int pass = 0; pass < passes; ++pass) {
    ik_ccd_pass(locals, goal);
    const Vec3 effector = position_of(chain_product(locals, n - 1));
    if (vec3_distance_sq(&effector, goal) < 0.0004f) break;
  }
  chain[0]->pose = locals[0];
  for (int i = 1; i < n; ++i) mat4_multiply(&chain[i]->pose, &chain[i - 1]->pose, &locals[i]);
}

void ik_apply_two_bone(BonePose** chain, const Vec3* goal) { ik_solve_two_bone(chain[0], chain[1], chain[2], goal); }

void bone_solve_ik(BonePose* b, const Mat4* inverse_world) {
  if (b == nullptr || b->parent == nullptr || b->parent->parent == nullptr || b->weight == 0.0f) return;
  Vec3 target, goal;
  mat4_transform_point(&target, inverse_world, &b->target);
  const Vec3 current = position_of(b->pose);
  vec3_lerp(&goal, &current, &target, b->weight);
  const int length = static_cast<int>(std::max<uint32_t>(b->flags & kBoneChainMask, 3));
  std::vector<BonePose*> chain;
  for (BonePose* r = b; r != nullptr && static_cast<int>(chain.size()) < length; r = r->parent) chain.push_back(r);
  std::reverse(chain.begin(), chain.end());
  const int n = static_cast<int>(chain.size());
  if (n == 3) ik_apply_two_bone(chain.data(), &goal);
  else if (n > 3) ik_solve_chain(chain.data(), n, &goal, 3);
}

void bone_solve_look_at(BonePose* b, const Mat4* inverse_world) {
  if (b == nullptr) return;
  Vec3 goal, up;
  mat4_transform_point(&goal, inverse_world, &b->target);
  const Vec3 eye = position_of(b->pose);
  if (b->flags & kBoneNoUpHint) {
    const Vec3 x{b->pose.m[0], b->pose.m[1], b->pose.m[2]};
    Vec3 away;
    vec3_sub(&away, &eye, &goal);
    vec3_cross(&up, &x, &away);
  } else {
    mat4_transform_direction(&up, inverse_world, &b->up);
  }
  Mat4 look;
  mat4_look_at(&look, &eye, &goal, &up, 0);
  mat4_interpolate(&b->pose, &b->pose, &look, b->weight);
}
