// Writes "MDL " payloads for the mesh tests, from the payload's layout:
// a 28-word header, material entries at 112, then the name, the index
// streams and the pools. The pools come last, texture coordinates at the
// very end, so that cutting any byte off a mesh whose last coordinate is
// used breaks it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "assets/package_builder.h"

struct MdlMaterial {
  std::string texture;  // "" = untextured
  uint32_t words[3];
};

struct MdlBuilder {
  uint32_t triangles = 0;
  std::string name = "mesh";
  std::vector<float> positions, normals, coords;  // 3, 3, 2 per entry
  std::vector<uint32_t> colours;
  std::vector<std::array<uint8_t, 20>> skin;
  // Per corner; an empty stream is left out.
  std::vector<uint16_t> position_index, normal_index, coord_index, skin_index, colour_index;
  uint32_t bone_count = 0;
  uint32_t skinned = 0;
  std::vector<std::string> bone_names;
  std::vector<std::array<float, 16>> bone_matrices;
  std::vector<MdlMaterial> materials;
  float box[6] = {};     // min x, max x, min y, max y, min z, max z
  float sphere[5] = {};  // centre x, y, z, fourth value, radius

  Blob build() const {
    Blob b;
    for (int i = 0; i < 28; ++i) b.u32(0);
    for (const MdlMaterial& m : materials) {
      b.u32(0);
      for (uint32_t w : m.words) b.u32(w);
    }
    b.set(0, triangles);
    b.set(12 * 4, bone_count);
    b.set(13 * 4, skinned);
    for (int i = 0; i < 6; ++i) b.set(uint32_t(16 + i) * 4, bits(box[i]));
    for (int i = 0; i < 5; ++i) b.set(uint32_t(22 + i) * 4, bits(sphere[i]));
    b.set(27 * 4, uint32_t(materials.size()));
    b.set(4, b.str(name.c_str()));
    for (size_t i = 0; i < materials.size(); ++i)
      if (!materials[i].texture.empty()) b.set(uint32_t(112 + 16 * i), b.str(materials[i].texture.c_str()));
    if (!bone_names.empty()) {
      std::vector<uint32_t> at;
      for (const std::string& n : bone_names) at.push_back(b.str(n.c_str()));
      b.set(14 * 4, b.size());
      for (uint32_t a : at) b.u32(a);
      b.set(15 * 4, b.size());
      for (const auto& m : bone_matrices)
        for (float f : m) b.f32(f);
    }
    stream(&b, 7, position_index);
    stream(&b, 8, normal_index);
    stream(&b, 9, coord_index);
    stream(&b, 10, skin_index);
    stream(&b, 11, colour_index);
    if (!skin.empty()) {
      b.set(5 * 4, b.size());
      for (const auto& r : skin) b.bytes.insert(b.bytes.end(), r.begin(), r.end());
      while (b.size() % 4) b.bytes.push_back(0);
    }
    pool(&b, 6, colours);
    pool(&b, 2, positions);
    pool(&b, 3, normals);
    pool(&b, 4, coords);
    return b;
  }

  static uint32_t bits(float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    return v;
  }
  static void stream(Blob* b, uint32_t word, const std::vector<uint16_t>& s) {
    if (s.empty()) return;
    b->set(word * 4, b->size());
    for (uint16_t v : s) {
      b->bytes.push_back(uint8_t(v));
      b->bytes.push_back(uint8_t(v >> 8));
    }
    while (b->size() % 4) b->bytes.push_back(0);
  }
  template <typename T>
  static void pool(Blob* b, uint32_t word, const std::vector<T>& s) {
    if (s.empty()) return;
    b->set(word * 4, b->size());
    for (T v : s) {
      uint32_t w;
      std::memcpy(&w, &v, 4);
      b->u32(w);
    }
  }
};

// A cube of 8 corner positions, 6 face normals and four texture coordinates
// per face; each face is two triangles (0, 1, 2) and (0, 2, 3) of its own
// corners.
inline MdlBuilder mdl_cube() {
  MdlBuilder m;
  m.triangles = 12;
  for (int i = 0; i < 8; ++i) m.positions.insert(m.positions.end(), {float(i & 1), float((i >> 1) & 1), float(i >> 2)});
  const float n[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
  for (const auto& v : n) m.normals.insert(m.normals.end(), {v[0], v[1], v[2]});
  const uint16_t faces[6][4] = {{0, 2, 6, 4}, {1, 5, 7, 3}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 1, 3, 2}, {4, 6, 7, 5}};
  for (uint16_t f = 0; f < 6; ++f) {
    for (int k = 0; k < 4; ++k) m.coords.insert(m.coords.end(), {float(k & 1), float(k >> 1)});
    for (int c : {0, 1, 2, 0, 2, 3}) {
      m.position_index.push_back(faces[f][c]);
      m.normal_index.push_back(f);
      m.coord_index.push_back(uint16_t(f * 4 + c));
    }
  }
  m.materials.push_back({"wood.png", {1, 2, 3}});
  return m;
}
