#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "assets/model_records.h"

#include "render/view/view_matrices.h"
#include "render/view/view_state.h"
#include "scene3d/collision_world.h"
#include "scene3d/part_api.h"
#include "scene3d/ray_collision.h"
#include "scene3d/sphere_world.h"

namespace {

Mat4 at(float x, float y, float z) {
  Mat4 m;
  const Vec3 p{x, y, z};
  mat4_translation(&m, &p);
  return m;
}

constexpr uint32_t kMovable = kSphereMovable | 1u;

// Two single-sphere objects of radius 1 whose centres are 1.0 apart overlap
// by 1.0.
struct SpherePairCase {
  const char* name;
  uint32_t group_a, group_b, mask_a, mask_b;
  float mass_a, mass_b;
  bool contact;
  float move_a, move_b;  // distance each moves away from the other
};

TEST(SphereWorld, PairsPushApartByMassGroupAndMask) {
  const SpherePairCase cases[] = {
      {"both movable", kMovable, kMovable, 1, 1, 50, 50, true, 0.5f, 0.5f},
      {"heavier first", kMovable, kMovable, 1, 1, 100, 50, true, 1.0f / 3, 2.0f / 3},
      {"lighter first", kMovable, kMovable, 1, 1, 25, 100, true, 0.8f, 0.2f},
      {"one movable", kMovable, 1, 1, 1, 50, 50, true, 0.5f, 0.0f},
      {"only the lighter movable", kMovable, 1, 1, 1, 50, 100, true, 2.0f / 3, 0.0f},
      {"massless", kMovable, kMovable, 1, 1, 0, 0, true, 0.0f, 0.0f},
      {"contact only", kMovable | kSphereContactOnly, kMovable, 1, 1, 50, 50, true, 0.0f, 0.0f},
      {"masks apart", kMovable, kSphereMovable | 2u, 1, 1, 50, 50, false, 0.0f, 0.0f},
      {"a refuses b, b accepts a", kMovable, kSphereMovable | 2u, 1, 3, 50, 50, false, 0.0f, 0.0f},
      {"b refuses a, a accepts b", kMovable, kSphereMovable | 2u, 2, 2, 50, 50, false, 0.0f, 0.0f},
  };
  for (const SpherePairCase& c : cases) {
    SCOPED_TRACE(c.name);
    sphereworld_init();
    const Mat4 ma = at(0, 0, 0), mb = at(1, 0, 0);
    SphereWorldObject* a = sphereworld_create_object(nullptr, &ma, c.group_a, c.mask_a, 1.0f);
    SphereWorldObject* b = sphereworld_create_object(nullptr, &mb, c.group_b, c.mask_b, 1.0f);
    a->mass = c.mass_a;
    b->mass = c.mass_b;
    sphereworld_update();
    Vec3 pa{}, pb{};
    uint32_t ca = 0, cb = 0;
    EXPECT_EQ(sphereworld_object_contacts(a, &pa, &ca), c.contact);
    EXPECT_EQ(sphereworld_object_contacts(b, &pb, &cb), c.contact);
    EXPECT_NEAR(pa.x, -c.move_a, 1e-6f);
    EXPECT_NEAR(pb.x, c.move_b, 1e-6f);
    EXPECT_EQ(ca, c.contact ? c.group_b & kSphereGroupBits : 0u);
    EXPECT_EQ(cb, c.contact ? c.group_a & kSphereGroupBits : 0u);
  }
}

TEST(SphereWorld, SetsPushApartSphereBySphere) {
  // A set of two unit spheres, 2 to either side of its owner along x, and a
  // single sphere of radius 1. Only the right sphere of the set reaches it.
  const float table[] = {1, -2, 0, 0, 1, 2, 0, 0};
  std::vector<uint8_t> bytes(12 + sizeof table);
  const uint32_t words[3] = {0, 12, 2};
  std::memcpy(bytes.data(), words, sizeof words);
  std::memcpy(bytes.data() + 12, table, sizeof table);
  SphereSetRecord set{};
  set.data = bytes.data();
  set.size = static_cast<uint32_t>(bytes.size());
  const struct {
    const char* what;
    bool set_first;  // the set is made first (it is then the older object)
    bool two_sets;   // the other object is a set too, 2 further along x
  } cases[] = {{"set first", true, false}, {"set second", false, false}, {"two sets", true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sphereworld_init();
    const Mat4 ms = at(0, 0, 0), mb = at(c.two_sets ? 5.5f : 3.5f, 0, 0);
    SphereWorldObject* a = nullptr;
    SphereWorldObject* b = nullptr;
    if (c.set_first) a = sphereworld_create_object(&set, &ms, kMovable, 1, 4.0f);
    b = sphereworld_create_object(c.two_sets ? &set : nullptr, &mb, kMovable, 1, c.two_sets ? 4.0f : 1.0f);
    if (!c.set_first) a = sphereworld_create_object(&set, &ms, kMovable, 1, 4.0f);
    ASSERT_EQ(a->sphere_count, 2u);
    sphereworld_update();
    // The spheres overlap by 0.5: each object moves 0.25, the set away from
    // the other one's owner and the other one away from the set's.
    Vec3 pa{}, pb{};
    EXPECT_TRUE(sphereworld_object_contacts(a, &pa, nullptr));
    EXPECT_TRUE(sphereworld_object_contacts(b, &pb, nullptr));
    EXPECT_NEAR(pa.x, -0.25f, 1e-6f);
    EXPECT_NEAR(pb.x, 0.25f, 1e-6f);
    // Both of the set's spheres moved with it; the world centres are placed.
    EXPECT_NEAR(a->spheres->world_centre.x, -2.25f, 1e-6f);
    EXPECT_NEAR(a->spheres->next->world_centre.x, 1.75f, 1e-6f);
  }
  // A single sphere just touching the set's right sphere: no contact.
  sphereworld_init();
  const Mat4 origin = at(0, 0, 0), touching = at(4, 0, 0);
  SphereWorldObject* s = sphereworld_create_object(&set, &origin, kMovable, 1, 4.0f);
  ASSERT_NE(sphereworld_create_object(nullptr, &touching, kMovable, 1, 1.0f), nullptr);
  sphereworld_update();
  EXPECT_FALSE(sphereworld_object_contacts(s, nullptr, nullptr));
  sphereworld_init();
}

TEST(SphereWorld, TouchingIsNoContactAndReleaseReturnsTheObject) {
  sphereworld_init();
  const Mat4 ma = at(0, 0, 0), mb = at(2, 0, 0);
  SphereWorldObject* a = sphereworld_create_object(nullptr, &ma, kMovable, 1, 1.0f);
  sphereworld_create_object(nullptr, &mb, kMovable, 1, 1.0f);
  sphereworld_update();
  EXPECT_FALSE(sphereworld_any_contact(1));
  // Three apart along y, one above the other: no contact either.
  const Mat4 below = at(5, -1.5f, 0), above = at(5, 1.5f, 0);
  SphereWorldObject* low = sphereworld_create_object(nullptr, &below, kMovable, 1, 1.0f);
  SphereWorldObject* high = sphereworld_create_object(nullptr, &above, kMovable, 1, 1.0f);
  sphereworld_update();
  EXPECT_FALSE(sphereworld_any_contact(1));
  // Radii 1 each: contact below a centre distance of 2 in every direction.
  const struct {
    Vec3 apart;
    bool contact;
  } offsets[] = {{{0, 0, 1.5f}, true},  {{0.5f, 0, 1.9f}, true},  {{0, 1.9f, 0.5f}, true},
                 {{1.5f, 0, 1.5f}, false}, {{1.5f, 1.5f, 0}, false}, {{0, 1.5f, 1.5f}, false}};
  for (const auto& o : offsets) {
    const Mat4 here = at(20, 0, 0), there = at(20 + o.apart.x, o.apart.y, o.apart.z);
    SphereWorldObject* p = sphereworld_create_object(nullptr, &here, kMovable, 1, 1.0f);
    SphereWorldObject* q = sphereworld_create_object(nullptr, &there, kMovable, 1, 1.0f);
    sphereworld_update();
    EXPECT_EQ(sphereworld_any_contact(1), o.contact) << o.apart.x << " " << o.apart.y << " " << o.apart.z;
    sphereworld_release_object(p);
    sphereworld_release_object(q);
  }
  sphereworld_release_object(low);
  sphereworld_release_object(high);
  sphereworld_release_object(a);
  sphereworld_release_object(a);
  EXPECT_EQ(sphereworld_object_count(), 1u);
  sphereworld_update();
}

TEST(SphereWorld, ASphereTableIsTakenOnlyWhenItLiesInsideItsSet) {
  // Header words: (unused, table offset, count); 16 bytes a sphere.
  auto payload = [](uint32_t offset, uint32_t count, size_t bytes) {
    std::vector<uint8_t> b(bytes, 0);
    const uint32_t words[3] = {0, offset, count};
    std::memcpy(b.data(), words, std::min(bytes, sizeof words));
    return b;
  };
  const uint32_t many = kSphereWorldSpheres + 1;
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    uint32_t spheres;
  };
  const Case cases[] = {
      {"two spheres, exactly the size", payload(12, 2, 44), 2},
      {"one byte short", payload(12, 2, 43), 0},
      {"table right after a longer header", payload(16, 1, 32), 1},
      {"offset that wraps 32 bits", payload(0xFFFFFFF0u, 1, 44), 0},
      {"no spheres", payload(12, 0, 12), 0},
      {"shorter than the header", payload(12, 0, 11), 0},
      {"more spheres than the world holds", payload(12, many, 12 + 16 * size_t{many}), 0},
  };
  const Mat4 m = at(0, 0, 0);
  for (const Case& c : cases) {
    sphereworld_init();
    SphereSetRecord set{};
    set.data = c.bytes.data();
    set.size = static_cast<uint32_t>(c.bytes.size());
    SphereWorldObject* o = sphereworld_create_object(&set, &m, kMovable, 1, 1.0f);
    ASSERT_NE(o, nullptr) << c.what;
    EXPECT_EQ(o->sphere_count, c.spheres) << c.what;
    EXPECT_EQ(sphereworld_sphere_count(), c.spheres) << c.what;
  }
  sphereworld_init();
}

struct BodyCase {
  const char* name;
  float weight_a, weight_b;
  uint32_t group_a, group_b;
  Vec3 b_at;  // a stands at the origin; both have radius 1 and half height 1
  float move_a, move_b;  // along the line from one to the other in x and z
  bool contact;
};

TEST(CollisionWorld, BodiesSeparateByWeightInTheHorizontalPlane) {
  constexpr uint32_t kM = kBodyMovable | 1u;
  const BodyCase cases[] = {
      {"equal weights", 50, 50, kM, kM, {1, 0, 0}, 0.5f, 0.5f, true},
      {"100 and 50", 100, 50, kM, kM, {1, 0, 0}, 1.0f / 3, 2.0f / 3, true},
      {"25 and 100", 25, 100, kM, kM, {1, 0, 0}, 0.8f, 0.2f, true},
      {"one fixed", 50, 50, kM, 1u, {1, 0, 0}, 0.5f, 0.0f, true},
      {"only the lighter moves", 50, 100, kM, 1u, {1, 0, 0}, 2.0f / 3, 0.0f, true},
      {"fixed pair", 50, 50, kM | kBodyFixedPair, kM, {1, 0, 0}, 0.0f, 0.0f, true},
      {"weightless", 0, 0, kM, kM, {1, 0, 0}, 0.0f, 0.0f, true},
      {"across x and z", 50, 50, kM, kM, {0.6f, 0, 0.8f}, 0.5f, 0.5f, true},
      {"the other one higher, up to the half heights", 50, 50, kM, kM, {1, 2.0f, 0}, 0.5f, 0.5f, true},
      {"above each other", 50, 50, kM, kM, {1, 2.5f, 0}, 0.0f, 0.0f, false},
      {"touching sides", 50, 50, kM, kM, {2, 0, 0}, 0.0f, 0.0f, false},
      {"overlapping by a hair", 50, 50, kM, kM, {1.99f, 0, 0}, 0.005f, 0.005f, true},
  };
  for (const BodyCase& c : cases) {
    SCOPED_TRACE(c.name);
    collworld_init();
    const Vec3 la{0, 0, 0};
    CollisionBody* a = collworld_body_create(nullptr, 1.0f, 1.0f, &la, c.group_a, 1);
    CollisionBody* b = collworld_body_create(nullptr, 1.0f, 1.0f, &c.b_at, c.group_b, 1);
    a->weight = c.weight_a;
    b->weight = c.weight_b;
    collworld_step();
    Vec3 pa{}, pb{};
    EXPECT_EQ(collworld_body_push(a, &pa), c.contact);
    EXPECT_EQ(collworld_body_push(b, &pb), c.contact);
    const float len = std::sqrt(c.b_at.x * c.b_at.x + c.b_at.z * c.b_at.z);
    const float ux = c.b_at.x / len, uz = c.b_at.z / len;
    EXPECT_NEAR(pa.x, -c.move_a * ux, 1e-5f);
    EXPECT_NEAR(pa.z, -c.move_a * uz, 1e-5f);
    EXPECT_NEAR(pb.x, c.move_b * ux, 1e-5f);
    EXPECT_NEAR(pb.z, c.move_b * uz, 1e-5f);
    EXPECT_EQ(pa.y, 0.0f);
    EXPECT_EQ(pb.y, 0.0f);
    EXPECT_NEAR(b->position.x, c.b_at.x + pb.x, 1e-6f) << "the push moved the body";
  }
}

TEST(CollisionWorld, BoundedBodyIsMovedBackInsideAPlaneItCrowds) {
  init_view_defaults();
  set_view_enabled(0, 1);
  collworld_init();
  const Frustum f{-1.0f, 1.0f, -1.0f, 1.0f, 1.0f, 1000.0f};
  collworld_set_frustum(&f);
  Mat4 projection, vp;
  mat4_perspective_from_frustum(&projection, &f);
  mat4_multiply(&vp, &projection, get_view_matrix(0));
  Plane planes[kFrustumPlaneCount];
  frustum_planes_from_matrix(planes, &vp);
  // 100 units ahead of the camera, then 0.2 from the left plane.
  const Vec3 forward{0, 0, 100};
  Vec3 ahead;
  mat4_transform_point(&ahead, get_camera_matrix(0), &forward);
  Plane left;
  plane_normalize(&left, &planes[3]);
  const float d = plane_dot_point(&left, &ahead);
  ASSERT_GT(d, 1.0f);
  const Vec3 n{left.a, left.b, left.c};
  Vec3 near_left;
  vec3_madd(&near_left, &ahead, &n, 0.2f - d);
  CollisionBody* body = collworld_body_create(nullptr, 0.5f, 1.0f, &near_left, 1, 1);
  body->flags |= kBodyBounded;
  collworld_step();
  Vec3 push{};
  EXPECT_FALSE(collworld_body_push(body, &push));
  EXPECT_NEAR(push.x, n.x * 0.3f, 1e-3f);
  EXPECT_NEAR(push.z, n.z * 0.3f, 1e-3f);
  EXPECT_EQ(push.y, 0.0f);
  collworld_body_release(body);
  collworld_body_release(body);
  EXPECT_EQ(collworld_count(), 0u);
  // A clear goes back to view 0's own planes: the same body, now well
  // inside them, stays put.
  collworld_clear();
  body = collworld_body_create(nullptr, 0.5f, 1.0f, &near_left, 1, 1);
  body->flags |= kBodyBounded;
  collworld_step();
  EXPECT_FALSE(collworld_body_push(body, &push));
  EXPECT_EQ(push.x, 0.0f);
  EXPECT_EQ(push.z, 0.0f);
}

TEST(CollisionWorld, ReleasedBodiesGoBackToThePoolAndLeaveTheStep) {
  collworld_init();
  CollisionBody* bodies[kCollisionBodies];
  for (int i = 0; i < kCollisionBodies; ++i) {
    const Vec3 p{static_cast<float>(i) * 10.0f, 0, 0};
    bodies[i] = collworld_body_create(nullptr, 1.0f, 1.0f, &p, kBodyMovable | 1u, 1);
    ASSERT_NE(bodies[i], nullptr);
  }
  EXPECT_EQ(collworld_body_create(nullptr, 1.0f, 1.0f, nullptr, 1, 1), nullptr) << "the pool is full";
  // The oldest (last in the used list), one in the middle and the newest.
  const int released[] = {0, 60, kCollisionBodies - 1};
  for (int i : released) collworld_body_release(bodies[i]);
  EXPECT_EQ(collworld_count(), static_cast<uint32_t>(kCollisionBodies - 3));
  // A body released last is handed out first, each one once.
  const Vec3 onto_61{611.0f, 0, 0};
  for (int k = 2; k >= 0; --k) {
    CollisionBody* again = collworld_body_create(nullptr, 1.0f, 1.0f, &onto_61, kBodyMovable | 1u, 1);
    EXPECT_EQ(again, bodies[released[k]]);
  }
  EXPECT_EQ(collworld_body_create(nullptr, 1.0f, 1.0f, nullptr, 1, 1), nullptr);
  // The three reused bodies stand on body 61 and push it; the rest of the
  // list still steps, so untouched bodies keep their places.
  collworld_step();
  Vec3 push{};
  EXPECT_TRUE(collworld_body_push(bodies[61], &push));
  EXPECT_LT(push.x, 0.0f);
  EXPECT_FALSE(collworld_body_push(bodies[1], nullptr));
  EXPECT_EQ(bodies[1]->position.x, 10.0f);
  // Released, a body takes no part in the next step.
  for (int i : released) collworld_body_release(bodies[i]);
  collworld_step();
  EXPECT_FALSE(collworld_body_push(bodies[61], &push));
  EXPECT_EQ(push.x, 0.0f);
  collworld_clear();
}

int callbacks = 0;
void on_hit(RayHit*, Collider*) { ++callbacks; }

TEST(RayCollision, TimedProbeReportsInItsFrameAndIsFreeAfterTheNext) {
  raycol_init();
  callbacks = 0;
  Mat4 owner = at(0, 0, 5);
  Collider* c = collider_create_sphere(nullptr, 1.0f, &owner, 3, collider_next_serial(), 7, 8);
  const Vec3 o{0, 0, 0}, v{0, 0, 10};
  RayProbe* p = ray_probe_create_timed(&o, &v, 10, 1, 2, on_hit, kCategoryAll);
  raycol_update_frame();
  EXPECT_EQ(callbacks, 1);
  EXPECT_TRUE(ray_probe_hit(p));
  EXPECT_NEAR(p->distance, 0.4f, 1e-6f);
  EXPECT_EQ(p->hit.hit_user_a, 7u);
  EXPECT_EQ(c->hit_count, 1u);
  EXPECT_TRUE(c->flags & kColliderProbeHit);
  EXPECT_EQ(ray_probe_find_of_owner(c, 0), p);
  raycol_update_frame();
  EXPECT_EQ(raycol_probe_count(), 0u);
  EXPECT_EQ(callbacks, 1);
  EXPECT_FALSE(ray_probe_hit(p)) << "released";
  EXPECT_EQ(ray_probe_find_of_owner(c, 0), nullptr);

  // A kept probe is measured afresh every pass: moved farther away, the
  // collider is still its nearest hit.
  RayProbe* kept = ray_probe_create(&o, &v, 10, 1, 2, kCategoryAll);
  raycol_update_frame();
  EXPECT_NEAR(kept->distance, 0.4f, 1e-6f);
  owner.m[14] = 7.0f;
  raycol_update_frame();
  ASSERT_TRUE(ray_probe_hit(kept));
  EXPECT_NEAR(kept->distance, 0.6f, 1e-6f);
  EXPECT_NEAR(kept->hit.point.z, 6.0f, 1e-5f);
  EXPECT_EQ(kept->hit.category, 3u);
  EXPECT_EQ(kept->hit.hit_user_b, 8u);
  EXPECT_EQ(kept->hit.user_a, 1u);
  EXPECT_EQ(c->hit_count, 1u);
  // Out of reach: no hit, and the collider's count goes back to 0.
  owner.m[14] = 50.0f;
  raycol_update_frame();
  EXPECT_FALSE(ray_probe_hit(kept));
  EXPECT_EQ(kept->hit_collider, nullptr);
  EXPECT_EQ(c->hit_count, 0u);
  EXPECT_NE(c->flags & kColliderProbeHit, 0u) << "once hit, always marked";
  ray_probe_release(kept);
  ray_probe_release(kept);
  EXPECT_EQ(raycol_probe_count(), 0u);
}

TEST(RayCollision, CategoryFilterSerialWrapAndChainedRelease) {
  raycol_init();
  const Mat4 owner = at(0, 0, 5);
  Collider* a = collider_create_sphere(nullptr, 1.0f, &owner, 3, 1, 0, 0);
  a->chained = collider_create_sphere(nullptr, 1.0f, &owner, 3, 2, 0, 0);
  const Vec3 o{0, 0, 0}, v{0, 0, 10};
  RayProbe* p = ray_probe_create(&o, &v, 10, 0, 0, 4);
  raycol_update_frame();
  EXPECT_FALSE(ray_probe_hit(p));
  collider_release(a);
  EXPECT_EQ(raycol_collider_count(), 0u);
  collider_release(a);
  EXPECT_EQ(raycol_collider_count(), 0u) << "a second release changes nothing";
  for (int i = 0; i < 65535; ++i) collider_next_serial();
  EXPECT_EQ(collider_next_serial(), 1);

  // Releasing the older of two colliders leaves the newer one in the world.
  raycol_init();
  Collider* older = collider_create_sphere(nullptr, 1.0f, &owner, 0, 1, 0, 0);
  Collider* newer = collider_create_sphere(nullptr, 1.0f, &owner, 0, 2, 0, 0);
  collider_release(older);
  EXPECT_EQ(raycol_collider_count(), 1u);
  float t = 0;
  ASSERT_TRUE(ray_cast_segment_t(&o, &v, &t, nullptr, nullptr, 0, kCategoryAll));
  EXPECT_NEAR(t, 0.4f, 1e-6f);
  collider_release(newer);
  EXPECT_FALSE(ray_cast_segment_t(&o, &v, &t, nullptr, nullptr, 0, kCategoryAll));
}

TEST(RayCollision, SphereHitFromInsideIsAtTheOrigin) {
  raycol_init();
  const Mat4 owner = at(0, 0, 0);
  Collider* c = collider_create_sphere(nullptr, 2.0f, &owner, 0, 1, 0, 0);
  const Vec3 o{0, 0, 1}, v{0, 0, 10};
  float t = -1;
  Vec3 point{}, normal{};
  ASSERT_TRUE(collider_test_sphere(c, &o, &v, &t, &point, &normal));
  EXPECT_EQ(t, 0.0f);
  EXPECT_EQ(point.z, 1.0f);
  const Vec3 behind{0, 0, 5};
  EXPECT_FALSE(collider_test_sphere(c, &behind, &v, &t, &point, &normal));
  const Vec3 offset{0, 0, 4};
  collider_set_sphere(c, &offset, 1.0f, 0, 0, 0);
  const Vec3 o2{0, 0, 0};
  ASSERT_TRUE(collider_test_sphere(c, &o2, &v, &t, &point, &normal));
  EXPECT_NEAR(t, 0.3f, 1e-6f);
  EXPECT_NEAR(normal.z, -1.0f, 1e-6f);
}

TEST(RayCollision, PartSphereCollidersCarryNoUserWords) {
  raycol_init();
  const Mat4 owner = at(1, 2, 3);
  const Vec3 offset{0, 1, 0};
  const Collider* c = part_new_sphere_collider(&offset, 0.5f, &owner, 4);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->user_a, 0u);
  EXPECT_EQ(c->user_b, 0u);
  EXPECT_EQ(c->category, 4u);
  EXPECT_EQ(c->radius, 0.5f);
  raycol_init();
}

}  // namespace
