// Builds chunk payloads and whole packages in memory for the loader tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "assets/package_chunks.h"

struct Blob {
  std::vector<uint8_t> bytes;

  uint32_t size() const { return static_cast<uint32_t>(bytes.size()); }
  uint32_t u32(uint32_t v) {
    const uint32_t at = size();
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return at;
  }
  uint32_t f32(float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    return u32(v);
  }
  // A zero-terminated string, padded to a 4-byte boundary.
  uint32_t str(const char* s) {
    const uint32_t at = size();
    for (const char* c = s; *c; ++c) bytes.push_back(static_cast<uint8_t>(*c));
    bytes.push_back(0);
    while (bytes.size() % 4) bytes.push_back(0);
    return at;
  }
  void set(uint32_t at, uint32_t v) { std::memcpy(bytes.data() + at, &v, 4); }
  PayloadView view() const { return PayloadView{bytes.data(), bytes.size()}; }
};

// declared_size, when not negative, is written in place of the payload's size.
inline void add_chunk(std::vector<uint8_t>* file, uint32_t tag, uint32_t version, const Blob& payload,
                      int64_t declared_size = -1) {
  Blob h;
  h.u32(tag);
  h.u32(version);
  h.u32(declared_size < 0 ? payload.size() : static_cast<uint32_t>(declared_size));
  file->insert(file->end(), h.bytes.begin(), h.bytes.end());
  file->insert(file->end(), payload.bytes.begin(), payload.bytes.end());
}

// The version each tag must carry: 2.0 for "MDL " and "ANIM", 1.0 for the rest.
inline uint32_t version_of(uint32_t tag) {
  return tag == 0x204C444Du || tag == 0x4D494E41u ? 0x02000000u : 0x01000000u;
}

// Matrix, node, push, matrix, node, pop, end: a root with one child.
inline Blob bone_payload(const char* root, const char* child, float root_x = 1.0f, float child_x = 2.0f) {
  Blob b;
  auto matrix = [&](float x) {
    b.u32(2);
    for (int i = 0; i < 16; ++i) b.f32(i % 5 == 0 ? 1.0f : (i == 12 ? x : 0.0f));
  };
  matrix(root_x);
  b.u32(1);
  const uint32_t root_at = b.u32(0);
  b.u32(0);
  b.u32(3);
  matrix(child_x);
  b.u32(1);
  const uint32_t child_at = b.u32(0);
  b.u32(0);
  b.u32(4);
  b.u32(5);
  b.set(root_at, b.str(root));
  b.set(child_at, b.str(child));
  return b;
}

// One track of keys 64-byte keys; frames is the animation's length.
inline Blob animation_payload(const char* name, const char* track, uint32_t keys, uint32_t frames) {
  Blob b;
  b.u32(1);
  b.u32(frames);
  const uint32_t name_at = b.u32(0);
  const uint32_t table_at = b.u32(0);
  const uint32_t extra_at = b.u32(0);
  b.set(name_at, b.str(name));
  const uint32_t table = b.u32(0);
  b.set(table_at, table);
  b.set(extra_at, table);
  const uint32_t t = b.u32(0);
  b.set(table, t);
  b.u32(0);
  b.u32(keys);
  for (uint32_t k = 0; k < keys * 16; ++k) b.f32(static_cast<float>(k));
  b.set(t, b.str(track));
  return b;
}

// A collision header for a cells x 1 x 1 grid and its empty 48-byte cells;
// the offset of the first cell.
inline uint32_t collision_grid(Blob* b, const char* name, uint32_t cells) {
  for (int i = 0; i < 22; ++i) b->u32(0);
  b->set(0, b->str(name));
  b->set(4, cells);
  b->set(8, cells);
  b->set(12, 1);
  b->set(16, 1);
  const uint32_t first = b->size();
  for (uint32_t i = 0; i < cells * 12; ++i) b->u32(0);
  b->set(64, first);
  return first;
}

// A 1x1x1 grid whose one cell holds one triangle (0,0,0) (3,0,0) (0,3,0).
inline Blob collision_payload(const char* name) {
  Blob b;
  const uint32_t cell = collision_grid(&b, name, 1);
  b.set(cell, 1);
  const uint32_t tri = b.size();
  const float f[18] = {0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 1, 7, 8, 9, 0.5f, 0, 0};
  for (float x : f) b.f32(x);
  b.set(cell + 4, tri);
  return b;
}

// Spheres (r 1 at (3, 4, 0)) and (r 2 at the origin).
inline Blob sphere_payload(const char* name) {
  Blob b;
  const uint32_t name_at = b.u32(0);
  const uint32_t table_at = b.u32(0);
  b.u32(2);
  b.set(table_at, b.size());
  for (float x : {1.0f, 3.0f, 4.0f, 0.0f, 2.0f, 0.0f, 0.0f, 0.0f}) b.f32(x);
  b.set(name_at, b.str(name));
  return b;
}

inline Blob camera_payload(const char* name, uint32_t keys) {
  Blob b;
  const uint32_t name_at = b.u32(0);
  const uint32_t keys_at = b.u32(0);
  b.u32(keys);
  b.u32(0xABCD);
  b.f32(1.5f);
  b.f32(-2.5f);
  b.set(keys_at, b.size());
  for (uint32_t k = 0; k < keys * 4; ++k) b.f32(static_cast<float>(k));
  b.set(name_at, b.str(name));
  return b;
}

// Two crops of texture "sheet": "a" at (0, 0.5, 0.5, 0.5) and "b".
inline Blob crop_payload() {
  Blob b;
  b.u32(2);
  uint32_t entries[2];
  for (uint32_t& e : entries) {
    e = b.size();
    for (int i = 0; i < 8; ++i) b.u32(0);
  }
  const float f[2][4] = {{0.0f, 0.5f, 0.5f, 0.5f}, {0.5f, 0.0f, 0.25f, 0.25f}};
  const char* names[2] = {"a", "b"};
  const uint32_t texture = b.str("sheet.png");
  for (int i = 0; i < 2; ++i) {
    b.set(entries[i], b.str(names[i]));
    b.set(entries[i] + 4, texture);
    for (int k = 0; k < 4; ++k) {
      uint32_t v;
      std::memcpy(&v, &f[i][k], 4);
      b.set(entries[i] + 16 + 4 * k, v);
    }
  }
  return b;
}

// Name and image offsets over bytes that are no picture.
inline Blob texture_payload(const char* name) {
  Blob b;
  const uint32_t name_at = b.u32(0);
  const uint32_t data_at = b.u32(0);
  b.u32(8);
  b.set(data_at, b.size());
  b.u32(0x12345678);
  b.u32(0x9ABCDEF0);
  b.set(name_at, b.str(name));
  return b;
}
