// "TEX " chunks on the engine's headless device: the picture in the payload,
// or a loose ".dds" of the same name in data root 0 when there is one.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "assets/asset_registry.h"
#include "assets/crops.h"
#include "assets/mdl_builder.h"
#include "assets/mesh_records.h"
#include "assets/model_records.h"
#include "assets/package_builder.h"
#include "assets/package_loader.h"
#include "assets/presets.h"
#include "assets/textures.h"
#include "graphics_session.h"
#include "platform/image/image_samples.h"
#include "render/device/gfx_device.h"

namespace {

int32_t fault_code = -1;
void record_fault(int32_t code, const char*) { fault_code = code; }

class PackageTextures : public GraphicsSession {
 protected:
  void SetUp() override {
    start_device(32, 32, "package test");
    RegistryCapacities c = kRegistryCapacities;
    for (int id = ASSET_POOL_MESHES; id < ASSET_POOL_COUNT; ++id) c.pools[id] = {4, 256, 1024};
    init_asset_registry(c);
    char pattern[] = "/tmp/tl_pkgtex_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    init_package_loader();
    set_package_loader_roots((dir_ + "/").c_str(), (dir_ + "/").c_str(), (dir_ + "/").c_str(), 1);
    set_package_loader_fault_handler(record_fault);
    fault_code = -1;
  }
  void TearDown() override {
    set_package_loader_fault_handler(nullptr);
    shutdown_package_loader();
    shutdown_asset_registry();
    GraphicsSession::TearDown();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  void write(const std::string& name, const Bytes& bytes) {
    FILE* f = std::fopen((dir_ + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  // A "TEX " payload holding the picture under name.
  static Blob texture_chunk(const char* name, const Bytes& picture) {
    Blob b;
    const uint32_t name_at = b.u32(0);
    const uint32_t data_at = b.u32(0);
    b.u32(static_cast<uint32_t>(picture.size()));
    b.set(data_at, b.size());
    b.bytes.insert(b.bytes.end(), picture.begin(), picture.end());
    while (b.bytes.size() % 4) b.bytes.push_back(0);
    b.set(name_at, b.str(name));
    return b;
  }
  // A package of one "TEX " chunk.
  void write_package(const char* package, const char* name, const Bytes& picture) {
    std::vector<uint8_t> file;
    add_chunk(&file, CHUNK_TAG_TEXTURE, version_of(CHUNK_TAG_TEXTURE), texture_chunk(name, picture));
    write(std::string(package) + ".bin", file);
  }
  // Queue flag bit 1 asks for mip chains.
  void load(const char* package, uint32_t flags = 2) {
    ASSERT_TRUE(enqueue_package(package, flags));
    run();
  }
  void run() {
    for (int i = 0; i < 100 && loader_step() == 1; ++i) {
    }
  }
  std::string dir_;
};

TEST_F(PackageTextures, PayloadPictureAndLooseFile) {
  write_package("pkg", "dir\\face.png", write_png(sample_gradient(8, 4), PngKind::RGBA8));
  load("pkg");
  EXPECT_EQ(fault_code, -1);
  const TextureObject* t = get_texture_object(find_texture("pkg", "face"));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->width, 8);
  EXPECT_EQ(t->flags & TEXTURE_FLAG_MIP_CHAIN, TEXTURE_FLAG_MIP_CHAIN);
  // Without queue flag bit 1, one level only.
  write_package("flat", "face.png", write_png(sample_gradient(8, 4), PngKind::RGBA8));
  load("flat", ~2u);
  t = get_texture_object(find_texture("flat", "face"));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->flags & TEXTURE_FLAG_MIP_CHAIN, 0);

  // A loose file in data root 0 takes the chunk's place, whatever the
  // preferred root.
  write_package("other", "skin.png", write_png(sample_gradient(8, 4), PngKind::RGBA8));
  write("skin.dds", write_dds_masked(sample_gradient(16, 2), 32));
  load("other");
  EXPECT_EQ(fault_code, -1);
  t = get_texture_object(find_texture("other", "skin"));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->width, 16);
  EXPECT_EQ(t->flags & TEXTURE_FLAG_MIP_CHAIN, TEXTURE_FLAG_MIP_CHAIN);
}

// A category of "tex.lst" loads its textures from the texture root into the
// package of its name, then its crops, which find those textures.
TEST_F(PackageTextures, CategoryTexturesThenCrops) {
  write("sheet.png", write_png(sample_gradient(8, 4), PngKind::RGBA8));
  const std::string list = "*cat ui *tex sheet.png *size 8 4 *crop 2 1 4 2 half *tex gone.png\n";
  write("tex.lst", Bytes(list.begin(), list.end()));
  set_package_loader_roots((dir_ + "/").c_str(), (dir_ + "/").c_str(), (dir_ + "/").c_str(), 0);
  load("ui", 0);
  EXPECT_EQ(fault_code, -1);
  const AssetHandle sheet = find_texture("ui", "sheet");
  ASSERT_NE(sheet, 0u);
  EXPECT_EQ(get_texture_object(sheet)->flags & TEXTURE_FLAG_MIP_CHAIN, 0);
  EXPECT_EQ(find_texture("ui", "gone"), 0u);  // a file that is not there is passed over
  const CropRecord* half = get_crop_record(find_crop("ui", "half"));
  ASSERT_NE(half, nullptr);
  EXPECT_EQ(half->texture, sheet);
  EXPECT_FLOAT_EQ(half->u, 0.25f);
  EXPECT_FLOAT_EQ(half->v, 0.25f);
  EXPECT_FLOAT_EQ(half->width, 0.5f);
  EXPECT_FLOAT_EQ(half->height, 0.5f);
  EXPECT_TRUE(is_package_loaded("ui"));
}

// Mesh materials find their textures once the queue has run empty, also
// textures that come after the mesh in its package.
TEST_F(PackageTextures, MeshesFindTexturesLoadedAfterThem) {
  MdlBuilder box = mdl_cube();
  box.materials[0].texture = "dir\\face.png";
  std::vector<uint8_t> file;
  add_chunk(&file, CHUNK_TAG_MESH, version_of(CHUNK_TAG_MESH), box.build());
  add_chunk(&file, CHUNK_TAG_TEXTURE, version_of(CHUNK_TAG_TEXTURE),
            texture_chunk("face.png", write_png(sample_gradient(8, 4), PngKind::RGBA8)));
  write("box.bin", file);
  load("box", 0);
  EXPECT_EQ(fault_code, -1);
  const AssetHandle face = find_texture("box", "face");
  ASSERT_NE(face, 0u);
  const MeshObject* mesh = get_mesh_object(find_mesh("box", "mesh"));
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ(mesh->materials[0].textures[0], face);
  EXPECT_EQ(mesh->info.first_texture, face);
}

// A mesh tagged "NRx" takes as its normal map the texture named after its own
// with "_normal" in the package named after its own with "_NRM", whichever of
// the two packages loads first; the default "nrm" stands in only while that
// texture is not there. The maps package is loaded once.
TEST_F(PackageTextures, NormalMapsComeFromTheMapsPackage) {
  MdlBuilder box = mdl_cube();
  box.name = "mesh_NRx";
  box.materials[0].texture = "dir\\face.png";
  std::vector<uint8_t> file;
  add_chunk(&file, CHUNK_TAG_MESH, version_of(CHUNK_TAG_MESH), box.build());
  write("box.bin", file);
  write_package("box_NRM", "face_normal.png", write_png(sample_gradient(8, 4), PngKind::RGBA8));
  const struct {
    const char* what;
    std::function<void()> load;
  } orders[] = {
      {"the maps package queued first, as presets queue it",
       [this] {
         ASSERT_TRUE(load_package_with_maps("box", 0));
         run();
       }},
      {"the maps package loaded after the mesh's",
       [this] {
         load("box", 0);
         load("box_NRM", 0);
       }},
  };
  for (const auto& c : orders) {
    SCOPED_TRACE(c.what);
    RegistryMark mark;
    mark_asset_registry(&mark);
    c.load();
    EXPECT_EQ(fault_code, -1);
    const MeshObject* mesh = get_mesh_object(find_mesh("box", "mesh"));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->materials[0].slot_count, 2);
    const AssetHandle map = find_texture("box_NRM", "face_normal");
    EXPECT_NE(map, 0u);
    EXPECT_EQ(mesh->materials[0].textures[1], map);
    EXPECT_NE(mesh->materials[0].textures[1], get_normal_texture());
    // The maps package, textures alone, counts as loaded: queued again, it
    // is passed over rather than read a second time.
    EXPECT_TRUE(is_package_loaded("box_NRM"));
    ASSERT_TRUE(enqueue_package("box_NRM", 0));
    EXPECT_EQ(loader_step(), 0);
    release_asset_registry_to_mark(&mark);
  }
}

TEST_F(PackageTextures, AnUnreadablePictureIsRefused) {
  write_package("pkg", "face.png", Bytes{1, 2, 3, 4});
  load("pkg");
  EXPECT_EQ(fault_code, 13);
}

}  // namespace
