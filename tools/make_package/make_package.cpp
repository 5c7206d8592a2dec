// Writes small data packages into a folder: seeds for the package fuzzer,
// files to try the loader on by hand, and the skinned-mesh and stage
// packages the 3D scene tests load.
#include <cstdio>
#include <string>
#include <vector>

#include "assets/package_builder.h"
#include "scene3d/scene_packages.h"

namespace {

bool write(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

void add(std::vector<uint8_t>* file, uint32_t tag, const Blob& payload) {
  add_chunk(file, tag, version_of(tag), payload);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_package FOLDER\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  std::vector<uint8_t> records, bone, cut, unknown;
  add(&records, CHUNK_TAG_BONE, bone_payload("root", "arm"));
  add(&records, CHUNK_TAG_ANIMATION, animation_payload("walk", "arm", 2, 2));
  add(&records, CHUNK_TAG_COLLISION, collision_payload("floor"));
  add(&records, CHUNK_TAG_SPHERE_SET, sphere_payload("body"));
  add(&records, CHUNK_TAG_CAMERA_PATH, camera_payload("fly", 2));
  add(&records, CHUNK_TAG_CROP, crop_payload());
  add(&records, CHUNK_TAG_TEXTURE, texture_payload("face"));
  add(&bone, CHUNK_TAG_BONE, bone_payload("root_NRx", "arm"));
  cut = records;
  cut.resize(cut.size() - 3);
  add_chunk(&unknown, 0x5A595857, 1, Blob{});
  const bool ok = write(dir + "records.bin", records) && write(dir + "bone.bin", bone) &&
                  write(dir + "truncated.bin", cut) && write(dir + "unknown_tag.bin", unknown) &&
                  write(dir + "skin.bin", skin_package()) && write(dir + "skin128.bin", skin_package(128, 100)) &&
                  write(dir + "skin128l.bin", skin_package(128, 127)) &&
                  write(dir + "skin129.bin", skin_package(129, 128)) && write(dir + "s1.bin", stage_package());
  if (!ok) std::fprintf(stderr, "make_package: cannot write into %s\n", argv[1]);
  return ok ? 0 : 1;
}
