#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "assets/asset_registry.h"
#include "assets/crops.h"
#include "assets/textures.h"

namespace {

RegistryCapacities small_names(uint32_t crop_name_bytes) {
  RegistryCapacities c = kRegistryCapacities;
  c.pools[ASSET_POOL_CROPS].name_bytes = crop_name_bytes;
  return c;
}

AssetHandle crop(const char* package, const char* name) { return register_crop(package, name, 0, 0, 1, 1, "tex"); }

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { init_asset_registry(); }
  void TearDown() override { shutdown_asset_registry(); }
};

TEST(AssetHash, KnownValuesAndCollisions) {
  // Past five characters the register's top bits leave it and the
  // polynomial comes in.
  const struct {
    const char* name;
    uint32_t hash;
  } cases[] = {
      {"abc", 0x00021471u},        {"a", 0x21u},          {"!", 0x21u},
      {"arm", 0x000214EDu},        {"abcdefgh", 0x2509E6BCu}, {"0123456789", 0x691FB154u},
      {"town_wall", 0x15CC381Cu},  {"\x83\x5c\x95\x5c", 0x00C0EA8Eu}, {"", 0u},
  };
  for (const auto& c : cases) EXPECT_EQ(hash_name(c.name), c.hash) << c.name;
  EXPECT_EQ(hash_name(static_cast<const char*>(nullptr)), 0u);
  EXPECT_EQ(hash_name(std::string_view("abc\0def", 3)), 0x00021471u);
  // Only the six low bits of each character count.
  EXPECT_EQ(hash_name("!\"#$%&'("), 0x2509E6BCu);
  EXPECT_EQ(hash_name("\xe1\xe2\xe3\xe4\xe5\xe6\xe7\xe8"), 0x2509E6BCu);
}

TEST_F(Registry, ProgramCapacities) {
  const int32_t records[ASSET_POOL_COUNT] = {16, 50, 100, 16, 1, 1, 1, 1, 1, 1, 1, 1};
  const uint32_t names[ASSET_POOL_COUNT] = {128, 1024, 1024, 384, 1, 1, 1, 1, 1, 1, 1, 1};
  for (int id = 0; id < ASSET_POOL_COUNT; ++id) {
    const PoolState* p = get_asset_pool(static_cast<AssetPoolId>(id));
    EXPECT_EQ(p->capacity, records[id]) << id;
    EXPECT_EQ(p->names.size, names[id]) << id;
  }
}

TEST_F(Registry, SameHashNamesAreToldApartByName) {
  const AssetHandle a = crop("p", "a");
  const AssetHandle bang = crop("p", "!");
  EXPECT_EQ(a, 1u);
  EXPECT_EQ(bang, 2u);
  EXPECT_EQ(find_crop("p", "a"), a);
  EXPECT_EQ(find_crop("p", "!"), bang);
  EXPECT_EQ(find_crop(nullptr, "!"), bang);
  // Packages of one hash are told apart too, in the package pool and in
  // the finds.
  const AssetHandle in_a = crop("a", "x");
  const AssetHandle in_bang = crop("!", "x");
  ASSERT_NE(in_a, in_bang);
  EXPECT_EQ(find_crop("!", "x"), in_bang);
  EXPECT_EQ(find_crop("a", "x"), in_a);
  const AssetHandle package = find_package("!");
  ASSERT_NE(package, 0u);
  EXPECT_NE(package, find_package("a"));
  EXPECT_STREQ(get_package_record(package)->name, "!");
  EXPECT_EQ(get_package_record(package)->hash, 0x21u);
  EXPECT_EQ(intern_package_name("!"), get_package_record(package)->name);
  EXPECT_EQ(get_crop_package(in_bang), get_package_record(package)->name);
  // "@" and "@@" hash to 0, as no package does: their records are still
  // told apart by name, and neither is a record without a package.
  const AssetHandle none = crop(nullptr, "y");
  const AssetHandle at = crop("@", "y");
  const AssetHandle at_at = crop("@@", "y");
  ASSERT_EQ(hash_name("@@"), 0u);
  ASSERT_NE(at, none);
  ASSERT_NE(at, at_at);
  EXPECT_EQ(find_crop("@@", "y"), at_at);
  EXPECT_EQ(find_crop("@", "y"), at);
  EXPECT_EQ(find_crop("", "y"), none);
  EXPECT_EQ(get_crop_package(none), nullptr);
}

// A crop taken out by hand is cleared but keeps its place in the pool. Only
// the newest gives back its name's bytes: an older one's lie under the
// names of newer crops.
TEST_F(Registry, UnregisteredCropsKeepTheirPlace) {
  const AssetHandle older = register_crop("p", "older", 0.5f, 0, 1, 1, nullptr);
  const AssetHandle newer = register_crop("p", "newer", 0.25f, 0, 1, 1, nullptr);
  const uint32_t used = get_asset_pool(ASSET_POOL_CROPS)->names.used;
  unregister_crop(older);
  EXPECT_EQ(count_crops(), 2);
  EXPECT_EQ(get_crop_record(older)->u, 0.0f);
  EXPECT_EQ(get_crop_name(older), nullptr);
  EXPECT_EQ(find_crop("p", "older"), 0u);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_CROPS)->names.used, used);
  EXPECT_STREQ(get_crop_name(newer), "newer");
  unregister_crop(newer);
  EXPECT_EQ(count_crops(), 2);
  EXPECT_EQ(get_crop_name(newer), nullptr);
  EXPECT_EQ(find_crop("p", "newer"), 0u);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_CROPS)->names.used, used - 6);
  unregister_crop(0);
  unregister_crop(newer + 1);
  EXPECT_EQ(count_crops(), 2);
  const AssetHandle next = register_crop("p", "newer", 0, 0, 1, 1, nullptr);
  EXPECT_EQ(next, newer + 1);
  EXPECT_STREQ(get_crop_name(next), "newer");
}

TEST_F(Registry, FindWithAndWithoutPackage) {
  const AssetHandle first = crop("p1", "x");
  const AssetHandle second = crop("p2", "x");
  ASSERT_NE(first, second);
  EXPECT_EQ(find_crop(nullptr, "x"), first);  // the oldest in any package
  EXPECT_EQ(find_crop("p1", "x"), first);
  EXPECT_EQ(find_crop("p2", "x"), second);
  EXPECT_EQ(find_crop("p3", "x"), 0u);
  EXPECT_EQ(find_crop("p2", "y"), 0u);
  EXPECT_STREQ(get_crop_package(second), "p2");
  EXPECT_EQ(find_package("p2"), find_package("p1") + 1);
  EXPECT_EQ(find_package(nullptr), 0u);
}

TEST_F(Registry, DuplicateRegistrationReturnsTheFirstHandle) {
  const int32_t packages = count_packages();
  const AssetHandle first = register_crop("p", "dir\\c.png", 0.25f, 0, 1, 1, nullptr);
  const uint32_t used = get_asset_pool(ASSET_POOL_CROPS)->names.used;
  EXPECT_EQ(register_crop("p", "c", 0.5f, 0, 1, 1, nullptr), first);
  EXPECT_EQ(count_crops(), 1);
  EXPECT_EQ(count_packages(), packages + 1);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_CROPS)->names.used, used);
  EXPECT_FLOAT_EQ(get_crop_record(first)->u, 0.25f);
  EXPECT_STREQ(get_crop_name(first), "c");
}

TEST_F(Registry, InvalidHandlesGiveNull) {
  const AssetHandle h = crop("p", "a");
  RegistryMark mark;
  for (AssetHandle bad : {AssetHandle{0}, AssetHandle{h + 1}}) {
    EXPECT_EQ(get_crop_record(bad), nullptr);
    EXPECT_EQ(get_crop_name(bad), nullptr);
    EXPECT_EQ(get_crop_package(bad), nullptr);
    EXPECT_EQ(get_texture_record(bad), nullptr);
  }
  EXPECT_EQ(get_package_record(0), nullptr);
  EXPECT_EQ(get_package_record(count_packages() + 1), nullptr);
  mark_asset_registry(&mark);
  const AssetHandle released = crop("p", "b");
  release_asset_registry_to_mark(&mark);
  EXPECT_EQ(get_crop_record(released), nullptr);
  EXPECT_EQ(get_crop_name(released), nullptr);
}

TEST(RegistryNames, NameBufferBoundary) {
  // An 8-byte buffer holds at most 7 bytes of names with terminators.
  struct Case {
    std::string name;
    bool fits;
  } cases[] = {{"abcdefg", false}, {"abcdef", true}};
  for (const Case& c : cases) {
    init_asset_registry(small_names(8));
    const AssetHandle h = crop("p", c.name.c_str());
    EXPECT_EQ(h != 0, c.fits) << c.name;
    EXPECT_EQ(count_crops(), c.fits ? 1 : 0) << c.name;
    if (h) {
      EXPECT_STREQ(get_crop_name(h), c.name.c_str());
    }
    shutdown_asset_registry();
  }
  // A full buffer refuses the next name instead of adding a nameless record.
  init_asset_registry(small_names(8));
  EXPECT_NE(crop("p", "abc"), 0u);
  EXPECT_EQ(crop("p", "def"), 0u);
  EXPECT_EQ(count_crops(), 1);
  EXPECT_EQ(crop("p", "d"), 2u);
  shutdown_asset_registry();
}

TEST_F(Registry, FullPackagePoolOrBufferRefusesTheRegistration) {
  for (int i = 0; count_packages() < 16; ++i) EXPECT_NE(intern_package_name(std::to_string(i).c_str()), nullptr);
  EXPECT_EQ(intern_package_name("late"), nullptr);
  EXPECT_EQ(count_packages(), 16);
  // The crop must not slip in without its package.
  EXPECT_EQ(crop("late", "c"), 0u);
  EXPECT_EQ(count_crops(), 0);
  EXPECT_NE(crop("3", "c"), 0u);

  init_asset_registry();
  // Without a device the default textures are not made, yet "disp" is kept.
  ASSERT_LE(get_asset_pool(ASSET_POOL_PACKAGES)->names.used, 5u);
  const std::string long_name(58, 'n');
  EXPECT_NE(intern_package_name((long_name + "1").c_str()), nullptr);
  EXPECT_NE(intern_package_name((long_name + "2").c_str()), nullptr);
  EXPECT_EQ(intern_package_name((long_name + "3").c_str()), nullptr);
  EXPECT_EQ(find_package((long_name + "3").c_str()), 0u);
  EXPECT_EQ(crop((long_name + "3").c_str(), "c"), 0u);
  EXPECT_EQ(intern_package_name(nullptr), nullptr);
}

TEST_F(Registry, ReleaseToMarkRestoresEveryCount) {
  crop("base", "keep");
  const int32_t crops_before = count_crops();
  const int32_t packages_before = count_packages();
  const uint32_t crop_names = get_asset_pool(ASSET_POOL_CROPS)->names.used;
  const uint32_t package_names = get_asset_pool(ASSET_POOL_PACKAGES)->names.used;

  RegistryMark older;
  mark_asset_registry(&older);
  crop("p", "one");
  RegistryMark newer;
  mark_asset_registry(&newer);
  crop("q", "two");
  crop("q", "three");
  EXPECT_EQ(count_crops(), crops_before + 3);

  release_asset_registry_to_mark(&newer);
  EXPECT_EQ(count_crops(), crops_before + 1);
  EXPECT_EQ(find_crop("q", "two"), 0u);
  EXPECT_NE(find_crop("p", "one"), 0u);

  release_asset_registry_to_mark(&older);
  EXPECT_EQ(count_crops(), crops_before);
  EXPECT_EQ(count_packages(), packages_before);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_CROPS)->names.used, crop_names);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_PACKAGES)->names.used, package_names);
  EXPECT_NE(find_crop("base", "keep"), 0u);

  // A second release, or one to a mark never taken, changes nothing.
  crop("r", "after");
  release_asset_registry_to_mark(&older);
  RegistryMark never = {};
  release_asset_registry_to_mark(&never);
  EXPECT_EQ(count_crops(), crops_before + 1);
  // A mark newer than the pool changes nothing either.
  release_asset_registry_to_mark(&newer);
  EXPECT_EQ(count_crops(), crops_before + 1);

  // Names freed by a release are used again.
  RegistryMark again;
  mark_asset_registry(&again);
  const uint32_t used = get_asset_pool(ASSET_POOL_CROPS)->names.used;
  crop("r", "x");
  release_asset_registry_to_mark(&again);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_CROPS)->names.used, used);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_CROPS)->peak_count, crops_before + 3);
  // "keep", "one", "two" and "three" with their terminators at most.
  EXPECT_EQ(get_asset_pool(ASSET_POOL_CROPS)->names.peak, 5u + 4u + 4u + 6u);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_PACKAGES)->names.peak, package_names + 2u + 2u);  // "p", "q"
  EXPECT_EQ(get_asset_pool(ASSET_POOL_DEPTH_SURFACES)->names.peak, 0u);
}

// The pool walkers visit the records and change nothing.
TEST_F(Registry, PoolWalkersChangeNothing) {
  crop("p", "a");
  crop("p", "b");
  const uint32_t names = get_asset_pool(ASSET_POOL_CROPS)->names.used;
  for (void (*walk)() : {walk_mesh_pool, walk_texture_pool, walk_crop_pool, walk_bone_tree_pool,
                         walk_animation_pool, walk_collision_pool, walk_sphere_set_pool, walk_camera_path_pool}) {
    walk();
  }
  EXPECT_EQ(count_crops(), 2);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_CROPS)->names.used, names);
  EXPECT_STREQ(get_crop_name(2), "b");
}

TEST_F(Registry, WithoutADeviceTexturesAreRefused) {
  for (AssetHandle h : {get_white_texture(), get_black_texture(), get_green_texture(), get_cyan_texture(),
                        get_magenta_texture(), get_normal_texture()}) {
    EXPECT_EQ(h, 0u);
  }
  EXPECT_EQ(create_texture("p", "t", 4, 4, 0), 0u);
  EXPECT_EQ(count_textures(), 0);
  EXPECT_EQ(get_asset_pool(ASSET_POOL_TEXTURES)->names.used, 0u);
  EXPECT_EQ(asset_texture_bytes(), 0);
  // A crop of a texture that is not there is still a crop.
  const AssetHandle c = register_crop("p", "c", 0, 0, 1, 1, "t");
  ASSERT_NE(c, 0u);
  EXPECT_EQ(get_crop_record(c)->texture, 0u);
  EXPECT_EQ(register_crop_of_texture("p", "d", 0, 0, 1, 1, 1), 0u);
  set_crop_pixels(c, 0, 0, 1, 1, 7);
  EXPECT_EQ(get_crop_record(c)->width, 0.0f);
}

TEST(RegistryLifetime, MarksWorkBeforeInitAndAfterShutdown) {
  shutdown_asset_registry();
  RegistryMark mark;
  mark_asset_registry(&mark);
  EXPECT_EQ(mark.valid, 1u);
  EXPECT_EQ(crop("p", "c"), 0u);
  EXPECT_EQ(intern_package_name("p"), nullptr);
  release_asset_registry_to_mark(&mark);
  EXPECT_EQ(count_crops(), 0);
  EXPECT_EQ(get_white_texture(), 0u);
}

TEST(RegistryLifetime, ShutdownReleasesEverything) {
  init_asset_registry();
  crop("p", "c");
  shutdown_asset_registry();
  EXPECT_EQ(count_crops(), 0);
  EXPECT_EQ(count_packages(), 0);
  init_asset_registry();
  EXPECT_EQ(count_crops(), 0);
  EXPECT_EQ(crop("p", "c"), 1u);
  shutdown_asset_registry();
}

}  // namespace
