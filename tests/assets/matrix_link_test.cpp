#include <gtest/gtest.h>

#include "assets/asset_registry.h"
#include "assets/link_pool.h"
#include "assets/matrix_stack.h"
#include "assets/model_records.h"
#include "assets/registry_internal.h"

namespace {

class AssetStore : public ::testing::Test {
 protected:
  void SetUp() override {
    RegistryCapacities c = kRegistryCapacities;
    c.pools[ASSET_POOL_MESHES] = {4, 64, 0};
    init_asset_registry(c);
  }
  void TearDown() override { shutdown_asset_registry(); }

  // Meshes are made by the mesh decoder; the link pool needs only records.
  static AssetHandle add_mesh(const char* package, const char* name) {
    AssetPool<MeshRecord>& pool = registry_block().meshes;
    const Registration r = begin_registration(pool, package, name);
    return r.index < 0 ? r.handle : finish_registration(pool, r);
  }
};

TEST_F(AssetStore, MatrixStackDepthLimits) {
  EXPECT_EQ(matrix_stack_depth(), 0);
  Mat4 identity;
  mat4_identity(&identity);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(matrix_stack_top()->m[k], identity.m[k]) << k;
  EXPECT_EQ(matrix_stack_parent(), nullptr);
  for (int i = 0; i < 70; ++i) matrix_stack_push();
  EXPECT_EQ(matrix_stack_depth(), 63);
  for (int i = 0; i < 70; ++i) matrix_stack_pop();
  EXPECT_EQ(matrix_stack_depth(), 0);
  for (int i = 0; i < 63; ++i) matrix_stack_push();
  EXPECT_EQ(matrix_stack_depth(), 63);
  EXPECT_EQ(matrix_stack_parent(), matrix_stack_top() - 1);
}

TEST_F(AssetStore, MatrixStackComposesTheGivenTransformFirst) {
  Mat4 translate, scale;
  const Vec3 t = {10, 0, 0};
  mat4_translation(&translate, &t);
  mat4_identity(&scale);
  scale.m[0] = 2;
  matrix_stack_load(&translate);
  matrix_stack_push();
  matrix_stack_multiply(&scale);  // scale, then translate
  Vec3 p = {1, 0, 0}, out;
  mat4_transform_point(&out, matrix_stack_top(), &p);
  EXPECT_FLOAT_EQ(out.x, 12.0f);
  // The level below keeps what was pushed.
  mat4_transform_point(&out, matrix_stack_parent(), &p);
  EXPECT_FLOAT_EQ(out.x, 11.0f);
  matrix_stack_load(nullptr);
  mat4_transform_point(&out, matrix_stack_top(), &p);
  EXPECT_FLOAT_EQ(out.x, 1.0f);
}

TEST_F(AssetStore, LinkPoolHoldsTenNodes) {
  ASSERT_NE(add_mesh("m", "wheel"), 0u);
  const uint32_t word = 7;

  link_chain_begin();
  EXPECT_FALSE(link_chain_append("m", "missing", nullptr));
  LinkNode* empty = reinterpret_cast<LinkNode*>(1);
  EXPECT_FALSE(link_chain_commit(&empty));
  EXPECT_EQ(empty, nullptr);
  EXPECT_EQ(link_pool_in_use(), 0);

  LinkNode* chains[2] = {};
  for (LinkNode*& chain : chains) {
    link_chain_begin();
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(link_chain_append("m", "wheel", &word));
    ASSERT_TRUE(link_chain_commit(&chain));
  }
  EXPECT_EQ(link_pool_in_use(), 10);
  EXPECT_EQ(chains[0]->mesh, 1u);
  EXPECT_EQ(chains[0]->word, 7u);
  EXPECT_EQ(chains[0]->value, 0.0f);
  EXPECT_EQ(chains[0]->info, get_mesh_record(1)->info);
  // Chains are built from the free list in node order.
  EXPECT_EQ(chains[0], &get_asset_registry()->links.nodes[0]);
  EXPECT_EQ(chains[1], &get_asset_registry()->links.nodes[5]);

  int length = 0;
  for (LinkNode* n = chains[1]; n; n = n->next) ++length;
  EXPECT_EQ(length, 5);

  link_chain_begin();
  EXPECT_FALSE(link_chain_append("m", "wheel", nullptr));  // the 11th node

  link_chain_free(chains[0]);
  link_chain_free(chains[0]);  // twice: refused, the free list stays a list
  EXPECT_EQ(link_pool_in_use(), 5);
  link_chain_begin();
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(link_chain_append("m", "wheel", nullptr));
  EXPECT_FALSE(link_chain_append("m", "wheel", nullptr));
  LinkNode* again = nullptr;
  EXPECT_TRUE(link_chain_commit(&again));
  EXPECT_EQ(again, chains[0]) << "a freed chain is the front of the free list";
  EXPECT_EQ(again->word, 0u);
  EXPECT_EQ(link_pool_in_use(), 10);
  EXPECT_EQ(link_pool_peak(), 10);
  link_chain_free(again);
  link_chain_free(chains[1]);
  EXPECT_EQ(link_pool_in_use(), 0);
  link_chain_begin();
  EXPECT_TRUE(link_chain_append("m", "wheel", nullptr));
  LinkNode* front = nullptr;
  EXPECT_TRUE(link_chain_commit(&front));
  EXPECT_EQ(front, chains[1]);
}

}  // namespace
