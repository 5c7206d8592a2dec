// Data packages of the 3D scene tests, written by tools/make_package:
// "skin", a mesh of two quads (the left weighted to bone "a", the right to
// bone "b") with the bone tree a -> b, both bones at the origin; the same
// quads under longer bone lists, "b" at another index, for the palette's
// limits (skin_package's arguments); and "s1",
// the stage of the stage scene: the model "s1_s" with a node naming the
// cube mesh "rock", the wall "s1_wall" (a collision mesh and a cube mesh of
// that name) and the bone tree "s1_dummy" whose node "spot" stands 5 along
// x.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "assets/mdl_builder.h"
#include "assets/package_builder.h"

// bones names the mesh's bone list: "a" first, "b" at index b, the rest
// named after their index and absent from the tree.
inline std::vector<uint8_t> skin_package(uint32_t bones = 2, uint8_t b = 1) {
  MdlBuilder m;
  m.name = "quads";
  m.triangles = 4;
  m.positions = {-3, 1, 0, -1, 1, 0, -3, -1, 0, -1, -1, 0, 1, 1, 0, 3, 1, 0, 1, -1, 0, 3, -1, 0};
  m.normals = {0, 0, -1};
  m.coords = {0, 0};
  m.skinned = 1;
  m.bone_count = bones;
  const std::array<float, 16> identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  for (uint32_t i = 0; i < bones; ++i) {
    m.bone_names.push_back(i == 0 ? "a" : i == b ? "b" : "n" + std::to_string(i));
    m.bone_matrices.push_back(identity);
  }
  // Entry 0: bone "a" with the whole weight; entry 1: bone "b".
  for (uint8_t bone : {uint8_t(0), b}) {
    std::array<uint8_t, 20> r{};
    r[0] = bone;
    const float one = 1.0f;
    std::memcpy(r.data() + 4, &one, 4);
    m.skin.push_back(r);
  }
  for (uint16_t quad = 0; quad < 2; ++quad) {
    for (uint16_t c : {0, 1, 2, 2, 1, 3}) {
      m.position_index.push_back(uint16_t(quad * 4 + c));
      m.normal_index.push_back(0);
      m.coord_index.push_back(0);
      m.skin_index.push_back(quad);
    }
  }
  m.materials.push_back({"", {0, 4, 0}});
  const float sphere[5] = {0, 0, 0, 0, 3.2f};
  for (int k = 0; k < 5; ++k) m.sphere[k] = sphere[k];
  std::vector<uint8_t> file;
  add_chunk(&file, CHUNK_TAG_MESH, version_of(CHUNK_TAG_MESH), m.build());
  add_chunk(&file, CHUNK_TAG_BONE, version_of(CHUNK_TAG_BONE), bone_payload("a", "b", 0.0f, 0.0f));
  return file;
}

inline std::vector<uint8_t> stage_package() {
  MdlBuilder rock = mdl_cube();
  rock.name = "rock";
  rock.materials[0] = {"", {0, 12, 0}};
  MdlBuilder wall = rock;
  wall.name = "s1_wall";
  std::vector<uint8_t> file;
  add_chunk(&file, CHUNK_TAG_MESH, version_of(CHUNK_TAG_MESH), rock.build());
  add_chunk(&file, CHUNK_TAG_MESH, version_of(CHUNK_TAG_MESH), wall.build());
  add_chunk(&file, CHUNK_TAG_BONE, version_of(CHUNK_TAG_BONE), bone_payload("s1_s", "rock", 0.0f, 0.0f));
  add_chunk(&file, CHUNK_TAG_BONE, version_of(CHUNK_TAG_BONE), bone_payload("s1_dummy", "spot", 0.0f, 5.0f));
  add_chunk(&file, CHUNK_TAG_COLLISION, version_of(CHUNK_TAG_COLLISION), collision_payload("s1_wall"));
  return file;
}
