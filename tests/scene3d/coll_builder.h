// Builds collision-mesh payloads in memory: cells of triangles, shared
// triangles with their cell lists, and node levels over the cells, with the
// boxes and bounding spheres computed from what they hold.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "assets/package_builder.h"
#include "math/vec.h"

struct CollTri {
  Vec3 a, b, c;
  uint32_t attribute;
};

struct CollNode {
  std::vector<uint32_t> children;
};

struct CollBox {
  Vec3 lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
  void add(const Vec3& p) {
    lo = Vec3{std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = Vec3{std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  void add(const CollBox& b) {
    if (b.lo.x <= b.hi.x) {
      add(b.lo);
      add(b.hi);
    }
  }
  bool empty() const { return lo.x > hi.x; }
  Vec3 centre() const { return empty() ? Vec3{} : Vec3{(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2}; }
  Vec3 half() const { return empty() ? Vec3{} : Vec3{(hi.x - lo.x) / 2, (hi.y - lo.y) / 2, (hi.z - lo.z) / 2}; }
  // A hair larger than the half diagonal, as exporters pad theirs, so that
  // rounding never culls a point on a corner.
  float radius() const {
    const Vec3 h = half();
    return std::sqrt(h.x * h.x + h.y * h.y + h.z * h.z) * 1.0001f + 1e-6f;
  }
};

// The normal the searches expect: the inside test takes p - a against b - a,
// so the front of (a, b, c) faces along (c - a) x (b - a).
inline Vec3 coll_normal(const CollTri& t) {
  Vec3 ab, ac, n;
  vec3_sub(&ab, &t.b, &t.a);
  vec3_sub(&ac, &t.c, &t.a);
  vec3_cross(&n, &ac, &ab);
  return *vec3_normalize(&n, &n);
}

struct CollBuilder {
  std::vector<std::vector<CollTri>> cells;
  std::vector<std::pair<CollTri, std::vector<uint32_t>>> shared;
  // Top level first; the children of the last level are cells.
  std::vector<std::vector<CollNode>> levels;
  // Mark the last level as the end of the tree.
  bool end_mark = true;

  static CollBox tri_box(const CollTri& t) {
    CollBox b;
    b.add(t.a);
    b.add(t.b);
    b.add(t.c);
    return b;
  }

  static void put_volume(Blob* out, const CollBox& box) {
    const Vec3 c = box.centre(), h = box.half();
    for (float f : {c.x, c.y, c.z, h.x, h.y, h.z, c.x, c.y, c.z, box.radius()}) out->f32(f);
  }

  static void put_triangle(Blob* out, const CollTri& t) {
    const Vec3 n = coll_normal(t);
    const CollBox box = tri_box(t);
    const Vec3 c = box.centre();
    for (float f : {t.a.x, t.a.y, t.a.z, t.b.x, t.b.y, t.b.z, t.c.x, t.c.y, t.c.z, n.x, n.y, n.z, c.x, c.y, c.z,
                    box.radius(), 0.0f}) {
      out->f32(f);
    }
    out->u32(t.attribute);
  }

  Blob build(const char* name) const {
    Blob b;
    for (int i = 0; i < 22; ++i) b.u32(0);
    b.set(0, b.str(name));
    const uint32_t n = static_cast<uint32_t>(cells.size());
    b.set(4, n);
    b.set(8, n);
    b.set(12, 1);
    b.set(16, 1);
    std::vector<CollBox> cell_boxes(n);
    CollBox all;
    for (uint32_t i = 0; i < n; ++i) {
      for (const CollTri& t : cells[i]) cell_boxes[i].add(tri_box(t));
      all.add(cell_boxes[i]);
    }
    for (const auto& s : shared) all.add(tri_box(s.first));
    const Vec3 c = all.centre();
    b.set(44, bits(c.x));
    b.set(48, bits(c.y));
    b.set(52, bits(c.z));
    b.set(60, bits(all.radius()));
    const uint32_t cell_at = b.size();
    b.set(64, cell_at);
    for (uint32_t i = 0; i < n; ++i) {
      b.u32(static_cast<uint32_t>(cells[i].size()));
      b.u32(0);
      put_volume(&b, cell_boxes[i]);
    }
    for (uint32_t i = 0; i < n; ++i) {
      b.set(cell_at + 48 * i + 4, b.size());
      for (const CollTri& t : cells[i]) put_triangle(&b, t);
    }
    const uint32_t shared_at = b.size();
    b.set(72, shared_at);
    b.set(76, static_cast<uint32_t>(shared.size()));
    for (const auto& s : shared) {
      b.u32(static_cast<uint32_t>(s.second.size()));
      put_triangle(&b, s.first);
      b.u32(0);  // the list's offset, filled below
    }
    for (size_t i = 0; i < shared.size(); ++i) {
      b.set(static_cast<uint32_t>(shared_at + 80 * i + 76), b.size());
      for (uint32_t cell : shared[i].second) b.u32(cell);
    }
    // Node boxes bottom-up.
    std::vector<std::vector<CollBox>> boxes(levels.size());
    for (size_t l = levels.size(); l-- > 0;) {
      for (const CollNode& node : levels[l]) {
        CollBox box;
        for (uint32_t child : node.children) {
          if (l + 1 == levels.size()) {
            if (child < n) box.add(cell_boxes[child]);
          } else if (child < boxes[l + 1].size()) {
            box.add(boxes[l + 1][child]);
          }
        }
        boxes[l].push_back(box);
      }
    }
    const uint32_t level_at = b.size();
    b.set(80, level_at);
    b.set(84, static_cast<uint32_t>(levels.size()));
    for (size_t l = 0; l < levels.size(); ++l) {
      b.u32(static_cast<uint32_t>(levels[l].size()));
      for (int w = 1; w < 7; ++w) b.u32(0);
      if (end_mark && l + 1 == levels.size()) b.set(static_cast<uint32_t>(level_at + 28 * l + 16), 0xFFFFFFFFu);
    }
    for (size_t l = 0; l < levels.size(); ++l) {
      b.set(static_cast<uint32_t>(level_at + 28 * l + 24), b.size());
      const size_t stride = levels[l].empty() ? 0 : levels[l][0].children.size();
      for (size_t k = 0; k < levels[l].size(); ++k) {
        const CollNode& node = levels[l][k];
        b.u32(static_cast<uint32_t>(node.children.size()));
        put_volume(&b, boxes[l][k]);
        for (size_t c2 = 0; c2 < stride; ++c2) b.u32(c2 < node.children.size() ? node.children[c2] : 0);
      }
    }
    return b;
  }

  static uint32_t bits(float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    return v;
  }
};

// A unit-square floor cell at y, from (x, z) to (x + size, z + size), facing
// up, as two triangles sharing the diagonal.
inline std::vector<CollTri> floor_cell(float x, float z, float y, float size, uint32_t attribute) {
  const Vec3 p00{x, y, z}, p10{x + size, y, z}, p01{x, y, z + size}, p11{x + size, y, z + size};
  return {CollTri{p00, p10, p11, attribute}, CollTri{p00, p11, p01, attribute}};
}
