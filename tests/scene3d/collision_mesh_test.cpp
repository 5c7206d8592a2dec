#include <gtest/gtest.h>

#include <cmath>

#include "assets/asset_registry.h"
#include "assets/model_records.h"
#include "scene3d/coll_builder.h"
#include "scene3d/collision_world.h"
#include "scene3d/ray_collision.h"
#include "scene3d/sphere_world.h"

namespace {

RegistryCapacities roomy() {
  RegistryCapacities c = kRegistryCapacities;
  for (int id = ASSET_POOL_MESHES; id < ASSET_POOL_COUNT; ++id) c.pools[id] = {16, 4096, 1u << 18};
  return c;
}

class CollisionMesh : public ::testing::Test {
 protected:
  void SetUp() override {
    init_asset_registry(roomy());
    raycol_init();
    sphereworld_init();
  }
  void TearDown() override { shutdown_asset_registry(); }

  AssetHandle add(const CollBuilder& b, const char* name) {
    const Blob blob = b.build(name);
    return register_collision("pkg", name, blob.bytes.data(), blob.size());
  }
};

Mat4 at(float x, float y, float z) {
  Mat4 m;
  const Vec3 p{x, y, z};
  return *mat4_translation(&m, &p);
}

// A 2x2 floor at y = 0 over [0, 2] x [0, 2] under one quad node, attributes
// 10 to 13 by cell; cell 3 also holds a raised triangle at y = 1 (attribute
// 20); a shared triangle at y = 0.5 across x = 1 (attribute 30) lies in cells
// 0 and 1.
CollBuilder floor_model(bool with_tree) {
  CollBuilder b;
  for (uint32_t i = 0; i < 4; ++i) b.cells.push_back(floor_cell(float(i % 2), float(i / 2), 0.0f, 1.0f, 10 + i));
  b.cells[3].push_back(CollTri{{1.2f, 1, 1.2f}, {1.8f, 1, 1.2f}, {1.8f, 1, 1.8f}, 20});
  b.shared.push_back({CollTri{{0.8f, 0.5f, 0.1f}, {1.2f, 0.5f, 0.1f}, {1.2f, 0.5f, 0.5f}, 30}, {0, 1}});
  if (with_tree) b.levels.push_back({CollNode{{0, 1, 2, 3}}});
  return b;
}

struct RayCase {
  const char* name;
  Vec3 origin, vector;
  bool hit;
  float t;
  uint32_t attribute;
};

TEST_F(CollisionMesh, SegmentsHitTheNearestTriangleOrMiss) {
  const RayCase cases[] = {
      {"down onto a floor cell", {0.5f, 5, 0.2f}, {0, -10, 0}, true, 0.5f, 10},
      {"raised triangle before the floor", {1.7f, 5, 1.3f}, {0, -10, 0}, true, 0.4f, 20},
      {"shared triangle before the floor", {1.1f, 5, 0.2f}, {0, -10, 0}, true, 0.45f, 30},
      {"along the diagonal edge", {0.5f, 5, 0.5f}, {0, -10, 0}, true, 0.5f, 10},
      {"through a vertex four cells share", {1, 5, 1}, {0, -10, 0}, true, 0.5f, 10},
      {"ends exactly on the floor", {0.5f, 1, 0.2f}, {0, -1, 0}, true, 1.0f, 10},
      {"starts on the floor", {0.5f, 0, 0.2f}, {0, -1, 0}, true, 0.0f, 10},
      {"stops short", {0.5f, 5, 0.2f}, {0, -4, 0}, false, 0, 0},
      {"beside the model", {3, 5, 0.2f}, {0, -10, 0}, false, 0, 0},
      {"from below: back faces", {0.5f, -5, 0.2f}, {0, 10, 0}, false, 0, 0},
      {"zero vector", {0.5f, 0, 0.2f}, {0, 0, 0}, false, 0, 0},
  };
  for (bool tree : {false, true}) {
    // Without levels only leaf 0 is searched: rebuild the model with one
    // cell holding everything.
    CollBuilder b = floor_model(tree);
    if (!tree) {
      CollBuilder flat;
      flat.cells.resize(1);
      for (const auto& cell : b.cells) flat.cells[0].insert(flat.cells[0].end(), cell.begin(), cell.end());
      flat.shared = b.shared;
      b = flat;
    }
    const AssetHandle h = add(b, tree ? "tree" : "flat");
    ASSERT_NE(h, 0u);
    const CollisionRecord* rec = get_collision_record(h);
    for (const RayCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (tree ? " (tree)" : " (flat)"));
      float t = -1;
      Vec3 normal{};
      uint32_t attribute = 0;
      ASSERT_EQ(ray_cast_model_t(rec, nullptr, &c.origin, &c.vector, &t, &normal, &attribute), c.hit);
      if (!c.hit) continue;
      EXPECT_NEAR(t, c.t, 1e-6f);
      // In the flat model every floor triangle carries its cell's attribute.
      if (tree || c.attribute >= 20) {
        EXPECT_EQ(attribute, c.attribute);
      }
      EXPECT_NEAR(normal.y, 1.0f, 1e-6f);
    }
  }
}

TEST_F(CollisionMesh, MatrixMovesTheQueryAndTurnsTheNormal) {
  const AssetHandle h = add(floor_model(true), "m");
  const CollisionRecord* rec = get_collision_record(h);
  // Scaled by 2 about the origin, turned a quarter about z (x up), moved.
  Mat4 m{};
  m.m[1] = 2;    // x -> +y
  m.m[4] = -2;   // y -> -x
  m.m[10] = 2;   // z -> z
  m.m[12] = 10;  // moved along x
  m.m[15] = 1;
  // The floor now stands at world x = 10, facing -x, over y in [0, 4].
  const Vec3 o{0, 1, 0.4f}, v{20, 0, 0};
  Vec3 point{}, normal{}, slide{};
  uint32_t attribute = 0;
  ASSERT_TRUE(ray_cast_model_ex(rec, &m, &o, &v, &point, &slide, &normal, &attribute));
  EXPECT_NEAR(point.x, 10.0f, 1e-4f);
  EXPECT_NEAR(normal.x, -2.0f, 1e-5f);  // turned, not renormalised
  EXPECT_NEAR(slide.x, 10.0f, 1e-4f);
  EXPECT_NEAR(slide.y, 1.0f, 1e-4f);
  EXPECT_EQ(attribute, 10u);
  const Vec3 away{0, -1, 0.4f};
  EXPECT_FALSE(ray_cast_model(rec, &m, &away, &v, &point, nullptr, nullptr));
  // The leaf's box in the world: its centre moved, its half extents those of
  // the box round the turned one (cell 0: centre (0.5, 0, 0.5), half (0.5,
  // 0, 0.5); scaled by 2 and turned, x becomes y).
  ModelHit hit;
  ASSERT_TRUE(ray_intersect_model_ex(rec, &m, &o, &v, &hit));
  EXPECT_NEAR(hit.leaf_box[0].x, 10.0f, 1e-5f);
  EXPECT_NEAR(hit.leaf_box[0].y, 1.0f, 1e-5f);
  EXPECT_NEAR(hit.leaf_box[0].z, 1.0f, 1e-5f);
  EXPECT_NEAR(hit.leaf_box[1].x, 0.0f, 1e-5f);
  EXPECT_NEAR(hit.leaf_box[1].y, 1.0f, 1e-5f);
  EXPECT_NEAR(hit.leaf_box[1].z, 1.0f, 1e-5f);
  EXPECT_NEAR(hit.triangle[1].y, 2.0f, 1e-5f) << "the corner (1, 0, 0) turned and scaled";
}

TEST_F(CollisionMesh, CollidersCastBySerialCategoryAndNearestFirst) {
  const AssetHandle h = add(floor_model(true), "floor");
  const Mat4 low = at(0, 0, 0), high = at(0, 2, 0), same = at(0, 0, 0);
  Collider* a = collider_create_mesh(h, &low, 1, 1, 0, 5);
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(a->user_a), "floor");
  EXPECT_EQ(collider_create_mesh(0, &low, 1, 1, 0, 0), nullptr);
  Collider* b = collider_create_mesh(h, &high, 2, 2, 7, 0);
  const Vec3 o{0.5f, 5, 0.2f}, v{0, -10, 0};
  Vec3 point{}, normal{};
  uint32_t attribute = 0;
  ASSERT_TRUE(ray_cast_segment(&o, &v, &point, &normal, &attribute, 0, kCategoryAll));
  EXPECT_NEAR(point.y, 2.0f, 1e-5f);
  ASSERT_TRUE(ray_cast_segment(&o, &v, &point, nullptr, nullptr, 2, kCategoryAll));
  EXPECT_NEAR(point.y, 0.0f, 1e-5f);
  ASSERT_TRUE(ray_cast_segment(&o, &v, &point, nullptr, nullptr, 0, 1));
  EXPECT_NEAR(point.y, 0.0f, 1e-5f);
  EXPECT_FALSE(ray_cast_segment(&o, &v, &point, nullptr, nullptr, 0, 3));

  // Equal hits: the newer collider (front of the used list) wins.
  collider_release(b);
  Collider* twin = collider_create_mesh(h, &same, 1, 3, 0, 9);
  RayProbe* p = ray_probe_create(&o, &v, 10, 0, 0, kCategoryAll);
  raycol_update_frame();
  ASSERT_TRUE(ray_probe_hit(p));
  EXPECT_EQ(p->hit_collider, twin);
  EXPECT_NEAR(p->distance, 0.5f, 1e-6f);
  EXPECT_EQ(p->hit.attribute, 10u);
  EXPECT_EQ(p->hit.hit_user_b, 9u);

  // ray_cast_segment_t also sees sphere colliders; the other casts do not.
  const Mat4 ball = at(0.5f, 3, 0.2f);
  collider_create_sphere(nullptr, 0.5f, &ball, 1, 4, 0, 0);
  float t = 0;
  ASSERT_TRUE(ray_cast_segment_t(&o, &v, &t, &normal, &attribute, 0, kCategoryAll));
  EXPECT_NEAR(t, 0.15f, 1e-5f);
  EXPECT_EQ(attribute, 0u);
  ASSERT_TRUE(ray_cast_segment(&o, &v, &point, nullptr, nullptr, 0, kCategoryAll));
  EXPECT_NEAR(point.y, 0.0f, 1e-5f);

  Vec3 tri[3], box[2];
  ASSERT_TRUE(ray_cast_segment_ex(&o, &v, &point, &normal, &attribute, tri, box, 0, kCategoryAll));
  EXPECT_NEAR(box[0].x, 0.5f, 1e-6f);  // cell 0's box
  EXPECT_NEAR(box[1].x, 0.5f, 1e-6f);
  EXPECT_EQ(tri[0].x, 0.0f);
  collider_release(a);
}

TEST_F(CollisionMesh, DownwardCastFindsTheGroundOnBothPaths) {
  const AssetHandle h = add(floor_model(true), "ground");
  struct DownCase {
    const char* name;
    Mat4 owner;
    Vec3 point;
    bool hit;
    float height;
  };
  Mat4 turned = at(0, 1, 0);
  turned.m[0] = 0;  // a quarter about y: x -> -z, z -> x
  turned.m[2] = -1;
  turned.m[8] = 1;
  turned.m[10] = 0;
  const DownCase cases[] = {
      {"identity", at(0, 0, 0), {0.5f, 3, 0.2f}, true, 0.0f},
      {"identity, raised triangle", at(0, 0, 0), {1.7f, 3, 1.3f}, true, 1.0f},
      {"identity, shared vertex", at(0, 0, 0), {1, 3, 1}, true, 0.0f},
      {"identity, edge of the model", at(0, 0, 0), {2, 3, 0.5f}, true, 0.0f},
      {"identity, beside", at(0, 0, 0), {2.5f, 3, 0.5f}, false, 0},
      {"moved", at(5, -1, 0), {5.5f, 3, 0.2f}, true, -1.0f},
      {"turned", turned, {0.2f, 3, -0.5f}, true, 1.0f},
  };
  for (const DownCase& c : cases) {
    SCOPED_TRACE(c.name);
    raycol_init();
    Collider* col = collider_create_mesh(h, &c.owner, 0, 1, 0, 0);
    ASSERT_NE(col, nullptr);
    float height = -99;
    Vec3 normal{};
    uint32_t attribute = 0;
    ASSERT_EQ(ray_cast_down(&c.point, &height, &normal, &attribute, 0, kCategoryAll), c.hit);
    if (c.hit) {
      EXPECT_NEAR(height, c.height, 1e-3f);
      EXPECT_NEAR(normal.y, 1.0f, 1e-5f);
    }
    // Not a ground collider any more: nothing below.
    col->flags &= ~kColliderGround;
    EXPECT_FALSE(ray_cast_down(&c.point, &height, &normal, &attribute, 0, kCategoryAll));
  }
}

struct SweepCase {
  const char* name;
  Vec3 centre;
  float radius;
  bool hit;
  Vec3 contact;
  float depth;
};

TEST_F(CollisionMesh, SphereSweepTouchesFacesEdgesAndVertices) {
  // One big up-facing triangle (0,0,0) (4,0,0) (4,0,4) under a moved matrix.
  CollBuilder b;
  b.cells.push_back({CollTri{{0, 0, 0}, {4, 0, 0}, {4, 0, 4}, 7}});
  const AssetHandle h = add(b, "tri");
  const CollisionRecord* rec = get_collision_record(h);
  const Mat4 moved = at(100, 0, 0);
  const float kCos45 = std::cos(1.5707963705062866f * 0.5f);
  const SweepCase cases[] = {
      {"face", {3, 0.5f, 1}, 1.0f, true, {3, 0, 1}, kCos45},
      {"on the face", {3, 0, 1}, 1.0f, true, {3, 0, 1}, 1.0f},
      {"edge", {2, 0, -0.5f}, 1.0f, true, {2, 0, 0}, kCos45},
      // Ranked and weighed by the distance from the nearest edge's line.
      {"vertex", {4.3f, 0, -0.4f}, 1.0f, true, {4, 0, 0}, std::cos(0.3f * 1.5707963705062866f)},
      {"too far above", {3, 1.5f, 1}, 1.0f, false, {}, 0},
      {"beside", {6, 0, 1}, 1.0f, false, {}, 0},
  };
  for (const SweepCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Vec3 world{c.centre.x + 100, c.centre.y, c.centre.z};
    Vec3 contact{}, normal{};
    float depth = -1;
    uint32_t attribute = 0;
    ASSERT_EQ(sphere_cast_model(rec, &moved, &world, c.radius, &contact, &depth, &normal, &attribute), c.hit);
    if (!c.hit) continue;
    // The contact comes back in world space.
    EXPECT_NEAR(contact.x, c.contact.x + 100, 1e-4f);
    EXPECT_NEAR(contact.y, c.contact.y, 1e-5f);
    EXPECT_NEAR(contact.z, c.contact.z, 1e-5f);
    EXPECT_NEAR(depth, c.depth, 1e-4f);
    EXPECT_NEAR(normal.y, 1.0f, 1e-6f);
    EXPECT_EQ(attribute, 7u);
  }
}

TEST_F(CollisionMesh, SharedTrianglesPastTheirCountAreNeverTouched) {
  // Cell 0 a floor at y = 0 over [0, 1] x [0, 1]; shared triangles of cell 0,
  // the first off to the side, the second at y = 0.5 over the floor. With a
  // count of 1 the second one's bytes still follow the first.
  CollBuilder b;
  b.cells.push_back(floor_cell(0, 0, 0.0f, 1.0f, 10));
  b.shared.push_back({CollTri{{0, 0.5f, 5}, {1, 0.5f, 5}, {1, 0.5f, 6}, 30}, {0}});
  b.shared.push_back({CollTri{{0, 0.5f, 0}, {1, 0.5f, 0}, {1, 0.5f, 1}, 31}, {0}});
  const struct {
    const char* name;
    uint32_t count;
    uint32_t ray_attribute;
    bool sphere_hit;
  } cases[] = {{"both", 2, 31, true}, {"the first only", 1, 10, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Blob blob = b.build(c.name);
    blob.set(76, c.count);
    const CollisionRecord* rec = get_collision_record(register_collision("pkg", c.name, blob.bytes.data(), blob.size()));
    ASSERT_NE(rec, nullptr);
    const Vec3 o{0.75f, 1, 0.25f}, down{0, -2, 0}, centre{0.75f, 0.6f, 0.25f};
    uint32_t attribute = 0;
    EXPECT_TRUE(ray_cast_model(rec, nullptr, &o, &down, nullptr, nullptr, &attribute));
    EXPECT_EQ(attribute, c.ray_attribute);
    EXPECT_EQ(sphere_cast_model(rec, nullptr, &centre, 0.2f, nullptr, nullptr, nullptr, nullptr), c.sphere_hit);
  }
}

TEST(RayCollision, LinesAndSegmentsPassWithinASphereOrNot) {
  // The sphere at the origin; each line runs along x, offset in y and z.
  const struct {
    const char* name;
    Vec3 a, b;
    bool line, segment;
  } cases[] = {
      {"through the centre", {-2, 0, 0}, {2, 0, 0}, true, true},
      {"grazing inside", {-2, 0.3f, 0.3f}, {2, 0.3f, 0.3f}, true, true},
      {"passing at 0.8", {-2, 0, 0.8f}, {2, 0, 0.8f}, false, false},
      {"passing at 0.6 across y and z", {-2, 0.36f, 0.48f}, {2, 0.36f, 0.48f}, false, false},
      {"ending short of it", {-3, 0, 0}, {-1, 0, 0}, true, false},
      {"ending on its surface", {-3, 0, 0}, {-0.5f, 0, 0}, true, true},
      {"starting past it", {1, 0.1f, 0}, {3, 0.1f, 0}, true, false},
      {"a point inside", {0.2f, 0, 0}, {0.2f, 0, 0}, false, true},
  };
  const Vec3 centre{0, 0, 0};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Vec3 v;
    vec3_sub(&v, &c.b, &c.a);
    EXPECT_EQ(ray_passes_within(&c.a, &v, &centre, 0.5f), c.line);
    EXPECT_EQ(segment_passes_within(&c.a, &c.b, &centre, 0.5f), c.segment);
    EXPECT_EQ(sphereworld_segment_hits_sphere(&c.a, &c.b, &centre, 0.5f), c.segment);
  }
}

TEST_F(CollisionMesh, TrianglesWithoutANormalAreNeverHit) {
  // Its corners on one line: no normal, so neither rays nor spheres touch it.
  CollBuilder b;
  b.cells.push_back({CollTri{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, 5}});
  b.shared.push_back({CollTri{{0, 0, 1}, {1, 0, 1}, {2, 0, 1}, 6}, {0}});
  const AssetHandle h = add(b, "line");
  const CollisionRecord* rec = get_collision_record(h);
  ASSERT_NE(rec, nullptr);
  const Vec3 o{1, 1, 0}, down{0, -2, 0}, o2{1, 1, 1};
  EXPECT_FALSE(ray_cast_model(rec, nullptr, &o, &down, nullptr, nullptr, nullptr));
  EXPECT_FALSE(ray_cast_model(rec, nullptr, &o2, &down, nullptr, nullptr, nullptr));
  const Vec3 on{1, 0, 0}, on_shared{1, 0, 1};
  EXPECT_FALSE(sphere_cast_model(rec, nullptr, &on, 1.0f, nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(sphere_cast_model(rec, nullptr, &on_shared, 1.0f, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(CollisionMesh, SphereWorldQueriesTrianglesMeshesAndSpheres) {
  const Mat4 ma = at(0, 0.5f, 0), mb = at(3, 0.25f, 0);
  SphereWorldObject* a = sphereworld_create_object(nullptr, &ma, 1, 0, 1.0f);
  SphereWorldObject* b = sphereworld_create_object(nullptr, &mb, 2, 0, 1.0f);
  ASSERT_TRUE(a && b);
  sphereworld_update();

  // Triangle (normal from its corners: up for this winding).
  const Vec3 t0{-10, 0, -10}, t1{-10, 0, 10}, t2{10, 0, 0};
  Vec3 point{};
  float weight = 0;
  ASSERT_TRUE(sphereworld_query_triangle(&t0, &t1, &t2, nullptr, &point, &weight, 3, false));
  EXPECT_NEAR(point.x, 3.0f, 1e-5f);  // b's contact lies nearer its centre
  EXPECT_NEAR(weight, std::cos(1.5707963705062866f * 0.25f), 1e-5f);
  ASSERT_TRUE(sphereworld_query_triangle(&t0, &t1, &t2, nullptr, &point, &weight, 1, false));
  EXPECT_NEAR(point.x, 0.0f, 1e-5f);
  EXPECT_FALSE(sphereworld_query_triangle(&t0, &t1, &t2, nullptr, &point, &weight, 4, false));
  // Beyond the edge x = -10 the nearest edge point is the contact.
  const Mat4 mc = at(-10.5f, 0, 2);
  SphereWorldObject* c = sphereworld_create_object(nullptr, &mc, 4, 0, 1.0f);
  ASSERT_TRUE(sphereworld_query_triangle(&t0, &t1, &t2, nullptr, &point, &weight, 4, false));
  EXPECT_NEAR(point.x, -10.0f, 1e-5f);
  EXPECT_NEAR(point.z, 2.0f, 1e-5f);
  EXPECT_NEAR(weight, std::cos(1.5707963705062866f * 0.5f), 1e-5f);
  // A degenerate edge (two equal corners) that the sphere reaches gives its
  // corner, not a division by zero.
  const Vec3 d0{-10, 0, 2}, d1{-10, 0, 10}, up{0, 1, 0};
  ASSERT_TRUE(sphereworld_query_triangle(&d0, &d0, &d1, &up, &point, &weight, 4, false));
  EXPECT_EQ(point.x, -10.0f);
  EXPECT_EQ(point.z, 2.0f);
  EXPECT_NEAR(weight, 1.0f, 1e-6f);
  sphereworld_release_object(c);

  // Sphere: touching counts; the point lies on the hit sphere toward the
  // query centre; the object nearest the query centre wins.
  const Vec3 q{1.5f, 0.5f, 0};
  ASSERT_TRUE(sphereworld_query_sphere(&q, 0.5f, &point, 3, false));
  EXPECT_NEAR(point.x, 1.0f, 1e-5f);
  const Vec3 touching{0, 2.5f, 0};
  EXPECT_TRUE(sphereworld_query_sphere(&touching, 1.0f, nullptr, 1, false));
  const Vec3 apart{0, 2.6f, 0};
  EXPECT_FALSE(sphereworld_query_sphere(&apart, 1.0f, nullptr, 1, false));

  // Collision mesh under a moved matrix: contacts in world space, nearest to
  // its object's position.
  CollBuilder floor;
  floor.cells.push_back(floor_cell(-5, -5, 0, 10, 3));
  const AssetHandle h = add(floor, "ground");
  const Mat4 lift = at(0, 0.1f, 0);
  Vec3 normal{};
  float depth = 0;
  uint32_t attribute = 0;
  ASSERT_TRUE(sphereworld_query_collision_mesh(h, &lift, &point, &depth, &normal, &attribute, 3, false));
  EXPECT_NEAR(point.x, 3.0f, 1e-5f);
  EXPECT_NEAR(point.y, 0.1f, 1e-5f);
  EXPECT_NEAR(depth, std::cos(1.5707963705062866f * 0.15f), 1e-5f);
  EXPECT_EQ(attribute, 3u);
  EXPECT_FALSE(sphereworld_query_collision_mesh(0, &lift, &point, &depth, &normal, &attribute, 3, false));
  EXPECT_FALSE(sphereworld_query_collision_mesh(h, &lift, &point, &depth, &normal, &attribute, 8, false));
}

TEST_F(CollisionMesh, PerSphereQueriesUseEachSphereOfASet) {
  // Spheres (r 1 at (3, 4, 0)) and (r 2 at the origin).
  const Blob set = sphere_payload("pair");
  const AssetHandle h = register_sphere_set("pkg", "pair", set.bytes.data(), set.size());
  ASSERT_NE(h, 0u);
  const Mat4 m = at(10, 0, 0);
  ASSERT_NE(sphereworld_create_object_from_set(h, &m, 1, 0), nullptr);
  sphereworld_update();
  Vec3 point{};
  const Vec3 q{13, 5.5f, 0};
  ASSERT_TRUE(sphereworld_query_sphere(&q, 0.5f, &point, 1, true));
  EXPECT_NEAR(point.y, 5.0f, 1e-5f);
  EXPECT_FALSE(sphereworld_query_sphere(&q, 0.4f, &point, 1, true));
  // Taken whole, an object is its own sphere only: one of the same set made
  // with radius 1 is not reached at q, though its first sphere is.
  sphereworld_init();
  ASSERT_NE(sphereworld_create_object(get_sphere_set_record(h), &m, 1, 0, 1.0f), nullptr);
  sphereworld_update();
  EXPECT_TRUE(sphereworld_query_sphere(&q, 0.5f, &point, 1, true));
  EXPECT_FALSE(sphereworld_query_sphere(&q, 0.5f, &point, 1, false));
  const Vec3 beside{10, 1.5f, 0};
  ASSERT_TRUE(sphereworld_query_sphere(&beside, 0.5f, &point, 1, false));
  EXPECT_NEAR(point.y, 1.0f, 1e-5f);
}

// Trees that break their own rules: the query still finds the floor when
// the tree cannot be trusted, and never reads outside the payload.
struct BadTreeCase {
  const char* name;
  void (*spoil)(CollBuilder* b, Blob* blob);
};

uint32_t node_array(const Blob& b, uint32_t level) {
  return payload_u32(b.view(), payload_u32(b.view(), 80) + 28 * level + 24);
}

TEST_F(CollisionMesh, MalformedTreesNeverOverrunAndLoseNoHit) {
  const BadTreeCase cases[] = {
      {"child index past the cells", [](CollBuilder*, Blob* b) { b->set(node_array(*b, 0) + 44, 9999); }},
      {"node array past the end",
       [](CollBuilder*, Blob* b) { b->set(payload_u32(b->view(), 80) + 24, b->size() - 8); }},
      {"huge top count", [](CollBuilder*, Blob* b) { b->set(payload_u32(b->view(), 80), 0xFFFFFFF0u); }},
      {"no end mark", [](CollBuilder*, Blob* b) { b->set(payload_u32(b->view(), 80) + 16, 0); }},
      {"huge child count", [](CollBuilder*, Blob* b) { b->set(node_array(*b, 0), 0x40000000u); }},
      {"shared list past the end",
       [](CollBuilder*, Blob* b) { b->set(payload_u32(b->view(), 72) + 76, b->size() - 4); }},
  };
  for (const BadTreeCase& c : cases) {
    SCOPED_TRACE(c.name);
    CollBuilder builder = floor_model(true);
    Blob blob = builder.build("bad");
    c.spoil(&builder, &blob);
    init_asset_registry(roomy());
    const AssetHandle h = register_collision("pkg", "bad", blob.bytes.data(), blob.size());
    if (h == 0) continue;  // refused at registration: nothing to query
    const CollisionRecord* rec = get_collision_record(h);
    const Vec3 o{0.5f, 5, 0.2f}, v{0, -10, 0};
    float t = 0;
    EXPECT_TRUE(ray_cast_model_t(rec, nullptr, &o, &v, &t, nullptr, nullptr));
    ModelHit hit;
    EXPECT_TRUE(ray_intersect_model_down(rec, nullptr, &o, &hit));
    const Vec3 centre{0.5f, 0.2f, 0.2f};
    EXPECT_TRUE(sphere_cast_model(rec, nullptr, &centre, 0.5f, nullptr, nullptr, nullptr, nullptr));
  }
}

struct WideCase {
  const char* name;
  uint32_t cells;
  bool two_levels;  // nodes of four nodes of one cell, instead of nodes of four cells
};

TEST_F(CollisionMesh, WideTreesAndManyLeavesLoseNoHit) {
  // Cells in a row along x, each a small floor square, all crossed by a ray
  // along the row: more leaves than the candidate list holds, and in the
  // one-level case more than the node ring holds.
  const WideCase cases[] = {{"ring overflows", 300, false}, {"candidate list overflows", 160, true}};
  for (const WideCase& c : cases) {
    SCOPED_TRACE(c.name);
    init_asset_registry(roomy());
    CollBuilder b;
    for (uint32_t i = 0; i < c.cells; ++i) b.cells.push_back(floor_cell(float(i), 0, 0, 1, i));
    std::vector<CollNode> top, lower;
    for (uint32_t n = 0; n < c.cells / 4; ++n) top.push_back(CollNode{{4 * n, 4 * n + 1, 4 * n + 2, 4 * n + 3}});
    b.levels.push_back(top);
    if (c.two_levels) {
      for (uint32_t i = 0; i < c.cells; ++i) lower.push_back(CollNode{{i}});
      b.levels.push_back(lower);
    }
    // A wall across the row, facing +x, listed by one cell past the first 128.
    const float x = float(c.cells) - 9.5f;
    b.shared.push_back({CollTri{{x, -1, 0}, {x, -1, 1}, {x, 1, 0}, 999}, {c.cells - 10}});
    const AssetHandle h = add(b, "row");
    ASSERT_NE(h, 0u);
    const CollisionRecord* rec = get_collision_record(h);
    // Along the floor's plane from beyond the far end: every leaf passes.
    const float reach = float(c.cells) + 1;
    const Vec3 o{reach, 0, 0.25f}, v{-reach, 0, 0};
    float t = 0;
    uint32_t attribute = 0;
    ASSERT_TRUE(ray_cast_model_t(rec, nullptr, &o, &v, &t, nullptr, &attribute));
    EXPECT_EQ(attribute, 999u);
    EXPECT_NEAR(t, (reach - x) / reach, 1e-5f);
    // Straight down at the far end: found through the tree walk as well.
    const Vec3 o2{float(c.cells) - 0.5f, 3, 0.5f}, down{0, -10, 0};
    ASSERT_TRUE(ray_cast_model_t(rec, nullptr, &o2, &down, &t, nullptr, &attribute));
    EXPECT_EQ(attribute, c.cells - 1);
  }
}

TEST_F(CollisionMesh, ProbesCullByTheModelsPlacedBoundingSphere) {
  // A floor far from the model's origin, under an owner moved along z.
  CollBuilder b;
  b.cells.push_back(floor_cell(100, 0, 0, 1, 4));
  const AssetHandle h = add(b, "far");
  const Mat4 owner = at(0, 0, 50);
  Collider* c = collider_create_mesh(h, &owner, 6, 1, 0, 0);
  ASSERT_NE(c, nullptr);
  const Vec3 o{100.5f, 5, 50.5f}, v{0, -10, 0};
  RayProbe* hit = ray_probe_create(&o, &v, 10, 0, 0, 6);
  RayProbe* other = ray_probe_create(&o, &v, 10, 0, 0, 7);
  const Vec3 beside{102.5f, 5, 50.5f};
  RayProbe* miss = ray_probe_create(&beside, &v, 10, 0, 0, kCategoryAll);
  raycol_update_frame();
  ASSERT_TRUE(ray_probe_hit(hit));
  EXPECT_NEAR(hit->hit.point.y, 0.0f, 1e-5f);
  EXPECT_EQ(hit->hit.attribute, 4u);
  EXPECT_FALSE(ray_probe_hit(other));
  EXPECT_FALSE(ray_probe_hit(miss));
  EXPECT_EQ(c->hit_count, 1u);
  // Re-targeted to a model without a record: nothing changes.
  collider_set_model(c, 0, 9, 1, 1);
  EXPECT_EQ(c->category, 6u);
  // A disabled sphere re-targeted to the model keeps its flags, serial and
  // owner, and takes the model's words and bounding sphere.
  const Vec3 offset{0, 1, 0};
  Collider* s = collider_create_sphere(&offset, 2.0f, &owner, 1, 33, 0, 0);
  ASSERT_NE(s, nullptr);
  s->flags &= ~kColliderEnabled;
  const uint32_t flags = s->flags;
  collider_set_model(s, h, 8, 0, 4);
  EXPECT_EQ(s->flags, flags);
  EXPECT_EQ(s->serial, 33);
  EXPECT_EQ(s->owner, &owner);
  EXPECT_EQ(s->model, get_collision_record(h));
  EXPECT_EQ(s->category, 8u);
  EXPECT_STREQ(reinterpret_cast<const char*>(s->user_a), "far");
  EXPECT_EQ(s->user_b, 4u);
  EXPECT_EQ(s->centre.x, 100.5f);
  EXPECT_EQ(s->centre.z, 0.5f);
  EXPECT_NEAR(s->radius, std::sqrt(0.5f), 1e-3f);
}

struct PlacementCase {
  const char* name;
  uint32_t mask_b;
  bool contact;
  float move;
};

TEST(CollisionWorldSteps, BodiesArePlacedByTheirOwnersAndMasksMustMeet) {
  const PlacementCase cases[] = {
      {"masks meet", 1, true, 0.25f},
      {"b refuses a's group", 2, false, 0.0f},
  };
  for (const PlacementCase& c : cases) {
    SCOPED_TRACE(c.name);
    collworld_init();
    // Owners 1.5 apart along z; the bodies sit 0.5 to the side of them.
    const Mat4 oa = at(10, 0, 0), ob = at(10, 0, 1.5f);
    const Vec3 side{0.5f, 0, 0};
    CollisionBody* a = collworld_body_create(&oa, 1.0f, 1.0f, &side, kBodyMovable | 1u, 1);
    CollisionBody* b = collworld_body_create(&ob, 1.0f, 1.0f, &side, kBodyMovable | 1u, c.mask_b);
    collworld_step();
    EXPECT_NEAR(a->position.x, 10.5f, 1e-6f);
    Vec3 pa{}, pb{};
    EXPECT_EQ(collworld_body_push(a, &pa), c.contact);
    EXPECT_EQ(collworld_body_push(b, &pb), c.contact);
    EXPECT_NEAR(pa.z, -c.move, 1e-6f);
    EXPECT_NEAR(pb.z, c.move, 1e-6f);
    // The next step starts again from the owners.
    collworld_step();
    EXPECT_NEAR(b->position.z, 1.5f + c.move, 1e-6f);
  }
  collworld_clear();
  EXPECT_EQ(collworld_count(), 0u);
}

}  // namespace
