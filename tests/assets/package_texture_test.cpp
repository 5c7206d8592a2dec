// "TEX " chunks on the engine's headless device: the picture in the payload,
// or a loose ".dds" of the same name in data root 0 when there is one.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "assets/asset_registry.h"
#include "assets/package_builder.h"
#include "assets/package_loader.h"
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
    init_asset_registry();
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
  // A package of one "TEX " chunk holding the picture under name.
  void write_package(const char* package, const char* name, const Bytes& picture) {
    Blob b;
    const uint32_t name_at = b.u32(0);
    const uint32_t data_at = b.u32(0);
    b.u32(static_cast<uint32_t>(picture.size()));
    b.set(data_at, b.size());
    b.bytes.insert(b.bytes.end(), picture.begin(), picture.end());
    while (b.bytes.size() % 4) b.bytes.push_back(0);
    b.set(name_at, b.str(name));
    std::vector<uint8_t> file;
    add_chunk(&file, CHUNK_TAG_TEXTURE, version_of(CHUNK_TAG_TEXTURE), b);
    write(std::string(package) + ".bin", file);
  }
  void load(const char* package) {
    ASSERT_TRUE(enqueue_package(package, kLoadFlagMipChain));
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

  // A loose file in data root 0 takes the chunk's place, whatever the
  // preferred root.
  write_package("other", "skin.png", write_png(sample_gradient(8, 4), PngKind::RGBA8));
  write("skin.dds", write_dds_masked(sample_gradient(16, 2), 32));
  load("other");
  EXPECT_EQ(fault_code, -1);
  t = get_texture_object(find_texture("other", "skin"));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->width, 16);
}

TEST_F(PackageTextures, AnUnreadablePictureIsRefused) {
  write_package("pkg", "face.png", Bytes{1, 2, 3, 4});
  load("pkg");
  EXPECT_EQ(fault_code, 13);
}

}  // namespace
