// Queuing a package with its normal-map package, and the handles a preset's
// model is built from.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "assets/asset_registry.h"
#include "assets/model_records.h"
#include "assets/package_builder.h"
#include "assets/package_loader.h"
#include "assets/presets.h"

namespace {

class Presets : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tl_presets_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    RegistryCapacities c = kRegistryCapacities;
    for (int id = ASSET_POOL_MESHES; id < ASSET_POOL_COUNT; ++id) c.pools[id] = {8, 1024, 1u << 14};
    init_asset_registry(c);
    init_package_loader();
    set_package_loader_roots((dir_ + "/").c_str(), (dir_ + "/").c_str(), (dir_ + "/").c_str(), 0);
  }
  void TearDown() override {
    shutdown_package_loader();
    shutdown_asset_registry();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  std::string queued(uint32_t i) const {
    const PackageLoader* l = package_loader();
    return l->head + i < l->tail ? l->queue[(l->head + i) & (kLoadQueueSize - 1)].name : "";
  }
  std::string dir_;
};

TEST_F(Presets, NormalMapPackageIsQueuedFirstWhenItExists) {
  EXPECT_TRUE(load_package_with_maps("plain", 2));
  EXPECT_EQ(queued(0), "plain");
  EXPECT_EQ(queued(1), "");
  FILE* f = std::fopen((dir_ + "/town_NRM.bin").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(load_package_with_maps("town", 2));
  EXPECT_EQ(queued(1), "town_NRM");
  EXPECT_EQ(queued(2), "town");
  EXPECT_FALSE(load_package_with_maps(std::string(70, 'a').c_str(), 0));
  // A map package whose name is too long fails the call, though the
  // package itself is queued.
  const std::string sixty(60, 's');
  f = std::fopen((dir_ + "/" + sixty + "_NRM.bin").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_FALSE(load_package_with_maps(sixty.c_str(), 2));
  EXPECT_EQ(queued(3), sixty);
  EXPECT_EQ(package_loader()->queue[3].flags, 2u);
  reset_package_loader();

  const char* names[] = {"a", nullptr, "b"};
  load_packages(names, 3);
  EXPECT_EQ(queued(0), "a");
  EXPECT_EQ(queued(1), "b");
  EXPECT_EQ(queued(2), "");
  EXPECT_EQ(package_loader()->queue[0].flags, 0u);
}

TEST_F(Presets, PresetModelAssets) {
  const Blob tree = bone_payload("B1", "arm");
  ASSERT_NE(register_bone_tree("T", "B1", tree.bytes.data(), tree.size()), 0u);
  const Blob idle = animation_payload("idle", "arm", 2, 2);
  const Blob other = animation_payload("other", "arm", 2, 2);
  ASSERT_NE(register_animation("x", "other", other.bytes.data(), other.size()), 0u);
  const AssetHandle first = register_animation("Tme", "idle", idle.bytes.data(), idle.size());
  ASSERT_NE(first, 0u);
  PresetModelAssets a;
  ASSERT_TRUE(find_preset_model_assets("T", &a));
  EXPECT_NE(a.bone_tree, 0u);
  EXPECT_EQ(a.animation, first);
  EXPECT_EQ(a.mesh, 0u);  // no "Tdy" mesh loaded
  EXPECT_FALSE(find_preset_model_assets("none", &a));
  EXPECT_EQ(a.bone_tree, 0u);
}

}  // namespace
