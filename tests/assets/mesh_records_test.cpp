// Mesh records on the engine's headless device: device buffers, names and
// entries taken and given back, texture slots resolved by name.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

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
  const int32_t packages = count_packages();
  const uint32_t tags = NAME_TAG_NORMAL_MAP | NAME_TAG_SPECULAR_MAP;
  MdlBuilder cube = mdl_cube();
  cube.bone_count = 2;
  cube.bone_names = {"hip", "knee"};
  std::array<float, 16> offset{};
  for (int k = 0; k < 16; k += 5) offset[size_t(k)] = 1;
  offset[13] = 2.5f;
  cube.bone_matrices = {offset, offset};
  const AssetHandle h = add(cube, "dir\\box.x", tags);
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
  // The bones, named in the bone-name buffer, are the mesh's bone source.
  ASSERT_EQ(o->bone_source.count, 2);
  EXPECT_EQ(o->bone_source.bones, o->bones);
  EXPECT_STREQ(o->bones[1].name, "knee");
  EXPECT_EQ(o->bones[1].name_hash, 0x00D5DA69u);
  EXPECT_EQ(o->bones[0].name_hash, 0x00005943u);
  EXPECT_EQ(o->bones[1].offset.m[13], 2.5f);
  EXPECT_EQ(get_asset_registry()->bone_entries.count, 2);
  EXPECT_EQ(get_asset_registry()->material_entries.count, 1);

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
  EXPECT_EQ(get_asset_registry()->bone_entries.count, 0);
  EXPECT_EQ(get_asset_registry()->bone_entries.names.used, 0u);
  EXPECT_EQ(count_packages(), packages);  // "pkg" and "pkg_NRM" gone
}

// The mesh's first texture is slot 0 of the first material that has one:
// untextured materials and textures not loaded are passed over.
TEST_F(MeshRecords, FirstTextureOfSeveralMaterials) {
  MdlBuilder m = mdl_cube();
  m.materials = {{"", {0, 0, 0}}, {"stone.png", {0, 0, 0}}, {"wood.png", {0, 0, 0}}};
  const AssetHandle h = add(m, "box", 0);
  ASSERT_NE(h, 0);
  const MeshObject* o = get_mesh_object(h);
  ASSERT_EQ(o->info.material_count, 3u);
  EXPECT_EQ(o->materials[0].slot_count, 0);
  EXPECT_STREQ(o->materials[2].texture_names[0], "wood");
  resolve_mesh_textures();
  EXPECT_EQ(o->info.first_texture, 0);
  const AssetHandle wood = create_texture("pkg", "wood", 2, 2, 0);
  resolve_mesh_textures();
  EXPECT_EQ(o->materials[1].textures[0], 0);
  EXPECT_EQ(o->materials[2].textures[0], wood);
  EXPECT_EQ(o->info.first_texture, wood);
  const AssetHandle stone = create_texture("pkg", "stone", 2, 2, 0);
  resolve_mesh_textures();
  EXPECT_EQ(o->materials[1].textures[0], stone);
  EXPECT_EQ(o->info.first_texture, stone);
  // Without the normal-map tag no map slot takes a default texture.
  EXPECT_EQ(o->materials[0].textures[1], 0);
  EXPECT_EQ(get_mesh_tag_flags(h), 0u);
  // The specular tag alone adds no slot and no map package.
  const int32_t packages = count_packages();
  const AssetHandle shiny = add(mdl_cube(), "shiny", NAME_TAG_SPECULAR_MAP);
  ASSERT_NE(shiny, 0);
  EXPECT_EQ(get_mesh_object(shiny)->materials[0].slot_count, 1);
  EXPECT_EQ(get_mesh_tag_flags(shiny), NAME_TAG_SPECULAR_MAP);
  EXPECT_EQ(count_packages(), packages);
}

// A mesh kept across a release must not keep the handle of a texture the
// release took away: the next texture made in that slot is another one.
TEST_F(MeshRecords, ReleasedTexturesLeaveTheMaterials) {
  const AssetHandle h = add(mdl_cube(), "box", 0);
  ASSERT_NE(h, 0);
  RegistryMark mark;
  mark_asset_registry(&mark);
  const AssetHandle wood = create_texture("pkg", "wood", 2, 2, 0);
  ASSERT_NE(wood, 0);
  resolve_mesh_textures();
  const MeshObject* o = get_mesh_object(h);
  ASSERT_EQ(o->materials[0].textures[0], wood);

  release_asset_registry_to_mark(&mark);
  ASSERT_EQ(count_meshes(), 1);
  EXPECT_EQ(o->materials[0].textures[0], 0);
  EXPECT_EQ(o->info.first_texture, 0);
  const AssetHandle stone = create_texture("pkg", "stone", 2, 2, 0);
  EXPECT_EQ(stone, wood) << "the freed slot is taken again";
  EXPECT_EQ(o->materials[0].textures[0], 0);

  // Loaded again, the texture is found again.
  ASSERT_NE(create_texture("pkg", "wood", 2, 2, 0), 0);
  resolve_mesh_textures();
  EXPECT_EQ(o->materials[0].textures[0], find_texture("pkg", "wood"));
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

TEST_F(MeshRecords, BlankMeshesAndTheirBoneSource) {
  const struct {
    uint32_t triangles;
    bool made;
  } cases[] = {{0, false}, {1, true}, {21845, true}, {21846, false}};
  for (const auto& c : cases) {
    const std::string name = "blank" + std::to_string(c.triangles);
    const AssetHandle h = create_blank_mesh("pkg", name.c_str(), c.triangles);
    EXPECT_EQ(h != 0, c.made) << c.triangles;
    if (!c.made) continue;
    const MeshObject* o = get_mesh_object(h);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->info.vertex_count, 3 * c.triangles);
    EXPECT_EQ(o->buffers.index_buffer, nullptr);
    EXPECT_EQ(o->stride, 32u) << "position, normal and one coordinate pair";
    ASSERT_EQ(o->info.material_count, 1u);
    EXPECT_EQ(o->materials[0].words[0], 0u);
    EXPECT_EQ(o->materials[0].words[1], 0u);
    EXPECT_EQ(o->materials[0].words[2], c.triangles - 1);
    EXPECT_EQ(o->materials[0].texture_names[0], nullptr);
    // No bones: an empty bone source.
    EXPECT_EQ(o->bone_source.count, 0);
  }
}

TEST(UnitCube, FacesPointOutAndWindTheSameWay) {
  const UnitCubeData* cube = get_unit_cube_data();
  ASSERT_EQ(cube->vertex_count, 36);
  for (int t = 0; t < 12; ++t) {
    const float* p[3] = {cube->positions[3 * t], cube->positions[3 * t + 1], cube->positions[3 * t + 2]};
    const float* n = cube->normals[3 * t];
    float e1[3], e2[3];
    for (int a = 0; a < 3; ++a) {
      e1[a] = p[1][a] - p[0][a];
      e2[a] = p[2][a] - p[0][a];
    }
    const float cross[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                            e1[0] * e2[1] - e1[1] * e2[0]};
    // Counter-clockwise seen from outside: the winding's normal is the face's.
    EXPECT_GT(cross[0] * n[0] + cross[1] * n[1] + cross[2] * n[2], 0.0f) << t;
    for (int k = 0; k < 3; ++k) {
      const float* q = p[k];
      EXPECT_FLOAT_EQ(q[0] * n[0] + q[1] * n[1] + q[2] * n[2], 0.5f) << t;  // on its face
      for (int a = 0; a < 3; ++a) EXPECT_EQ(std::fabs(q[a]), 0.5f) << t;
    }
  }
}

}  // namespace
