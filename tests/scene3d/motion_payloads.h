// Bone-tree and animation payloads of the motion tests, written word by
// word: chains of nodes with their rest transforms, and animations whose
// keys a function of the frame gives.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "assets/model_records.h"
#include "assets/package_builder.h"
#include "math/mat4.h"

// A matrix as 16 words.
inline void put_mat(Blob* b, const Mat4& m) {
  for (float f : m.m) b->f32(f);
}

inline Mat4 translation(float x, float y, float z) {
  Mat4 m;
  const Vec3 p{x, y, z};
  return *mat4_translation(&m, &p);
}

inline Vec3 pos(const Mat4& m) { return Vec3{m.m[12], m.m[13], m.m[14]}; }
inline Vec3 row(const Mat4& m, int r) { return Vec3{m.m[4 * r], m.m[4 * r + 1], m.m[4 * r + 2]}; }

// A quarter turn about z (x turns to y) or about y (x turns to -z, z to x),
// then moved.
inline Mat4 quarter_z(float x = 0, float y = 0, float z = 0) {
  Mat4 m = translation(x, y, z);
  m.m[0] = 0;
  m.m[1] = 1;
  m.m[4] = -1;
  m.m[5] = 0;
  return m;
}
inline Mat4 quarter_y(float x = 0, float y = 0, float z = 0) {
  Mat4 m = translation(x, y, z);
  m.m[0] = 0;
  m.m[2] = -1;
  m.m[8] = 1;
  m.m[10] = 0;
  return m;
}

// A chain of nodes, each the child of the one before and at rest_child from
// it (the first at rest_first).
inline Blob chain_tree(const std::vector<std::string>& names, Vec3 rest_first = {0, 0, 0},
                       Vec3 rest_child = {1, 0, 0}) {
  Blob w;
  std::vector<std::pair<uint32_t, std::string>> fix;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) w.u32(BONE_OP_PUSH);
    w.u32(BONE_OP_MATRIX);
    const Vec3& rest = i == 0 ? rest_first : rest_child;
    put_mat(&w, translation(rest.x, rest.y, rest.z));
    w.u32(BONE_OP_NODE);
    fix.emplace_back(w.u32(0), names[i]);
    w.u32(0);
  }
  for (size_t i = 1; i < names.size(); ++i) w.u32(BONE_OP_POP);
  w.u32(BONE_OP_END);
  for (auto& [at, name] : fix) w.set(at, w.str(name.c_str()));
  return w;
}

using KeyFn = std::function<Mat4(uint32_t frame)>;
struct Track {
  std::string name;
  KeyFn key;
};

inline Blob animation(const std::string& name, uint32_t frames, const std::vector<Track>& tracks) {
  Blob w;
  w.u32(static_cast<uint32_t>(tracks.size()));
  w.u32(frames);
  const uint32_t name_at = w.u32(0), table_at = w.u32(0), extra_at = w.u32(0);
  w.set(name_at, w.str(name.c_str()));
  const uint32_t table = w.size();
  for (size_t i = 0; i < tracks.size(); ++i) w.u32(0);
  w.set(table_at, table);
  w.set(extra_at, table);
  for (size_t i = 0; i < tracks.size(); ++i) {
    const uint32_t t = w.size();
    w.set(table + 4 * static_cast<uint32_t>(i), t);
    const uint32_t track_name = w.u32(0);
    w.u32(0);
    w.u32(frames);
    for (uint32_t f = 0; f < frames; ++f) put_mat(&w, tracks[i].key(f));
    w.set(track_name, w.str(tracks[i].name.c_str()));
  }
  return w;
}

inline KeyFn move_x(float per_frame) {
  return [per_frame](uint32_t f) { return translation(per_frame * static_cast<float>(f), 0, 0); };
}
