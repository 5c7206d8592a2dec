// Mesh records on the engine's headless device: device buffers, names and
// entries taken and given back, texture slots resolved by name.
#include <gtest/gtest.h>

#include "assets/asset_names.h"
#include "assets/asset_registry.h"
#include "assets/mdl_builder.h"
#include "assets/mesh_decoder.h"
#include "assets/mesh_records.h"
#include "assets/model_records.h"
#include "assets/textures.h"
#include "graphics_session.h"
#include "render/device/gfx_device.h"

namespace {

class MeshRecords : public GraphicsSession {
 protected:
  void SetUp() override {
    start_device(32, 32, "mesh test");
    RegistryCapacities c = kRegistryCapacities;
    for (int id = ASSET_POOL_MESHES; id < ASSET_POOL_COUNT; ++id) c.pools[id] = {4, 256, 1024};
    init_asset_registry(c);
  }
  void TearDown() override {
    shutdown_asset_registry();
    GraphicsSession::TearDown();
  }
  AssetHandle add(const MdlBuilder& m, const char* name, uint32_t tags) {
    const Blob b = m.build();
    DecodedMesh d{};
    EXPECT_TRUE(decode_mesh(&d, "pkg", b.view(), 0, tags));
    const AssetHandle h = register_mesh("pkg", name, d, tags);
    free_decoded_mesh(&d);
    return h;
  }
};

TEST_F(MeshRecords, RegisterResolveAndRelease) {
  RegistryMark mark;
  mark_asset_registry(&mark);
  const uint32_t tags = NAME_TAG_NORMAL_MAP | NAME_TAG_SPECULAR_MAP;
  const AssetHandle h = add(mdl_cube(), "dir\\box.x", tags);
  ASSERT_NE(h, 0);
  EXPECT_EQ(find_mesh("pkg", "box"), h);
  EXPECT_EQ(add(mdl_cube(), "box", tags), h);  // found, not added again
  EXPECT_EQ(count_meshes(), 1);
  const MeshObject* o = get_mesh_object(h);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->info.vertex_count, 24u);
  EXPECT_EQ(o->info.index_count, 36u);
  EXPECT_EQ(o->buffers.index_count, 36u);
  EXPECT_EQ(get_mesh_info(h), &o->info);
  EXPECT_EQ(get_mesh_tag_flags(h), tags);
  EXPECT_EQ(asset_mesh_bytes(), int64_t(24) * o->stride + 36 * 2);
  ASSERT_NE(o->materials, nullptr);
  const MaterialEntry& e = o->materials[0];
  EXPECT_EQ(e.slot_count, 3);
  EXPECT_STREQ(e.texture_names[0], "wood");
  EXPECT_STREQ(e.texture_names[1], "wood_normal");
  EXPECT_STREQ(e.texture_names[2], "wood_specular");
  EXPECT_STREQ(e.packages[1], "pkg_NRM");
  EXPECT_EQ(e.words[1], 2u);

  // Missing maps take the defaults; a texture loaded later is found by the
  // next resolution.
  resolve_mesh_textures();
  EXPECT_EQ(e.textures[0], 0);
  EXPECT_EQ(e.textures[1], get_asset_registry()->default_textures[DEFAULT_TEXTURE_NORMAL]);
  EXPECT_EQ(e.textures[2], get_asset_registry()->default_textures[DEFAULT_TEXTURE_BLACK]);
  const AssetHandle wood = create_texture("pkg", "wood", 2, 2, 0);
  ASSERT_NE(wood, 0);
  resolve_mesh_textures();
  EXPECT_EQ(e.textures[0], wood);
  EXPECT_EQ(o->info.first_texture, wood);

  release_asset_registry_to_mark(&mark);
  EXPECT_EQ(count_meshes(), 0);
  EXPECT_EQ(asset_mesh_bytes(), 0);
  EXPECT_EQ(get_asset_registry()->material_entries.count, 0);
  EXPECT_EQ(get_asset_registry()->material_entries.names.used, 0u);
  EXPECT_EQ(get_asset_registry()->meshes.names.used, 0u);
}

TEST_F(MeshRecords, RefusedWhenTheEntriesDoNotFit) {
  MdlBuilder m = mdl_cube();
  for (int i = 0; i < 4; ++i) m.materials.push_back({"", {0, 0, 0}});  // 5 entries, 4 free
  EXPECT_EQ(add(m, "big", 0), 0);
  EXPECT_EQ(count_meshes(), 0);
  EXPECT_EQ(get_asset_registry()->meshes.names.used, 0u);
  EXPECT_EQ(get_asset_registry()->material_entries.names.used, 0u);
  EXPECT_EQ(asset_mesh_bytes(), 0);
  // The same mesh with room registers.
  EXPECT_NE(add(mdl_cube(), "small", 0), 0);
}

}  // namespace
